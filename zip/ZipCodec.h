#pragma once
// Internals of the zip engine shared by its in-memory and streamed paths:
// buffered archive input, inflate and deflate, finding where deferred member
// data end, and the engine's texts. Not for callers outside zip/.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Exception.h"
#include "Streams.h"
#include "Text.h"
#include "ZipRecords.h"

extern const char kZlibErrorText[];
extern const char kCrcErrorText[];
extern const char kEncryptedText[];
extern const char kMethodText[];
extern const char kStoredDescriptorText[];
extern const char kCutHeaderText[];
extern const char kDamagedDescriptorText[];

// The chunk in which archives are read and data are inflated and deflated.
constexpr size_t kChunk = 256 * 1024;

// Reads an archive through a buffer, so that the word-by-word walk does not
// cost one system call per word. Reads past the end deliver what is left; a
// string is never longer than what the stream still holds, whatever length a
// header claims.
class TArchiveReader {
 public:
  explicit TArchiveReader(TStream& stream);

  int64_t Position() const { return FStreamPos - static_cast<int64_t>(FLength - FOffset); }
  int64_t Size() const { return FSize; }
  int64_t Remaining() const { return FSize - Position(); }

  // Copies up to count bytes; returns the count delivered.
  size_t Read(void* buffer, size_t count);
  // A 4-byte little-endian word; the bytes a short read leaves out are zero.
  uint32_t ReadWord();
  // count bytes, or fewer when the stream ends first.
  std::string ReadString(uint64_t count);
  void SeekTo(int64_t position);
  // Reads up to count bytes at position straight from the stream, leaving the
  // buffer and the position as they were: for a few bytes here and there.
  size_t ReadAt(int64_t position, void* buffer, size_t count);
  // Leaves the stream at the position reached by the walk.
  void Finish();

 private:
  bool Fill();
  void EndHere() { FSize = Position(); }

  TStream& FStream;
  int64_t FStreamPos;  // stream position after the buffered bytes
  int64_t FSize;
  std::vector<char> FBuffer;
  size_t FOffset = 0;
  size_t FLength = 0;
};

// Receives data as they come out of a member, chunk by chunk.
using TDataSink = std::function<void(const uint8_t* data, size_t length)>;

// What a pass over a member's data found.
struct TDataExtent {
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint32_t CRC32 = 0;
};

enum class TInflateEnd {
  Complete,  // the deflate stream ended
  Damaged,   // the data are not valid deflate data
  CutShort,  // the input ended first
  TooLong,   // more than OutputLimit bytes came out (the first OutputLimit were passed on)
};

// Inflates raw deflate data from the reader's position, at most InputLimit
// compressed bytes, passing the output to Sink (may be empty) and counting it.
// The reader stands right after the deflate stream when it is Complete.
TInflateEnd InflateFrom(TArchiveReader& reader, uint64_t InputLimit, uint64_t OutputLimit, const TDataSink& Sink,
                        TDataExtent& extent);

// Inflates whole raw deflate streams held in memory (the fast path for members
// of known, bounded size), reusing its decompressor and buffers from one
// member to the next.
class TWholeInflater {
 public:
  TWholeInflater();
  ~TWholeInflater();
  TWholeInflater(const TWholeInflater&) = delete;
  TWholeInflater& operator=(const TWholeInflater&) = delete;
  // A buffer of at least length bytes for the compressed data.
  uint8_t* Input(size_t length);
  // Inflates the first inLength bytes of Input() into exactly outLength bytes
  // at Output(). Returns Complete, Damaged, CutShort (fewer bytes came out)
  // or TooLong.
  TInflateEnd Inflate(size_t inLength, size_t outLength);
  const uint8_t* Output() const { return FOut.get(); }

 private:
  // The buffers only grow, so a run of members costs no allocations; they are
  // never cleared, since they are always written before they are read.
  static void Grow(std::unique_ptr<uint8_t[]>& buffer, size_t& size, size_t wanted);

  void* FDecompressor;  // owned
  std::unique_ptr<uint8_t[]> FIn;
  std::unique_ptr<uint8_t[]> FOut;
  size_t FInSize = 0;
  size_t FOutSize = 0;
};

// Deflates a whole buffer into raw deflate data, as the zip writer stores it:
// with libdeflate at level 6, or with zlib at its default level when Zlib is
// set (the stream TZipFile has always written). Raises ECompressionError.
void DeflateWhole(const uint8_t* in, size_t length, std::string& out, bool Zlib);

// A zlib deflate stream for members too large to hold: feed it chunk by chunk.
class TStreamDeflater {
 public:
  TStreamDeflater();
  ~TStreamDeflater();
  TStreamDeflater(const TStreamDeflater&) = delete;
  TStreamDeflater& operator=(const TStreamDeflater&) = delete;
  // Compresses a chunk (Last: the final one) and passes the output to Sink.
  void Deflate(const uint8_t* in, size_t length, bool Last, const TDataSink& Sink);

 private:
  struct TState;
  TState* FState;  // owned
  std::vector<uint8_t> FOut;
};

// For a member whose sizes follow its data in a descriptor, from the reader's
// position: finds the end of the data and reads the descriptor, filling
// member's CRC and sizes and leaving the reader after it. Deflated data are
// delimited by their deflate stream (and passed to Sink on the way); anything
// else (stored, encrypted, another method) by the first signed descriptor that
// fits, whose data are then read again for the Sink by the caller. Raises
// EZipFileError naming the member when the end cannot be found. Returns what
// the data themselves showed (for deflated data: their true CRC and sizes).
TDataExtent ReadDeferredData(TArchiveReader& reader, TZipEntry& member, const TDataSink& Sink);

// The CRC-32 check of a member's extracted data: raises EZipFileCRCError.
void CheckMemberData(const TZipEntry& member, const TDataExtent& extent);
