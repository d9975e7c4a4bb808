#include "ZipReader.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "Sync.h"
#include "ZipCodec.h"
#include "ZipCrypto.h"
#include "ZipFile.h"
#include "ZipWorkers.h"

namespace {

const char kNotZipText[] =
    "The file is not a zip archive, or is damaged beyond reading: it has no member and no end record.";
const char kNoLocalHeaderText[] = "Cannot extract \"%s\": its local header is missing or damaged.";
const char kDamagedDataText[] = "Cannot extract \"%s\": its compressed data are damaged.";
const char kBadZip64Text[] = "Cannot read \"%s\": its zip64 sizes are missing.";
const char kDamagedAfterText[] =
    "The archive is damaged after the member \"%s\": the members after it cannot be found.";
const char kDamagedBeforeText[] = "The archive is damaged: no member could be read.";
const char kUnreachedText[] = " The archive lists %s members; %s were found.";

// Members at most this large are inflated in one go through libdeflate; larger
// ones stream through zlib. Together these bound the reader's buffers.
constexpr uint64_t kWholeCompressedLimit = 8u << 20;
constexpr uint64_t kWholeUncompressedLimit = 16u << 20;
// Deflate cannot expand data more than about 1032 times.
constexpr uint64_t kMaxDeflateRatio = 1032;
// The end record sits within the last 64 KiB + 22 bytes (its comment's room).
constexpr int64_t kEndSearch = 0xFFFF + kEndRecordSize;
// How many directory entries are looked up at their local headers to tell
// which of two readings of the directory's offsets is the archive's.
constexpr size_t kOffsetProbes = 16;

std::string Decimal(uint64_t n) { return std::to_string(n); }

using TPositionHook = std::function<void(uint64_t)>;

}  // namespace

// The decrypted data of an encrypted member, read as a stream: the next
// Length bytes of the archive, decrypted as they are read. Only reading on
// from the current position is possible.
class TDecryptedData : public TStream {
 public:
  TDecryptedData(TArchiveReader& Reader, TZipDecrypter& Decrypter, uint64_t Length)
      : FReader(Reader), FDecrypter(Decrypter), FLength(Length) {}

  int64_t Read(void* Buffer, int64_t Count) override {
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(std::max<int64_t>(Count, 0)), FLength - FDone));
    const size_t got = n == 0 ? 0 : FReader.Read(Buffer, n);
    FDecrypter.Decrypt(static_cast<char*>(Buffer), got);
    FDone += got;
    return static_cast<int64_t>(got);
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    const int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                         : Origin == TSeekOrigin::soCurrent ? static_cast<int64_t>(FDone)
                                                            : static_cast<int64_t>(FLength);
    if (base + Offset != static_cast<int64_t>(FDone)) throw EStreamError("Invalid stream position");
    return static_cast<int64_t>(FDone);
  }
  int64_t GetSize() override { return static_cast<int64_t>(FLength); }

  // Decrypts what the inflater left unread: the authentication code covers
  // all the data.
  void Drain() {
    std::vector<char> scratch(static_cast<size_t>(std::min<uint64_t>(kChunk, FLength - FDone)));
    while (FDone < FLength && Read(scratch.data(), static_cast<int64_t>(scratch.size())) > 0) {
    }
  }

 private:
  TArchiveReader& FReader;
  TZipDecrypter& FDecrypter;
  uint64_t FLength;
  uint64_t FDone = 0;
};

// Reads members' data at known places: the part of extraction that worker
// threads share with the reader. Progress is told the archive position.
class TMemberReader {
 public:
  TMemberReader(TArchiveReader& reader, const std::string& password) : FReader(reader), FPassword(password) {}

  // The member an index entry describes: its local header, then its data. An
  // encrypted member's encryption is read from its local header.
  void ExtractIndexed(const TZipEntry& e, TStream& out, const TPositionHook& progress) {
    FReader.SeekTo(static_cast<int64_t>(e.LocalHeaderOffset));
    uint8_t h[kLocalHeaderSize] = {0};
    TLocalFile local;
    const size_t got = FReader.Read(h, sizeof h);
    ParseLocalHeader(h, local);
    if (got < sizeof h || local.Signature != kLocalFileHeaderSignature)
      throw EZipFileError(WithName(kNoLocalHeaderText, e.Name));
    TZipEntry member = e;
    if (local.Flags & kFlagEncrypted || local.CompressionMethod == kZipMethodWinZipAes) {
      FReader.ReadString(local.FileNameLength);
      member.Extra = FReader.ReadString(local.ExtraFieldLength);
      member.Flags = local.Flags;
      member.Method = local.CompressionMethod;
      member.LastModDateTime = local.LastModDateTime;
    }
    CopyData(member, e.LocalHeaderOffset + kLocalHeaderSize + local.FileNameLength + local.ExtraFieldLength, out,
             progress);
  }

