#include "ZipFile.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char kIndexOutOfRangeText[] = "Index out of range.";
const char kZlibErrorText[] = "Error";
const char kCrcErrorText[] = "CRC Error in \"%s\".";
const char kEncryptedText[] = "Cannot extract \"%s\": the member is encrypted.";
const char kMethodText[] = "Cannot extract \"%s\": compression method %u is not supported.";
const char kStoredDescriptorText[] =
    "Cannot read \"%s\": it is stored with its sizes after its data, and its end cannot be found.";
const char kCutHeaderText[] = "The archive ends inside the header of its member number %d.";
const char kDamagedDescriptorText[] = "Cannot read \"%s\": its compressed data are damaged or cut short.";
const char kHugeMemberText[] = "Cannot read \"%s\": members of 4 GiB or more are not supported.";
const char kTooManyMembersText[] = "Cannot save the archive: a zip archive holds at most 65535 members.";
const char kArchiveTooLargeText[] = "Cannot save the archive: a zip archive must stay below 4 GiB.";
const char kCommentTooLongText[] = "Cannot save the archive: its comment is longer than 65535 bytes.";
const char kMemberTooLargeText[] = "Cannot add \"%s\": a zip member must stay below 4 GiB.";
const char kNameTooLongText[] = "Cannot add \"%s\": the name is longer than 65535 bytes.";
const char kHeaderMismatchText[] = "Cannot save \"%s\": its header no longer matches its name or data.";

constexpr size_t kChunk = 65536;

// True when a size does not fit the 32-bit fields of the zip format.
bool Exceeds32Bits(uint64_t n) { return n > 0xFFFFFFFFu; }
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// Puts a member name (any bytes, even NUL) where the text has %s. Further
// arguments of the text are formatted afterwards with Format.
std::string WithName(const char* text, const std::string& name) {
  std::string result = text;
  const size_t at = result.find("%s");
  if (at != std::string::npos) result.replace(at, 2, name);
  return result;
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The 26 bytes VersionNeeded..ExtraFieldLength, shared in layout by the local
// and the central header.
constexpr size_t kCommonBlock = 26;

template <typename Record>
void ParseCommonBlock(const uint8_t* p, Record& r) {
  r.VersionNeeded = GetU16(p + 0);
  r.Flags = GetU16(p + 2);
  r.CompressionMethod = GetU16(p + 4);
  r.LastModDateTime = GetU32(p + 6);
  r.CRC32 = GetU32(p + 10);
  r.CompressedSize = GetU32(p + 14);
  r.UncompressedSize = GetU32(p + 18);
  r.FileNameLength = GetU16(p + 22);
  r.ExtraFieldLength = GetU16(p + 24);
}

template <typename Record>
void FormatCommonBlock(uint8_t* p, const Record& r) {
  PutU16(p + 0, r.VersionNeeded);
  PutU16(p + 2, r.Flags);
  PutU16(p + 4, r.CompressionMethod);
  PutU32(p + 6, r.LastModDateTime);
  PutU32(p + 10, r.CRC32);
  PutU32(p + 14, r.CompressedSize);
  PutU32(p + 18, r.UncompressedSize);
  PutU16(p + 22, r.FileNameLength);
  PutU16(p + 24, r.ExtraFieldLength);
}

// Reads an archive through a 64 KiB buffer, so that the word-by-word walk does
// not cost one system call per word. Reads past the end deliver what is left;
// a string is never longer than what the stream still holds, whatever length a
// header claims.
class TArchiveReader {
 public:
  explicit TArchiveReader(TStream& stream)
      : FStream(stream), FStreamPos(stream.GetPosition()), FSize(stream.GetSize()), FBuffer(kChunk) {
    if (FSize < FStreamPos) FSize = FStreamPos;
  }

  int64_t Position() const { return FStreamPos - static_cast<int64_t>(FLength - FOffset); }
  int64_t Size() const { return FSize; }
  int64_t Remaining() const { return FSize - Position(); }

  // Copies up to count bytes; returns the count delivered.
  size_t Read(void* buffer, size_t count) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
      if (FOffset == FLength) {
        // Large reads bypass the buffer.
        if (count - done >= FBuffer.size()) {
          const int64_t n = FStream.Read(out + done, static_cast<int64_t>(count - done));
          if (n <= 0) {
            EndHere();
            break;
          }
          FStreamPos += n;
          done += static_cast<size_t>(n);
          continue;
        }
        if (!Fill()) break;
      }
      const size_t n = std::min(count - done, FLength - FOffset);
      std::memcpy(out + done, FBuffer.data() + FOffset, n);
      FOffset += n;
      done += n;
    }
    return done;
  }

  // A 4-byte little-endian word; the bytes a short read leaves out are zero.
  uint32_t ReadWord() {
    uint8_t b[4] = {0, 0, 0, 0};
    Read(b, 4);
    return GetU32(b);
  }

  // count bytes, or fewer when the stream ends first.
  std::string ReadString(uint64_t count) {
    const uint64_t available = static_cast<uint64_t>(std::max<int64_t>(Remaining(), 0));
    std::string s(static_cast<size_t>(std::min(count, available)), '\0');
    if (!s.empty()) s.resize(Read(&s[0], s.size()));
    return s;
  }

  void SeekTo(int64_t position) {
    FStream.SetPosition(position);
    FStreamPos = position;
    FOffset = FLength = 0;
  }

  // Leaves the stream at the position reached by the walk.
  void Finish() { FStream.SetPosition(Position()); }

 private:
  bool Fill() {
    const int64_t n = FStream.Read(FBuffer.data(), static_cast<int64_t>(FBuffer.size()));
    if (n <= 0) {
      EndHere();
      return false;
    }
    FStreamPos += n;
    FOffset = 0;
    FLength = static_cast<size_t>(n);
    return true;
  }
  // The stream delivered nothing before its announced size: it ends here.
  void EndHere() { FSize = Position(); }

  TStream& FStream;
  int64_t FStreamPos;  // stream position after the buffered bytes
  int64_t FSize;
  std::vector<char> FBuffer;
  size_t FOffset = 0;
  size_t FLength = 0;
};

// Owns a zlib inflate state for raw deflate data.
class TInflater {
 public:
  TInflater() {
    if (inflateInit2(&FStream, -MAX_WBITS) != Z_OK) throw EDecompressionError(kZlibErrorText);
  }
  ~TInflater() { inflateEnd(&FStream); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  z_stream* operator->() { return &FStream; }
  z_stream* get() { return &FStream; }

 private:
  z_stream FStream{};
};

// Owns a zlib deflate state set up as the zip writer uses it: default level,
// 32 KiB window, memory level 8, default strategy, no zlib header or trailer.
class TDeflater {
 public:
  TDeflater() {
    if (deflateInit2(&FStream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw ECompressionError(kZlibErrorText);
  }
  ~TDeflater() { deflateEnd(&FStream); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  z_stream* operator->() { return &FStream; }
  z_stream* get() { return &FStream; }

 private:
  z_stream FStream{};
};

// What a walk over a deflate stream in the archive found.
struct TDeflateExtent {
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint32_t CRC32 = 0;
};

// Inflates from the reader's position to the end of the deflate stream,
// discarding the output, to learn where the stream ends. Returns false when the
// data are damaged or end before the stream does.
bool FindDeflateEnd(TArchiveReader& reader, TDeflateExtent& extent) {
  TInflater inflater;
  std::vector<unsigned char> in(kChunk);
  std::vector<unsigned char> out(kChunk);
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (inflater->avail_in == 0) {
      const size_t n = reader.Read(in.data(), in.size());
      if (n == 0) return false;
      inflater->next_in = in.data();
      inflater->avail_in = static_cast<uInt>(n);
    }
    inflater->next_out = out.data();
    inflater->avail_out = static_cast<uInt>(out.size());
    rc = inflate(inflater.get(), Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
    const size_t produced = out.size() - inflater->avail_out;
    extent.CRC32 = ZipCRC32(out.data(), produced, extent.CRC32);
    extent.UncompressedSize += produced;
  }
  extent.CompressedSize = inflater->total_in;
  return true;
}

// Reads the data descriptor after a member's data, with or without its leading
// signature. The form whose values agree with what the data showed wins;
// otherwise a leading signature decides. The sizes always come from the deflate
// stream itself, which is what delimited the data; the CRC comes from the
// descriptor, so a member whose data do not match it fails its CRC test.
void ReadDataDescriptor(TArchiveReader& reader, const TDeflateExtent& extent, TLocalFile& member) {
  const int64_t start = reader.Position();
  uint8_t b[16] = {0};
  reader.Read(b, sizeof b);
  const uint32_t w0 = GetU32(b), w1 = GetU32(b + 4), w2 = GetU32(b + 8), w3 = GetU32(b + 12);
  const uint32_t crc = extent.CRC32;
  const uint32_t csize = static_cast<uint32_t>(extent.CompressedSize);
  const uint32_t usize = static_cast<uint32_t>(extent.UncompressedSize);
  const bool signedMatches = w0 == kDataDescriptorSignature && w1 == crc && w2 == csize && w3 == usize;
  const bool plainMatches = w0 == crc && w1 == csize && w2 == usize;
  bool withSignature = w0 == kDataDescriptorSignature;
  if (signedMatches)
    withSignature = true;
  else if (plainMatches)
    withSignature = false;
  member.CRC32 = withSignature ? w1 : w0;
  member.CompressedSize = csize;
  member.UncompressedSize = usize;
  reader.SeekTo(start + (withSignature ? 16 : 12));
}

// What a data descriptor found after a member's data says.
struct TDescriptor {
  uint64_t Distance = 0;  // from the start of the data to the descriptor
  uint32_t CRC32 = 0;
  uint32_t UncompressedSize = 0;
};

// Looks, from the reader's position on, for a data descriptor with its
// signature whose compressed size equals its distance from here and, when
// checkCrc is set (the data are the plain bytes), whose CRC and uncompressed
// size match the data before it. The file is scanned in chunks with a small
// overlap, so nothing beyond one chunk is held. On success the reader stands
// after the descriptor; otherwise it is back where it was.
bool FindSignedDescriptor(TArchiveReader& reader, bool checkCrc, TDescriptor& found) {
  static const std::string kSignature("PK\x07\x08", 4);
  const int64_t start = reader.Position();
  std::string window;  // bytes from distance `base` on
  uint64_t base = 0;
  uint32_t crc = 0;
  uint64_t crcDone = 0;  // crc covers the bytes before this distance
  auto advanceCrc = [&](uint64_t to) {
    if (!checkCrc || to <= crcDone) return;
    crc = ZipCRC32(window.data() + (crcDone - base), static_cast<size_t>(to - crcDone), crc);
    crcDone = to;
  };
  std::vector<char> chunk(kChunk);
  for (;;) {
    const size_t n = reader.Read(chunk.data(), chunk.size());
    window.append(chunk.data(), n);
    for (size_t at = window.find(kSignature); at != std::string::npos && at + 16 <= window.size();
         at = window.find(kSignature, at + 1)) {
      const uint64_t distance = base + at;
      const auto* p = reinterpret_cast<const uint8_t*>(window.data()) + at;
      if (distance > 0xFFFFFFFFu || GetU32(p + 8) != distance) continue;
      if (checkCrc) {
        advanceCrc(distance);
        if (GetU32(p + 4) != crc || GetU32(p + 12) != distance) continue;
      }
      found.Distance = distance;
      found.CRC32 = GetU32(p + 4);
      found.UncompressedSize = GetU32(p + 12);
      reader.SeekTo(start + static_cast<int64_t>(distance) + 16);
      return true;
    }
    if (n == 0) break;
    // Keep the last 15 bytes: a descriptor may straddle two chunks.
    if (window.size() > 15) {
      const size_t drop = window.size() - 15;
      advanceCrc(base + drop);
      window.erase(0, drop);
      base += drop;
    }
  }
  reader.SeekTo(start);
  return false;
}

// A member whose local header leaves its sizes and CRC to a data descriptor
// after its data. Plain deflate data are delimited by the deflate stream
// itself; anything else (stored, encrypted, another method) by the first signed
// descriptor that fits. Such a member is kept, so that extraction can give it
// its own clear error, and the members after it are read as usual.
void ReadDeferredMember(TArchiveReader& reader, TLocalFile& member) {
  const bool encrypted = (member.Flags & kFlagEncrypted) != 0;
  if (member.CompressionMethod != kMethodDeflated || encrypted) {
    const bool plain = member.CompressionMethod == kMethodStored && !encrypted;
    const int64_t start = reader.Position();
    TDescriptor descriptor;
    if (!FindSignedDescriptor(reader, plain, descriptor)) {
      if (encrypted) throw EZipFileError(WithName(kEncryptedText, member.FileName));
      if (plain) throw EZipFileError(WithName(kStoredDescriptorText, member.FileName));
      throw EZipFileError(Format(WithName(kMethodText, member.FileName).c_str(), member.CompressionMethod));
    }
    reader.SeekTo(start);
    member.CompressedData = reader.ReadString(descriptor.Distance);
    reader.SeekTo(start + static_cast<int64_t>(descriptor.Distance) + 16);
    member.CRC32 = descriptor.CRC32;
    member.CompressedSize = static_cast<uint32_t>(descriptor.Distance);
    member.UncompressedSize = descriptor.UncompressedSize;
    return;
  }
  const int64_t start = reader.Position();
  TDeflateExtent extent;
  if (!FindDeflateEnd(reader, extent)) throw EZipFileError(WithName(kDamagedDescriptorText, member.FileName));
  if (extent.CompressedSize > 0xFFFFFFFFu || extent.UncompressedSize > 0xFFFFFFFFu)
    throw EZipFileError(WithName(kHugeMemberText, member.FileName));
  reader.SeekTo(start);
  member.CompressedData = reader.ReadString(extent.CompressedSize);
  ReadDataDescriptor(reader, extent, member);
}

// Inflates raw deflate data into at most expected bytes. The output grows with
// what comes out, so a header that lies about the size costs no memory. Returns
// false when the data end before expected bytes came out.
bool InflateMember(const std::string& data, uint32_t expected, std::string& out) {
  TInflater inflater;
  inflater->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  inflater->avail_in = static_cast<uInt>(data.size());
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() == expected) break;
      const size_t grown = std::max(out.size() * 2, kChunk);
      out.resize(std::min<size_t>(grown, expected));
    }
    inflater->next_out = reinterpret_cast<Bytef*>(&out[produced]);
    inflater->avail_out = static_cast<uInt>(out.size() - produced);
    const int rc = inflate(inflater.get(), Z_NO_FLUSH);
    produced = out.size() - inflater->avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR || (rc == Z_OK && inflater->avail_in == 0 && inflater->avail_out > 0)) {
      break;  // the input is used up
    }
    if (rc != Z_OK) throw EDecompressionError(kZlibErrorText);
  }
  out.resize(produced);
  return produced == expected;
}

}  // namespace

// ---- CRC and time ----

uint32_t ZipCRC32(const void* Data, size_t Length, uint32_t Previous) {
  auto* p = static_cast<const Bytef*>(Data);
  uLong crc = Previous;
  while (Length > 0) {
    const uInt n = static_cast<uInt>(std::min<size_t>(Length, 1u << 30));
    crc = crc32(crc, p, n);
    p += n;
    Length -= n;
  }
  return static_cast<uint32_t>(crc);
}

uint32_t ZipCRC32(const std::string& Data) { return ZipCRC32(Data.data(), Data.size()); }

uint32_t DosDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  if (Year < 1980 || Year > 2107) return 0;
  const uint32_t time = static_cast<uint32_t>(Second / 2 + Minute * 32 + Hour * 2048);
  const uint32_t date = static_cast<uint32_t>(Day + Month * 32 + (Year - 1980) * 512);
  return (date << 16) | time;
}

uint32_t DosDateTimeNow() {
#ifdef _WIN32
  SYSTEMTIME t;
  GetLocalTime(&t);
  return DosDateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
#else
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return DosDateTime(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
#endif
}

// ---- reading ----

void TZipFile::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TZipFile::LoadFromStream(TStream& Stream) {
  LocalFiles.clear();
  CentralDirectory.clear();
  EndOfCentralDirectory = TEndOfCentralDirectory();
  Comment.clear();

  TArchiveReader reader(Stream);

  // The first local header is looked for in 4-byte steps from the start.
  uint32_t word;
  for (;;) {
    word = reader.ReadWord();
    if (reader.Position() >= reader.Size()) {
      reader.Finish();
      return;
    }
    if (word == kLocalFileHeaderSignature) break;
  }

  // Local records, one after another.
  while (word == kLocalFileHeaderSignature) {
    LocalFiles.emplace_back();
    CentralDirectory.emplace_back();
    TLocalFile& member = LocalFiles.back();
    member.Signature = word;
    uint8_t block[kCommonBlock] = {0};
    const size_t got = reader.Read(block, sizeof block);
    ParseCommonBlock(block, member);
    member.FileName = reader.ReadString(member.FileNameLength);
    member.ExtraField = reader.ReadString(member.ExtraFieldLength);
    if (got < sizeof block || member.FileName.size() < member.FileNameLength ||
        member.ExtraField.size() < member.ExtraFieldLength) {
      // The file ends inside this header: a damaged archive, not a member with
      // a cut-off name (which would turn into a wrong, empty file).
      LocalFiles.pop_back();
      CentralDirectory.pop_back();
      throw EZipFileError(Format(kCutHeaderText, Count() + 1));
    }
    if (member.Flags & kFlagDataDescriptor) {
      try {
        ReadDeferredMember(reader, member);
      } catch (...) {
        LocalFiles.pop_back();
        CentralDirectory.pop_back();
        throw;
      }
    } else {
      member.CompressedData = reader.ReadString(member.CompressedSize);
    }
    word = reader.ReadWord();
  }

  // Central records, matched to the members by position. Headers beyond the
  // number of members are read past and dropped.
  if (word != kCentralFileHeaderSignature) word = reader.ReadWord();
  size_t k = 0;
  while (word == kCentralFileHeaderSignature) {
    TFileHeader header;
    header.Signature = word;
    uint8_t fixed[42] = {0};
    reader.Read(fixed, sizeof fixed);
    header.VersionMadeBy = GetU16(fixed);
    ParseCommonBlock(fixed + 2, header);
    header.FileCommentLength = GetU16(fixed + 28);
    header.DiskNumberStart = GetU16(fixed + 30);
    header.InternalAttributes = GetU16(fixed + 32);
    header.ExternalAttributes = GetU32(fixed + 34);
    header.LocalHeaderOffset = GetU32(fixed + 38);
    header.FileName = reader.ReadString(header.FileNameLength);
    header.ExtraField = reader.ReadString(header.ExtraFieldLength);
    header.FileComment = reader.ReadString(header.FileCommentLength);
    if (k < CentralDirectory.size()) CentralDirectory[k] = std::move(header);
    ++k;
    word = reader.ReadWord();
  }

  // The end record, if there is one.
  if (word == kEndOfCentralDirSignature) {
    uint8_t fixed[18] = {0};
    reader.Read(fixed, sizeof fixed);
    TEndOfCentralDirectory& end = EndOfCentralDirectory;
    end.Signature = word;
    end.DiskNumber = GetU16(fixed);
    end.CentralDirStartDisk = GetU16(fixed + 2);
    end.EntriesOnDisk = GetU16(fixed + 4);
    end.TotalEntries = GetU16(fixed + 6);
    end.CentralDirSize = GetU32(fixed + 8);
    end.CentralDirOffset = GetU32(fixed + 12);
    end.CommentLength = GetU16(fixed + 16);
    Comment = reader.ReadString(end.CommentLength);
  }
  reader.Finish();
}

std::string TZipFile::GetUncompressed(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw Exception(kIndexOutOfRangeText);
  const TLocalFile& member = LocalFiles[Index];
  std::string result;
  if (member.UncompressedSize > 0) {
    if (member.Flags & kFlagEncrypted) throw EZipFileError(WithName(kEncryptedText, member.FileName));
    bool complete = false;
    if (member.CompressionMethod == kMethodDeflated) {
      complete = InflateMember(member.CompressedData, member.UncompressedSize, result);
    } else if (member.CompressionMethod == kMethodStored) {
      complete = member.CompressedData.size() >= member.UncompressedSize;
      if (complete) result.assign(member.CompressedData, 0, member.UncompressedSize);
    } else {
      throw EZipFileError(Format(WithName(kMethodText, member.FileName).c_str(), member.CompressionMethod));
    }
    // Data that end early are as wrong as data with the wrong CRC.
    if (!complete) throw EZipFileCRCError(WithName(kCrcErrorText, member.FileName));
  }
  if (ZipCRC32(result) != member.CRC32) throw EZipFileCRCError(WithName(kCrcErrorText, member.FileName));
  return result;
}

// ---- building ----

void TZipFile::AddFile(const std::string& Name, uint32_t Attributes) {
  if (Name.size() > 0xFFFF) throw EZipFileError(WithName(kNameTooLongText, Name));
  TLocalFile member;
  member.Signature = kLocalFileHeaderSignature;
  member.VersionNeeded = 20;
  member.Flags = 0;
  member.CompressionMethod = kMethodDeflated;
  member.LastModDateTime = DosDateTimeNow();
  member.FileName = Name;
  member.FileNameLength = static_cast<uint16_t>(Name.size());

  TFileHeader header;
  header.Signature = kCentralFileHeaderSignature;
  header.VersionMadeBy = 20;
  header.VersionNeeded = member.VersionNeeded;
  header.Flags = member.Flags;
  header.CompressionMethod = member.CompressionMethod;
  header.LastModDateTime = member.LastModDateTime;
  header.FileNameLength = member.FileNameLength;
  header.ExternalAttributes = Attributes;
  header.FileName = Name;

  LocalFiles.push_back(std::move(member));
  CentralDirectory.push_back(std::move(header));
}

void TZipFile::SetUncompressed(int32_t Index, const std::string& Data) {
  if (Index < 0 || Index >= Count()) throw Exception(kIndexOutOfRangeText);
  TLocalFile& member = LocalFiles[Index];
  if (Exceeds32Bits(Data.size())) throw EZipFileError(WithName(kMemberTooLargeText, member.FileName));

  std::string compressed;
  {
    TDeflater deflater;
    std::vector<unsigned char> buffer(kChunk);
    const auto* next = reinterpret_cast<const Bytef*>(Data.data());
    size_t left = Data.size();
    int rc = Z_OK;
    for (;;) {
      if (deflater->avail_in == 0 && left > 0) {
        const uInt n = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
        deflater->next_in = const_cast<Bytef*>(next);
        deflater->avail_in = n;
        next += n;
        left -= n;
      }
      const int flush = (left == 0) ? Z_FINISH : Z_NO_FLUSH;
      deflater->next_out = buffer.data();
      deflater->avail_out = static_cast<uInt>(buffer.size());
      rc = deflate(deflater.get(), flush);
      if (rc < 0 && rc != Z_BUF_ERROR) throw ECompressionError(kZlibErrorText);
      compressed.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - deflater->avail_out);
      if (rc == Z_STREAM_END) break;
    }
  }
  if (Exceeds32Bits(compressed.size())) throw EZipFileError(WithName(kMemberTooLargeText, member.FileName));

  member.Signature = kLocalFileHeaderSignature;
  member.VersionNeeded = 20;
  member.Flags = 0;
  member.CompressionMethod = kMethodDeflated;
  member.LastModDateTime = DosDateTimeNow();
  member.CRC32 = ZipCRC32(Data);
  member.CompressedData = std::move(compressed);
  member.CompressedSize = static_cast<uint32_t>(member.CompressedData.size());
  member.UncompressedSize = static_cast<uint32_t>(Data.size());
  member.FileNameLength = static_cast<uint16_t>(member.FileName.size());
  member.ExtraFieldLength = static_cast<uint16_t>(member.ExtraField.size());

  TFileHeader& header = CentralDirectory[Index];
  const uint32_t attributes = header.ExternalAttributes;
  header = TFileHeader();
  header.Signature = kCentralFileHeaderSignature;
  header.VersionMadeBy = 20;
  uint8_t block[kCommonBlock];
  FormatCommonBlock(block, member);
  ParseCommonBlock(block, header);
  header.ExternalAttributes = attributes;
  header.FileName = member.FileName;
  header.ExtraField = member.ExtraField;
}

// ---- writing ----

void TZipFile::SaveToStream(TStream& Stream) {
  // Everything is checked before the first byte is written, so a model the zip
  // format cannot hold leaves the stream untouched.
  if (LocalFiles.size() > 0xFFFF) throw EZipFileError(kTooManyMembersText);
  if (Comment.size() > 0xFFFF) throw EZipFileError(kCommentTooLongText);
  const uint64_t start = static_cast<uint64_t>(Stream.GetPosition());
  uint64_t position = start;
  for (size_t k = 0; k < LocalFiles.size(); ++k) {
    const TLocalFile& member = LocalFiles[k];
    const TFileHeader& header = CentralDirectory[k];
    if (member.FileNameLength != member.FileName.size() || member.ExtraFieldLength != member.ExtraField.size() ||
        member.CompressedSize != member.CompressedData.size() || header.FileNameLength != header.FileName.size() ||
        header.ExtraFieldLength != header.ExtraField.size() || header.FileCommentLength != header.FileComment.size())
      throw EZipFileError(WithName(kHeaderMismatchText, member.FileName));
    if (position > 0xFFFFFFFFu) throw EZipFileError(kArchiveTooLargeText);
    position += 30 + member.FileName.size() + member.ExtraField.size() + member.CompressedData.size();
  }
  const uint64_t centralStart = position;
  for (const TFileHeader& header : CentralDirectory)
    position += 46 + header.FileName.size() + header.ExtraField.size() + header.FileComment.size();
  if (centralStart > 0xFFFFFFFFu || position - centralStart > 0xFFFFFFFFu) throw EZipFileError(kArchiveTooLargeText);

  uint8_t fixed[46];
  for (size_t k = 0; k < LocalFiles.size(); ++k) {
    const TLocalFile& member = LocalFiles[k];
    CentralDirectory[k].LocalHeaderOffset = static_cast<uint32_t>(Stream.GetPosition());
    PutU32(fixed, member.Signature);
    FormatCommonBlock(fixed + 4, member);
    Stream.WriteBuffer(fixed, 30);
    Stream.WriteBuffer(member.FileName.data(), member.FileNameLength);
    Stream.WriteBuffer(member.ExtraField.data(), member.ExtraFieldLength);
    Stream.WriteBuffer(member.CompressedData.data(), member.CompressedSize);
  }

  const int64_t centralOffset = Stream.GetPosition();
  for (const TFileHeader& header : CentralDirectory) {
    PutU32(fixed, header.Signature);
    PutU16(fixed + 4, header.VersionMadeBy);
    FormatCommonBlock(fixed + 6, header);
    PutU16(fixed + 32, header.FileCommentLength);
    PutU16(fixed + 34, header.DiskNumberStart);
    PutU16(fixed + 36, header.InternalAttributes);
    PutU32(fixed + 38, header.ExternalAttributes);
    PutU32(fixed + 42, header.LocalHeaderOffset);
    Stream.WriteBuffer(fixed, 46);
    Stream.WriteBuffer(header.FileName.data(), static_cast<int64_t>(header.FileName.size()));
    Stream.WriteBuffer(header.ExtraField.data(), static_cast<int64_t>(header.ExtraField.size()));
    Stream.WriteBuffer(header.FileComment.data(), static_cast<int64_t>(header.FileComment.size()));
  }

  TEndOfCentralDirectory& end = EndOfCentralDirectory;
  end.Signature = kEndOfCentralDirSignature;
  end.DiskNumber = 0;
  end.CentralDirStartDisk = 0;
  end.EntriesOnDisk = static_cast<uint16_t>(Count());
  end.TotalEntries = static_cast<uint16_t>(Count());
  end.CentralDirSize = static_cast<uint32_t>(Stream.GetPosition() - centralOffset);
  end.CentralDirOffset = static_cast<uint32_t>(centralOffset);
  end.CommentLength = static_cast<uint16_t>(Comment.size());
  uint8_t record[22];
  PutU32(record, end.Signature);
  PutU16(record + 4, end.DiskNumber);
  PutU16(record + 6, end.CentralDirStartDisk);
  PutU16(record + 8, end.EntriesOnDisk);
  PutU16(record + 10, end.TotalEntries);
  PutU32(record + 12, end.CentralDirSize);
  PutU32(record + 16, end.CentralDirOffset);
  PutU16(record + 20, end.CommentLength);
  Stream.WriteBuffer(record, sizeof record);
  Stream.WriteBuffer(Comment.data(), static_cast<int64_t>(Comment.size()));
}

void TZipFile::SaveToFile(const std::string& FileName) {
  std::string tempName;
  std::unique_ptr<TFileStream> stream(CreateFileBeside(FileName, tempName));
  try {
    SaveToStream(*stream);
    stream.reset();  // closed before it takes the target's place
    PutFileInPlace(tempName, FileName);
  } catch (...) {
    stream.reset();
    DeleteFileQuietly(tempName);
    throw;
  }
}
