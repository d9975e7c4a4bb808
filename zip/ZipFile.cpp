#include "ZipFile.h"

#include <libdeflate.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>

#include "ZipCodec.h"
#include "ZipCrypto.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char kIndexOutOfRangeText[] = "Index out of range.";
const char kHugeMemberText[] = "Cannot read \"%s\": members of 4 GiB or more are not supported.";
const char kTooManyMembersText[] = "Cannot save the archive: a zip archive holds at most 65535 members.";
const char kArchiveTooLargeText[] = "Cannot save the archive: a zip archive must stay below 4 GiB.";
const char kCommentTooLongText[] = "Cannot save the archive: its comment is longer than 65535 bytes.";
const char kMemberTooLargeText[] = "Cannot add \"%s\": a zip member must stay below 4 GiB.";
const char kNameTooLongText[] = "Cannot add \"%s\": the name is longer than 65535 bytes.";
const char kHeaderMismatchText[] = "Cannot save \"%s\": its header no longer matches its name or data.";

// True when a size does not fit the 32-bit fields of the zip format.
bool Exceeds32Bits(uint64_t n) { return n > 0xFFFFFFFFu; }

// A member whose local header leaves its sizes and CRC to a data descriptor
// after its data: the data are found as the streamed reader finds them, then
// read into the model. Such a member that is not deflated is kept, so that
// extraction can give it its own clear error, and the members after it are
// read as usual.
void ReadDeferredMember(TArchiveReader& reader, TLocalFile& member) {
  TZipEntry entry;
  EntryFromLocal(member, entry);
  const int64_t start = reader.Position();
  ReadDeferredData(reader, entry, TDataSink());
  if (Exceeds32Bits(entry.CompressedSize) || Exceeds32Bits(entry.UncompressedSize))
    throw EZipFileError(WithName(kHugeMemberText, member.FileName));
  const int64_t end = reader.Position();
  reader.SeekTo(start);
  member.CompressedData = reader.ReadString(entry.CompressedSize);
  reader.SeekTo(end);
  member.CRC32 = entry.CRC32;
  member.CompressedSize = static_cast<uint32_t>(entry.CompressedSize);
  member.UncompressedSize = static_cast<uint32_t>(entry.UncompressedSize);
}

// Inflates raw deflate data into at most expected bytes. The output grows with
// what comes out, so a header that lies about the size costs no memory. Returns
// false when the data end before expected bytes came out; whatever the data
// hold after the expected bytes is not looked at.
bool InflateMember(const std::string& data, uint32_t expected, std::string& out) {
  TMemoryStream source(data);
  TArchiveReader reader(source);
  TDataExtent extent;
  const TInflateEnd end = InflateFrom(
      reader, data.size(), expected,
      [&](const uint8_t* p, size_t n) { out.append(reinterpret_cast<const char*>(p), n); }, extent);
  if (out.size() == expected) return true;
  if (end == TInflateEnd::Damaged) throw EDecompressionError(kZlibErrorText);
  return false;
}

}  // namespace

// ---- CRC and time ----

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
    uint8_t block[kLocalHeaderSize] = {0};
    PutU32(block, word);
    const size_t got = reader.Read(block + 4, sizeof block - 4) + 4;
    ParseLocalHeader(block, member);
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
    uint8_t fixed[kCentralHeaderSize] = {0};
    PutU32(fixed, word);
    reader.Read(fixed + 4, sizeof fixed - 4);
    ParseCentralHeader(fixed, header);
    header.FileName = reader.ReadString(header.FileNameLength);
    header.ExtraField = reader.ReadString(header.ExtraFieldLength);
    header.FileComment = reader.ReadString(header.FileCommentLength);
    if (k < CentralDirectory.size()) CentralDirectory[k] = std::move(header);
    ++k;
    word = reader.ReadWord();
  }

  // The end record, if there is one.
  if (word == kEndOfCentralDirSignature) {
    uint8_t fixed[kEndRecordSize] = {0};
    PutU32(fixed, word);
    reader.Read(fixed + 4, sizeof fixed - 4);
    ParseEndRecord(fixed, EndOfCentralDirectory);
    Comment = reader.ReadString(EndOfCentralDirectory.CommentLength);
  }
  reader.Finish();
}

std::string TZipFile::GetUncompressed(int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw Exception(kIndexOutOfRangeText);
  const TLocalFile& member = LocalFiles[Index];
  std::string result;
  bool crcChecked = true;
  if (member.UncompressedSize > 0) {
    const TZipEncryption encryption =
        ZipEncryptionOf(member.FileName, member.Flags, member.CompressionMethod, member.CRC32,
                        member.LastModDateTime, member.ExtraField);
    const bool encrypted = encryption.Kind != TZipEncryptionKind::None;
    if (encrypted && Password.empty()) throw EZipFileError(WithName(kEncryptedText, member.FileName));
    std::string decrypted;
    if (encrypted) decrypted = DecryptZipMember(encryption, Password, member.CompressedData, member.FileName);
    const std::string& data = encrypted ? decrypted : member.CompressedData;
    const uint16_t method = encrypted ? encryption.Method : member.CompressionMethod;
    crcChecked = encryption.CrcChecked;
    bool complete = false;
    if (method == kMethodDeflated) {
      complete = InflateMember(data, member.UncompressedSize, result);
    } else if (method == kMethodStored) {
      complete = data.size() >= member.UncompressedSize;
      if (complete) result.assign(data, 0, member.UncompressedSize);
    } else {
      throw EZipFileError(WithName(Format(kMethodText, method).c_str(), member.FileName));
    }
    // Data that end early are as wrong as data with the wrong CRC.
    if (!complete) throw EZipFileCRCError(WithName(kCrcErrorText, member.FileName));
  }
  // WinZip AE-2 stores no CRC: its authentication code checked the data.
  if (crcChecked && ZipCRC32(result) != member.CRC32)
    throw EZipFileCRCError(WithName(kCrcErrorText, member.FileName));
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
  DeflateWhole(reinterpret_cast<const uint8_t*>(Data.data()), Data.size(), compressed, true);
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
  CopyCommonBlock(member, header);
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

  uint8_t fixed[kCentralHeaderSize];
  for (size_t k = 0; k < LocalFiles.size(); ++k) {
    const TLocalFile& member = LocalFiles[k];
    CentralDirectory[k].LocalHeaderOffset = static_cast<uint32_t>(Stream.GetPosition());
    FormatLocalHeader(fixed, member);
    Stream.WriteBuffer(fixed, kLocalHeaderSize);
    Stream.WriteBuffer(member.FileName.data(), member.FileNameLength);
    Stream.WriteBuffer(member.ExtraField.data(), member.ExtraFieldLength);
    Stream.WriteBuffer(member.CompressedData.data(), member.CompressedSize);
  }

  const int64_t centralOffset = Stream.GetPosition();
  for (const TFileHeader& header : CentralDirectory) {
    FormatCentralHeader(fixed, header);
    Stream.WriteBuffer(fixed, kCentralHeaderSize);
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
  uint8_t record[kEndRecordSize];
  FormatEndRecord(record, end);
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