  // Writes the data of e, which start at dataStart, to out and tests them.
  // Encrypted data are decrypted with the password on the way.
  void CopyData(const TZipEntry& e, uint64_t dataStart, TStream& out, const TPositionHook& progress) {
    TDataExtent extent;
    bool crcChecked = true;
    if (e.UncompressedSize > 0) {
      const TZipEncryption encryption = ZipEncryptionOf(e.Name, e.Flags, e.Method, e.CRC32, e.LastModDateTime, e.Extra);
      const uint16_t method = encryption.Kind != TZipEncryptionKind::None ? encryption.Method : e.Method;
      if (method != kMethodStored && method != kMethodDeflated)
        throw EZipFileError(WithName(Format(kMethodText, method).c_str(), e.Name));
      FReader.SeekTo(static_cast<int64_t>(dataStart));
      auto sink = [&](const uint8_t* p, size_t n) {
        out.WriteBuffer(p, static_cast<int64_t>(n));
        if (progress) progress(static_cast<uint64_t>(FReader.Position()));
      };
      if (encryption.Kind == TZipEncryptionKind::None) {
        extent = CopyFrom(FReader, e, method, e.CompressedSize, sink);
      } else {
        const std::string header = FReader.ReadString(encryption.HeaderSize);
        const std::unique_ptr<TZipDecrypter> decrypter = CreateZipDecrypter(encryption, FPassword, header, e.Name);
        const uint64_t overhead = encryption.HeaderSize + encryption.TrailerSize;
        const uint64_t length = e.CompressedSize > overhead ? e.CompressedSize - overhead : 0;
        TDecryptedData plain(FReader, *decrypter, length);
        TArchiveReader inner(plain);
        extent = CopyFrom(inner, e, method, length, sink);
        plain.Drain();
        FReader.SeekTo(static_cast<int64_t>(dataStart + encryption.HeaderSize + length));
        decrypter->Finish(FReader.ReadString(encryption.TrailerSize));
        crcChecked = encryption.CrcChecked;
      }
    }
    // WinZip AE-2 stores no CRC: its authentication code checked the data.
    if (!crcChecked && extent.UncompressedSize == e.UncompressedSize) return;
    CheckMemberData(e, extent);
  }

 private:
  // Copies or inflates the data of e (Method, CompressedSize bytes) from
  // reader, passing the output to sink; returns what came out.
  TDataExtent CopyFrom(TArchiveReader& reader, const TZipEntry& e, uint16_t Method, uint64_t CompressedSize,
                       const TDataSink& sink) {
    TDataExtent extent;
    if (Method == kMethodStored) {
      uint64_t left = std::min(CompressedSize, e.UncompressedSize);
      std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(kChunk, left)));
      while (left > 0) {
        const size_t n = reader.Read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
        if (n == 0) break;
        extent.CRC32 = ZipCRC32(buffer.data(), n, extent.CRC32);
        extent.UncompressedSize += n;
        left -= n;
        sink(buffer.data(), n);
      }
    } else if (CompressedSize <= kWholeCompressedLimit && e.UncompressedSize <= kWholeUncompressedLimit &&
               CompressedSize <= static_cast<uint64_t>(std::max<int64_t>(reader.Remaining(), 0)) &&
               e.UncompressedSize <= CompressedSize * kMaxDeflateRatio + 64) {
      // Buffers are sized from the header only as far as the data at hand
      // can back them: a lying header costs no memory.
      if (!FInflater) FInflater.reset(new TWholeInflater);
      const size_t want = static_cast<size_t>(CompressedSize);
      const size_t got = want == 0 ? 0 : reader.Read(FInflater->Input(want), want);
      const size_t length = static_cast<size_t>(e.UncompressedSize);
      const TInflateEnd end = FInflater->Inflate(got, length);
      if (end == TInflateEnd::Damaged && got == want) throw EDecompressionError(WithName(kDamagedDataText, e.Name));
      if (end == TInflateEnd::Complete) {
        const uint8_t* data = FInflater->Output();
        extent.UncompressedSize = length;
        extent.CRC32 = ZipCRC32(data, length);
        for (size_t at = 0; at < length; at += kChunk) sink(data + at, std::min(kChunk, length - at));
      }
    } else {
      const TInflateEnd end = InflateFrom(reader, CompressedSize, e.UncompressedSize, sink, extent);
      if (end == TInflateEnd::Damaged) throw EDecompressionError(WithName(kDamagedDataText, e.Name));
      // Data that go on beyond their size are as wrong as data that end early.
      if (end != TInflateEnd::Complete) throw EZipFileCRCError(WithName(kCrcErrorText, e.Name));
    }
    return extent;
  }

  TArchiveReader& FReader;
  const std::string& FPassword;               // the reader's
  std::unique_ptr<TWholeInflater> FInflater;  // made at the first member that needs it
};

namespace {

// Writes a member to a new file at path through extract; on failure the file
// is removed again.
template <typename Extract>
void ToNewFile(const std::string& path, Extract extract) {
  std::unique_ptr<TFileStream> out(new TFileStream(path, fmCreate | fmShareExclusive));
  try {
    extract(*out);
    out.reset();
  } catch (...) {
    out.reset();
    DeleteFileQuietly(path);
    throw;
  }
}

}  // namespace

namespace {
// The last end record that starts in Tail (the end of an archive) before
// Before, whose comment fits in Tail; npos when there is none.
size_t LastEndRecordIn(const std::string& Tail, size_t Before) {
  static const std::string kEndSignature("PK\x05\x06", 4);
  const auto* t = reinterpret_cast<const uint8_t*>(Tail.data());
  for (size_t at = Tail.size() < kEndRecordSize || Before == 0
                       ? std::string::npos
                       : Tail.rfind(kEndSignature, std::min(Before - 1, Tail.size() - kEndRecordSize));
       at != std::string::npos; at = at == 0 ? std::string::npos : Tail.rfind(kEndSignature, at - 1))
    if (at + kEndRecordSize + GetU16(t + at + 20) <= Tail.size()) return at;
  return std::string::npos;
}
}  // namespace

bool IsSpannedZipEnd(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  const int64_t size = file.GetSize();
  const int64_t from = std::max<int64_t>(0, size - kEndSearch);
  file.Seek(from, TSeekOrigin::soBeginning);
  std::string tail(static_cast<size_t>(size - from), '\0');
  tail.resize(static_cast<size_t>(std::max<int64_t>(file.Read(&tail[0], static_cast<int64_t>(tail.size())), 0)));
  const size_t at = LastEndRecordIn(tail, tail.size());
  if (at == std::string::npos) return false;
  TEndOfCentralDirectory end;
  ParseEndRecord(reinterpret_cast<const uint8_t*>(tail.data() + at), end);
  return end.DiskNumber != 0 && end.DiskNumber != 0xFFFF;
}

TZipReader::TZipReader(TStream& Archive) : FStream(Archive) { ReadIndex(); }

TZipReader::TZipReader(const std::string& FileName)
    : FFileName(FileName), FOwned(new TFileStream(FileName, fmOpenRead | fmShareDenyWrite)), FStream(*FOwned) {
  ReadIndex();
}

TZipReader::~TZipReader() = default;

void TZipReader::ReadIndex() {
  FReader.reset(new TArchiveReader(FStream));
  FMember.reset(new TMemberReader(*FReader, Password));
  const int64_t size = FReader->Size();
  const int64_t searchFrom = std::max<int64_t>(0, size - kEndSearch);
  FReader->SeekTo(searchFrom);
  const std::string tail = FReader->ReadString(static_cast<uint64_t>(size - searchFrom));
  for (size_t at = LastEndRecordIn(tail, tail.size()); at != std::string::npos; at = LastEndRecordIn(tail, at)) {
    if (ReadCentralDirectory(searchFrom + static_cast<int64_t>(at))) {
      FUsesCentral = true;
      return;
    }
    SalvageDirectory(searchFrom + static_cast<int64_t>(at));
    break;
  }
  // No sound central directory: walk the local headers, from the first one in
  // the file, wherever it starts (after a stub of any size, or a cut).
  FNextHeader = FindLocalHeader(0, size);
  if (FNextHeader < 0) {
    // No member anywhere: an archive whose end record lists none is empty;
    // any other is reported.
    if (!FHasListed) throw EZipFileError(kNotZipText);
    FWalkBroken = FListed > 0;
    FWalkOver = !FWalkBroken;
  }
}

int64_t TZipReader::FindLocalHeader(int64_t From, int64_t To) {
  static const std::string kSignature("PK\x03\x04", 4);
  constexpr size_t kWindow = 64 * 1024;
  for (int64_t at = From; at + 4 <= To; at += static_cast<int64_t>(kWindow)) {
    FReader->SeekTo(at);
    // Each window overlaps the next by 3 bytes, so no signature falls between.
    const std::string chunk =
        FReader->ReadString(static_cast<uint64_t>(std::min<int64_t>(To - at, static_cast<int64_t>(kWindow) + 3)));
    const size_t found = chunk.find(kSignature);
    if (found != std::string::npos) return at + static_cast<int64_t>(found);
    if (chunk.size() < kWindow) break;
  }
  return -1;
}

bool TZipReader::ReadCentralDirectory(int64_t endRecordAt) {
  uint8_t fixed[kZip64EndRecordSize];
  FReader->SeekTo(endRecordAt);
  FReader->Read(fixed, kEndRecordSize);
  TEndOfCentralDirectory end;
  ParseEndRecord(fixed, end);
  uint64_t count = end.TotalEntries;
  uint64_t cdSize = end.CentralDirSize;
  uint64_t cdOffset = end.CentralDirOffset;
  int64_t directoryEnd = endRecordAt;  // where the directory must end
  FListed = count;
  FHasListed = true;
  FComment = FReader->ReadString(end.CommentLength);

  // A zip64 locator right before the end record points to the zip64 end record.
  bool zip64 = false;
  if (endRecordAt >= static_cast<int64_t>(kZip64LocatorSize)) {
    FReader->SeekTo(endRecordAt - static_cast<int64_t>(kZip64LocatorSize));
    uint8_t l[kZip64LocatorSize] = {0};
    FReader->Read(l, sizeof l);
    TZip64Locator locator;
    ParseZip64Locator(l, locator);
    if (locator.Signature == kZip64LocatorSignature) {
      const int64_t at = endRecordAt - static_cast<int64_t>(kZip64LocatorSize + kZip64EndRecordSize);
      // Where the locator says, or (with data before the archive) right before it.
      int64_t found = -1;
      for (uint64_t candidate : {locator.Zip64EndOffset, static_cast<uint64_t>(std::max<int64_t>(at, 0))}) {
        if (candidate > static_cast<uint64_t>(at)) continue;
        FReader->SeekTo(static_cast<int64_t>(candidate));
        if (FReader->ReadWord() == kZip64EndOfCentralDirSignature) {
          found = static_cast<int64_t>(candidate);
          break;
        }
      }
      if (found < 0) return false;
      FReader->SeekTo(found);
      FReader->Read(fixed, kZip64EndRecordSize);
      TZip64EndOfCentralDirectory end64;
      ParseZip64EndRecord(fixed, end64);
      count = end64.TotalEntries;
      cdSize = end64.CentralDirSize;
      cdOffset = end64.CentralDirOffset;
      directoryEnd = found;
      FListed = count;
      zip64 = true;
    }
  }
  if (cdSize > static_cast<uint64_t>(directoryEnd)) return false;
  // The directory ends where the end record (or zip64 end record) begins.
  const uint64_t cdStart = static_cast<uint64_t>(directoryEnd) - cdSize;
  // Each header takes at least 46 bytes: a count beyond that is a lie.
  if (count > cdSize / kCentralHeaderSize) return false;

  std::vector<TZipEntry> index;
  index.reserve(static_cast<size_t>(count));
  FReader->SeekTo(static_cast<int64_t>(cdStart));
  while (static_cast<uint64_t>(FReader->Position()) < static_cast<uint64_t>(directoryEnd)) {
    uint8_t h[kCentralHeaderSize] = {0};
    if (FReader->Read(h, sizeof h) < sizeof h) return false;
    TFileHeader header;
    ParseCentralHeader(h, header);
    if (header.Signature != kCentralFileHeaderSignature) return false;
    header.FileName = FReader->ReadString(header.FileNameLength);
    header.ExtraField = FReader->ReadString(header.ExtraFieldLength);
    header.FileComment = FReader->ReadString(header.FileCommentLength);
    if (header.FileComment.size() < header.FileCommentLength) return false;
    if (static_cast<uint64_t>(FReader->Position()) > static_cast<uint64_t>(directoryEnd)) return false;
    TZipEntry entry;
    if (!EntryFromCentral(header, entry)) return false;
    index.push_back(std::move(entry));
  }
  // Writers without zip64 that hold more than 65535 members keep only the low
  // 16 bits of the count.
  const bool countFits = index.size() == count || (!zip64 && (index.size() & 0xFFFF) == count);
  if (!countFits) return false;
  // A directory that lists nothing while the file holds members is not the
  // archive's: the walk finds them.
  if (index.empty() && FindLocalHeader(0, FReader->Size()) >= 0) return false;

  // Where the directory is and where its end record says it is differ by the
  // same distance for every offset: data before the archive (a
  // self-extractor) move them all up, an archive cut out of a bigger file
  // moves them down. When only the end record's offset is wrong, the members'
  // own offsets are right as stored. The reading under which local headers
  // are where the directory puts them is the archive's.
  const int64_t moved = static_cast<int64_t>(cdStart) - static_cast<int64_t>(cdOffset);
  int64_t shift = 0;
  size_t bestFound = 0;
  for (const int64_t candidate : {moved, int64_t(0)}) {
    const size_t found = LocalHeadersAt(index, candidate);
    if (found > bestFound) bestFound = found, shift = candidate;
    if (moved == 0) break;
  }
  if (!index.empty() && bestFound == 0) return false;
  std::vector<TZipEntry> kept;
  kept.reserve(index.size());
  for (TZipEntry& entry : index) {
    const int64_t at = static_cast<int64_t>(entry.LocalHeaderOffset) + shift;
    entry.LocalHeaderOffset = static_cast<uint64_t>(std::max<int64_t>(at, 0));
    // A member before the start of this file was cut away with that part.
    (at < 0 ? FMissing : kept).push_back(std::move(entry));
  }
  index = std::move(kept);
  FListed = index.size() + FMissing.size();
  FIndex = std::move(index);
  StopAtOverlap(cdStart);
  return true;
}

// A zip bomb makes a small file expand beyond any disk by letting members
// share data: many directory entries name one local header, or each member's
// compressed data take in the next member's header and go on into its data.
// Honest archives never do this (members may touch, but data descriptors and
// zip64 records lie outside a member's data), so the extraction ends before
// the first member whose data reach another member's local header or the
// directory. A member is measured with its known name length first; its
// local header, whose name and extra field decide where its data start, is
// read only when the next header is close enough for them to matter.
size_t FirstOverlappingMember(const std::vector<TMemberExtent>& Members, uint64_t Limit,
                              const std::function<bool(uint64_t Offset, TLocalFile& Header)>& ReadLocalHeader) {
  const auto sum = [](uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; };
  constexpr uint64_t kHeaderSlack = 2 * 0xFFFF;  // a local name and extra field longer than the one known
  std::vector<uint64_t> starts;
  starts.reserve(Members.size());
  for (const TMemberExtent& member : Members) starts.push_back(member.LocalHeaderOffset);
  std::sort(starts.begin(), starts.end());
  for (size_t i = 0; i < Members.size(); ++i) {
    const TMemberExtent& member = Members[i];
    const uint64_t at = member.LocalHeaderOffset;
    const auto next = std::upper_bound(starts.begin(), starts.end(), at);
    // Another member's header at the very same place.
    bool overlaps = next - starts.begin() >= 2 && *(next - 2) == at;
    uint64_t limit = next == starts.end() ? UINT64_MAX : *next;
    if (Limit > at) limit = std::min(limit, Limit);
    const uint64_t end = sum(at + kLocalHeaderSize + member.NameSize, member.CompressedSize);
    if (!overlaps && sum(end, kHeaderSlack) > limit) {
      TLocalFile local;
      // Without a local header the member fails on its own when extracted.
      overlaps =
          ReadLocalHeader(at, local) && local.Signature == kLocalFileHeaderSignature &&
          sum(at + kLocalHeaderSize + local.FileNameLength + local.ExtraFieldLength, member.CompressedSize) > limit;
    }
    if (overlaps) return i;
  }
  return Members.size();
}

void TZipReader::StopAtOverlap(uint64_t DirectoryStart) {
  std::vector<TMemberExtent> members;
  members.reserve(FIndex.size());
  for (const TZipEntry& entry : FIndex)
    members.push_back({entry.LocalHeaderOffset, entry.CompressedSize, entry.Name.size()});
  const size_t first = FirstOverlappingMember(members, DirectoryStart, [this](uint64_t At, TLocalFile& Header) {
    uint8_t h[kLocalHeaderSize] = {0};
    if (FReader->ReadAt(static_cast<int64_t>(At), h, sizeof h) != sizeof h) return false;
    ParseLocalHeader(h, Header);
    return true;
  });
  if (first == FIndex.size()) return;
  FFromOverlap.assign(FIndex.begin() + static_cast<std::ptrdiff_t>(first), FIndex.end());
  FIndex.resize(first);
}

void TZipReader::SalvageDirectory(int64_t endRecordAt) {
  uint8_t fixed[kEndRecordSize];
  FReader->SeekTo(endRecordAt);
  if (FReader->Read(fixed, sizeof fixed) < sizeof fixed) return;
  TEndOfCentralDirectory end;
  ParseEndRecord(fixed, end);
  if (static_cast<int64_t>(end.CentralDirOffset) >= endRecordAt) return;
  FReader->SeekTo(static_cast<int64_t>(end.CentralDirOffset));
  for (uint32_t i = 0; i < end.TotalEntries; ++i) {
    uint8_t h[kCentralHeaderSize] = {0};
    if (FReader->Read(h, sizeof h) < sizeof h) return;
    TFileHeader header;
    ParseCentralHeader(h, header);
    if (header.Signature != kCentralFileHeaderSignature) return;
    header.FileName = FReader->ReadString(header.FileNameLength);
    header.ExtraField = FReader->ReadString(header.ExtraFieldLength);
    header.FileComment = FReader->ReadString(header.FileCommentLength);
    TZipEntry entry;
    if (header.FileComment.size() < header.FileCommentLength || !EntryFromCentral(header, entry)) return;
    FSalvaged.push_back(std::move(entry));
  }
}

const TZipEntry* TZipReader::DirectoryEntryAt(uint64_t LocalHeaderOffset) const {
  for (const TZipEntry& entry : FSalvaged)
    if (entry.LocalHeaderOffset == LocalHeaderOffset) return &entry;
  return nullptr;
}

size_t TZipReader::LocalHeadersAt(const std::vector<TZipEntry>& Index, int64_t Shift) {
  size_t found = 0;
  for (size_t i = 0; i < Index.size() && i < kOffsetProbes; ++i) {
    const int64_t at = static_cast<int64_t>(Index[i].LocalHeaderOffset) + Shift;
    if (at < 0 || at + 4 > FReader->Size()) continue;
    FReader->SeekTo(at);
    if (FReader->ReadWord() == kLocalFileHeaderSignature) ++found;
  }
  return found;
}

uint64_t TZipReader::StatedSize() const {
  uint64_t size = 0;
  for (size_t i = FUsesCentral ? FNext : FIndex.size(); i < FIndex.size(); ++i) {
    const uint64_t member = FIndex[i].IsFolder() ? 0 : FIndex[i].UncompressedSize;
    size = member > UINT64_MAX - size ? UINT64_MAX : size + member;
  }
  return size;
}

bool TZipReader::Next() {
  if (FUsesCentral) {
    if (FNext >= FIndex.size()) return false;
    FEntry = FIndex[FNext++];
    return true;
  }
  return NextInWalk();
}

