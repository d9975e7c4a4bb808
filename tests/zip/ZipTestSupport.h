#pragma once
// Helpers for the zip engine's tests: an independent CRC-32, archives assembled
// byte by byte, and scratch folders on disk.

#include <cstdint>
#include <string>
#include <vector>

#include "ScratchDir.h"
#include "Streams.h"

// CRC-32 computed bit by bit, independently of the engine's table/zlib code.
uint32_t ReferenceCrc32(const std::string& data);

// Raw deflate of data (zlib, default level), for building archives by hand.
std::string RawDeflate(const std::string& data);

// Inflates raw deflate data (zlib); raises std::runtime_error when they are
// not a complete deflate stream.
std::string RawInflate(const std::string& data);

// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t n, uint32_t seed);

// Little-endian field writers for hand-made archives.
void Put16(std::string& out, uint16_t v);
void Put32(std::string& out, uint32_t v);

// One member of a hand-made archive. Unless told otherwise the header carries
// the true sizes and CRC of Content, compressed by Method (0 stored, 8 deflate).
struct RawMember {
  RawMember(std::string name, std::string content, uint16_t method = 8, uint16_t flags = 0)
      : Name(std::move(name)), Content(std::move(content)), Method(method), Flags(flags) {}

  std::string Name;
  std::string Content;
  uint16_t Method = 8;
  uint16_t Flags = 0;
  std::string Extra;
  std::string Comment;
  // With flag bit 3: zeros in the local header and a data descriptor after the
  // data, with or without its signature.
  bool DescriptorSignature = true;
  // Overrides of the stored data and header values, for damaged archives.
  const std::string* DataOverride = nullptr;
  int64_t CrcOverride = -1;
  int64_t UncompressedOverride = -1;
};

// Builds a complete archive: local records, central directory, end record.
std::string BuildArchive(const std::vector<RawMember>& members, const std::string& comment = "");

// Zip bombs of the two constructions that make members share their data,
// around a kernel of KernelSize zero bytes deflated once. Full overlap:
// Entries directory entries ("0", "1", ...) all name one local header; with
// HonestFirst an ordinary member "readme.txt" ("read me\n") comes before them,
// in the file and in the directory. Quoted overlap: Members members, each
// one's deflate data quoting the next member's local header in a stored block
// and going on into that member's data; the last one's data are the kernel.
std::string FullOverlapZip(int Entries, size_t KernelSize, bool HonestFirst = false);
std::string QuotedOverlapZip(int Members, size_t KernelSize);

// A stream that accepts only Limit bytes in all; further writes are refused.
class TLimitedStream : public TMemoryStream {
 public:
  explicit TLimitedStream(int64_t limit) : Limit(limit) {}
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Limit;
};


// The path of a file among the archives that make_fixtures.py made before the
// tests, in the folder named by QUARN_ZIP_FIXTURES; "" when that is not set.
std::string FixtureFile(const std::string& name);

void WriteWholeFile(const std::string& path, const std::string& content);
std::string ReadWholeFile(const std::string& path);

// The platform's folder separator.
#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif
