#include "RarHeaders.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include <zlib.h>

#include "Exception.h"
#include "Streams.h"

namespace {
const char kMainHeaderCorrupt[] = "Main archive header is corrupt";
const char kUnexpectedEnd[] = "Unexpected end of archive";

const char kRar4Signature[] = "Rar!\x1A\x07\x00";
const char kRar5Signature[] = "Rar!\x1A\x07\x01\x00";

// Header types and flags of RAR 4.
constexpr uint8_t kRar4Main = 0x73, kRar4File = 0x74, kRar4End = 0x7B;
constexpr uint16_t kRar4LongBlock = 0x8000, kRar4LargeFile = 0x0100, kRar4EncryptedHeaders = 0x0080;
constexpr uint16_t kRar4SplitBefore = 0x0001, kRar4Version = 0x0800;
// Header types and flags of RAR 5.
constexpr uint64_t kRar5Main = 1, kRar5File = 2, kRar5Encryption = 4, kRar5End = 5;
constexpr uint64_t kRar5HasExtra = 0x01, kRar5HasData = 0x02, kRar5SplitBefore = 0x08;
constexpr uint64_t kRar5VersionRecord = 4;
constexpr uint64_t kRar5LargestHeader = 2 * 1024 * 1024;
// The smallest RAR 5 header (CRC, size, type, flags): the library reads this
// much at every header, and an archive that ends before holds one cut short.
constexpr uint64_t kRar5SmallestHeader = 7;

// Told each file header of the chain that is not continued from the volume
// before, with whether it holds an older version of a file.
using TFileSeen = std::function<void(bool OlderVersion)>;

uint32_t Crc32(const uint8_t* Data, size_t Size) {
  return static_cast<uint32_t>(crc32(0, Data, static_cast<uInt>(Size)));
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }

// Reads Size bytes at Offset; false when the file ends before.
bool ReadAt(TStream& File, uint64_t Offset, std::string& Out, size_t Size) {
  Out.resize(Size);
  File.Seek(static_cast<int64_t>(Offset), TSeekOrigin::soBeginning);
  return Size == 0 || File.Read(&Out[0], static_cast<int64_t>(Size)) == static_cast<int64_t>(Size);
}

// A RAR 5 variable-length number at At in Bytes; false when it does not end there.
bool ReadVint(const std::string& Bytes, size_t& At, uint64_t& Value) {
  Value = 0;
  for (int shift = 0; At < Bytes.size() && shift < 70; shift += 7) {
    const uint8_t b = static_cast<uint8_t>(Bytes[At++]);
    Value |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

std::string WalkRar4(TStream& File, uint64_t Size, const TFileSeen& Seen) {
  uint64_t at = 7;
  std::string block;
  for (bool first = true;; first = false) {
    if (at == Size && !first) return "";  // old archives end without an end block
    if (!ReadAt(File, at, block, 7)) return kUnexpectedEnd;
    const auto* b = reinterpret_cast<const uint8_t*>(block.data());
    const uint8_t type = b[2];
    const uint16_t flags = U16(b + 3), headSize = U16(b + 5);
    if (headSize < 7) return first ? kMainHeaderCorrupt : "";  // the library tells a broken later header
    if (!ReadAt(File, at, block, headSize)) return kUnexpectedEnd;
    b = reinterpret_cast<const uint8_t*>(block.data());
    if (first) {
      if (type != kRar4Main || static_cast<uint16_t>(Crc32(b + 2, headSize - 2u)) != U16(b)) return kMainHeaderCorrupt;
      if (flags & kRar4EncryptedHeaders) return "";
    }
    uint64_t data = 0;
    if ((flags & kRar4LongBlock) || type == kRar4File) {
      if (headSize < 11) return "";
      data = U32(b + 7);
      if (type == kRar4File && (flags & kRar4LargeFile) && headSize >= 36)
        data |= static_cast<uint64_t>(U32(b + 32)) << 32;
    }
    if (at + headSize + data > Size) return kUnexpectedEnd;
    if (type == kRar4End) return "";
    if (type == kRar4File && !(flags & kRar4SplitBefore) && Seen) Seen((flags & kRar4Version) != 0);
    at += headSize + data;
  }
}

// Whether the RAR 5 file header Head (whole, CRC first) holds a version
// record with a version other than 0 in its extra area, the last Extra bytes.
bool HoldsOlderVersion(const std::string& Head, uint64_t Extra) {
  size_t at = Head.size() - static_cast<size_t>(Extra);
  uint64_t size = 0, type = 0, flags = 0, version = 0;
  while (at < Head.size() && ReadVint(Head, at, size) && size > 0 && size <= Head.size() - at) {
    size_t field = at;
    const size_t next = at + static_cast<size_t>(size);
    if (ReadVint(Head, field, type) && type == kRar5VersionRecord && field <= next && ReadVint(Head, field, flags) &&
        ReadVint(Head, field, version) && field <= next)
      return version != 0;
    at = next;
  }
  return false;
}

std::string WalkRar5(TStream& File, uint64_t Size, const TFileSeen& Seen) {
  uint64_t at = 8;
  std::string head;
  for (bool first = true;; first = false) {
    // The CRC and the header's size (at most 3 bytes for the largest header).
    if (Size - at < kRar5SmallestHeader || !ReadAt(File, at, head, kRar5SmallestHeader)) return kUnexpectedEnd;
    size_t pos = 4;
    uint64_t headSize = 0;
    if (!ReadVint(head, pos, headSize) || headSize == 0 || headSize > kRar5LargestHeader)
      return first ? kMainHeaderCorrupt : "";
    const uint64_t whole = pos + headSize;  // the CRC, the size and the header
    if (at + whole > Size) return kUnexpectedEnd;
    if (!ReadAt(File, at, head, static_cast<size_t>(whole))) return kUnexpectedEnd;
    if (Crc32(reinterpret_cast<const uint8_t*>(head.data()) + 4, whole - 4) !=
        U32(reinterpret_cast<const uint8_t*>(head.data())))
      return first ? kMainHeaderCorrupt : "";  // the library tells a broken later header
    uint64_t type = 0, flags = 0, extra = 0, data = 0;
    if (!ReadVint(head, pos, type) || !ReadVint(head, pos, flags)) return first ? kMainHeaderCorrupt : "";
    if ((flags & kRar5HasExtra) && !ReadVint(head, pos, extra)) return first ? kMainHeaderCorrupt : "";
    if ((flags & kRar5HasData) && !ReadVint(head, pos, data)) return first ? kMainHeaderCorrupt : "";
    if (first && type != kRar5Main && type != kRar5Encryption) return kMainHeaderCorrupt;
    if (type == kRar5Encryption) return "";  // the rest is encrypted
    if (data > Size || at + whole + data > Size) return kUnexpectedEnd;
    if (type == kRar5End) return "";
    if (type == kRar5File && !(flags & kRar5SplitBefore) && Seen)
      Seen(extra < headSize && HoldsOlderVersion(head, extra));
    at += whole + data;
  }
}

// Walks the chain of headers of the archive file Path (see RarDamageOf).
std::string WalkChain(const std::string& Path, const TFileSeen& Seen) {
  try {
    TFileStream file(Path, fmOpenRead | fmShareDenyWrite);
    const uint64_t size = static_cast<uint64_t>(file.GetSize());
    std::string signature;
    if (ReadAt(file, 0, signature, 8) && std::memcmp(signature.data(), kRar5Signature, 8) == 0)
      return WalkRar5(file, size, Seen);
    if (ReadAt(file, 0, signature, 7) && std::memcmp(signature.data(), kRar4Signature, 7) == 0)
      return WalkRar4(file, size, Seen);
  } catch (const Exception&) {
    // The library says why the file cannot be read.
  }
  return "";
}
}  // namespace

std::string RarDamageOf(const std::string& Path) { return WalkChain(Path, nullptr); }

std::vector<bool> RarOlderVersions(const std::string& Path) {
  std::vector<bool> older;
  WalkChain(Path, [&older](bool Older) { older.push_back(Older); });
  return older;
}