bool TZipReader::NextInWalk() {
  if (FWalkOver) return false;
  auto damaged = [&]() {
    FWalkOver = true;
    std::string text = FFound == 0 ? std::string(kDamagedBeforeText) : WithName(kDamagedAfterText, FEntry.Name);
    if (FHasListed) text += Format(kUnreachedText, Decimal(FListed).c_str(), Decimal(FFound).c_str());
    return EZipFileError(text);
  };
  if (FWalkBroken) {
    // The data of the member before could not be delimited.
    FWalkOver = true;
    if (FHasListed && FFound >= FListed) return false;
    throw damaged();
  }
  if (FNextHeader < 0) SkipWalkedData();
  FReader->SeekTo(FNextHeader);

  const uint32_t word = FReader->ReadWord();
  if (word != kLocalFileHeaderSignature) {
    const bool atDirectory = word == kCentralFileHeaderSignature || word == kEndOfCentralDirSignature ||
                             word == kZip64EndOfCentralDirSignature;
    const bool atEnd = FReader->Remaining() <= 0 && word == 0;
    FWalkOver = true;
    // Past every member the end record lists, or (without one) at a directory
    // or the end: the walk is complete.
    if (FHasListed ? FFound >= FListed : (atDirectory || atEnd)) return false;
    throw damaged();
  }
  uint8_t h[kLocalHeaderSize] = {0};
  PutU32(h, word);
  const size_t got = FReader->Read(h + 4, sizeof h - 4) + 4;
  TLocalFile header;
  ParseLocalHeader(h, header);
  header.FileName = FReader->ReadString(header.FileNameLength);
  header.ExtraField = FReader->ReadString(header.ExtraFieldLength);
  if (got < sizeof h || header.FileName.size() < header.FileNameLength ||
      header.ExtraField.size() < header.ExtraFieldLength) {
    FWalkOver = true;
    throw EZipFileError(Format(kCutHeaderText, static_cast<int>(FFound + 1)));
  }
  if (!EntryFromLocal(header, FEntry)) {
    FWalkOver = true;
    throw EZipFileError(WithName(kBadZip64Text, header.FileName));
  }
  FEntry.LocalHeaderOffset = static_cast<uint64_t>(FNextHeader);
  ++FFound;
  FDataStart = FReader->Position();
  FNextHeader = -1;
  return true;
}

// Learns where the current walked member's data end (and so where the next
// header starts) without extracting them. A member whose end cannot be found
// ends the walk: the error names it, and the next Next() reports the rest.
void TZipReader::SkipWalkedData() {
  if (FNextHeader >= 0) return;
  if (FEntry.Flags & kFlagDataDescriptor) {
    FReader->SeekTo(FDataStart);
    try {
      ReadDeferredData(*FReader, FEntry, TDataSink());
    } catch (...) {
      BreakWalk();
      throw;
    }
    FNextHeader = FReader->Position();
  } else {
    FNextHeader = FDataStart + static_cast<int64_t>(FEntry.CompressedSize);
  }
}

// The current member's end cannot be found. When the archive ends inside it,
// its own error says all; otherwise the next Next() reports what follows.
void TZipReader::BreakWalk() {
  FWalkBroken = FReader->Remaining() > 0;
  FWalkOver = !FWalkBroken;
}

void TZipReader::Report(uint64_t done) {
  if (!OnProgress) return;
  TZipProgress p;
  p.BytesDone = ProgressBase + done;
  p.BytesTotal = ProgressTotal != 0 ? ProgressTotal : static_cast<uint64_t>(FReader->Size());
  p.Member = FEntry.Name;
  if (!OnProgress(p)) throw EAbort();
}

void TZipReader::ExtractTo(TStream& Out) {
  Report(FUsesCentral ? FEntry.LocalHeaderOffset : static_cast<uint64_t>(FDataStart));
  const TPositionHook progress = [this](uint64_t at) { Report(at); };
  if (FUsesCentral) {
    FMember->ExtractIndexed(FEntry, Out, progress);
    return;
  }
  const bool deferred = (FEntry.Flags & kFlagDataDescriptor) != 0;
  if (deferred && FEntry.Method == kMethodDeflated && !(FEntry.Flags & kFlagEncrypted)) {
    // One pass: the deflate stream delimits the data while they are written.
    FReader->SeekTo(FDataStart);
    TDataExtent extent;
    try {
      extent = ReadDeferredData(*FReader, FEntry, [&](const uint8_t* p, size_t n) {
        Out.WriteBuffer(p, static_cast<int64_t>(n));
        Report(static_cast<uint64_t>(FReader->Position()));
      });
    } catch (const EZipFileError&) {
      BreakWalk();
      throw;
    }
    FNextHeader = FReader->Position();
    CheckMemberData(FEntry, extent);
    return;
  }
  SkipWalkedData();  // learns the sizes of a member whose sizes follow its data
  FMember->CopyData(FEntry, static_cast<uint64_t>(FDataStart), Out, progress);
}

void TZipReader::ExtractToFile(const std::string& Path) {
  ToNewFile(Path, [this](TStream& out) { ExtractTo(out); });
}

void TZipReader::ExtractAll(const TPathFor& PathFor, const TMemberDone& Done, int Threads) {
  if (Threads <= 0) Threads = ProcessorCount();
  if (FUsesCentral && !FFileName.empty() && Threads > 1 && FNext < FIndex.size()) {
    ExtractInParallel(PathFor, Done, Threads);
    return;
  }
  while (Next()) {
    const std::string path = PathFor(FEntry);
    std::exception_ptr error;
    if (!path.empty()) {
      try {
        ExtractToFile(path);
      } catch (const EAbort&) {
        throw;
      } catch (...) {
        error = std::current_exception();
      }
    }
    Done(FEntry, error);
  }
}

// Each worker reads the archive through its own file handle. The calling
// thread hands out the output paths a window ahead, then reports the members
// in order as they are done, and is the only one that calls the hook.
void TZipReader::ExtractInParallel(const TPathFor& PathFor, const TMemberDone& Done, int Threads) {
  struct TJob {
    std::string Path;
    bool Done = false;
    std::exception_ptr Error;
  };
  const size_t first = FNext;
  const size_t count = FIndex.size() - first;
  std::vector<TJob> jobs(count);
  std::vector<std::unique_ptr<TFileStream>> archives;
  for (int t = 0; t < Threads; ++t) archives.emplace_back(new TFileStream(FFileName, fmOpenRead | fmShareDenyWrite));
  size_t published = 0, nextJob = 0;
  // Declared after everything the workers use, so that they are stopped and
  // waited for before any of it goes.
  TWorkers workers;
  workers.Start(Threads, [&](int t) {
    TArchiveReader reader(*archives[static_cast<size_t>(t)]);
    TMemberReader member(reader, Password);
    for (;;) {
      size_t j;
      {
        std::unique_lock<TLock> lock(workers.Mutex);
        while (!workers.Stop && nextJob >= published) workers.Changed.wait_for(lock, std::chrono::milliseconds(100));
        if (workers.Stop) return;
        j = nextJob++;
      }
      TJob& job = jobs[j];
      if (!job.Path.empty()) {
        try {
          ToNewFile(job.Path, [&](TStream& out) {
            member.ExtractIndexed(FIndex[first + j], out, [&](uint64_t) {
              std::unique_lock<TLock> lock(workers.Mutex);
              if (workers.Stop) throw EAbort();
            });
          });
        } catch (...) {
          job.Error = std::current_exception();
        }
      }
      std::unique_lock<TLock> lock(workers.Mutex);
      job.Done = true;
      workers.Changed.notify_all();
    }
  });

  const size_t window = static_cast<size_t>(Threads) * 2;
  size_t told = 0;  // members whose outcome Done was told
  try {
    for (size_t i = 0; i < count; ++i) {
      while (published < count && published < i + window) {
        std::string path = PathFor(FIndex[first + published]);
        std::unique_lock<TLock> lock(workers.Mutex);
        jobs[published++].Path = std::move(path);
        workers.Changed.notify_all();
      }
      FEntry = FIndex[first + i];
      for (;;) {
        {
          std::unique_lock<TLock> lock(workers.Mutex);
          if (jobs[i].Done) break;
          workers.Changed.wait_for(lock, std::chrono::milliseconds(100));
          if (jobs[i].Done) break;
        }
        Report(FEntry.LocalHeaderOffset);  // keeps the caller's window answering
      }
      FNext = first + i + 1;
      Report(FEntry.LocalHeaderOffset);
      told = i + 1;
      Done(FEntry, jobs[i].Error);
      std::string().swap(jobs[i].Path);
    }
  } catch (...) {
    // The extraction ends here, as it would one member after another: the
    // files the workers wrote ahead for later members go again.
    workers.StopAndWait();
    for (size_t j = told; j < count; ++j)
      if (jobs[j].Done && !jobs[j].Error && !jobs[j].Path.empty()) DeleteFileQuietly(jobs[j].Path);
    throw;
  }
}
