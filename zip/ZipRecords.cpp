#include "ZipRecords.h"

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t GetU64(const uint8_t* p) { return GetU32(p) | (static_cast<uint64_t>(GetU32(p + 4)) << 32); }
void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, static_cast<uint16_t>(v));
  PutU16(p + 2, static_cast<uint16_t>(v >> 16));
}
void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, static_cast<uint32_t>(v));
  PutU32(p + 4, static_cast<uint32_t>(v >> 32));
}

namespace {

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

// The fields of a header that the entry takes over whatever the header's kind.
template <typename Record>
bool FillEntry(const Record& h, bool offsetField, uint32_t offset, TZipEntry& e) {
  e.Name = h.FileName;
  e.Extra = h.ExtraField;
  e.VersionNeeded = h.VersionNeeded;
  e.Flags = h.Flags;
  e.Method = h.CompressionMethod;
  e.LastModDateTime = h.LastModDateTime;
  e.CRC32 = h.CRC32;
  e.CompressedSize = h.CompressedSize;
  e.UncompressedSize = h.UncompressedSize;
  e.LocalHeaderOffset = offset;
  TZip64Fields fields;
  fields.UncompressedSize = h.UncompressedSize == kZip64Marker32;
  fields.CompressedSize = h.CompressedSize == kZip64Marker32;
  fields.LocalHeaderOffset = offsetField && offset == kZip64Marker32;
  if (!fields.UncompressedSize && !fields.CompressedSize && !fields.LocalHeaderOffset) return true;
  TZip64Values values;
  if (!ReadZip64Extra(h.ExtraField, fields, values)) return false;
  if (fields.UncompressedSize) e.UncompressedSize = values.UncompressedSize;
  if (fields.CompressedSize) e.CompressedSize = values.CompressedSize;
  if (fields.LocalHeaderOffset) e.LocalHeaderOffset = values.LocalHeaderOffset;
  return true;
}

}  // namespace

void ParseLocalHeader(const uint8_t* p, TLocalFile& r) {
  r.Signature = GetU32(p);
  ParseCommonBlock(p + 4, r);
}

void FormatLocalHeader(uint8_t* p, const TLocalFile& r) {
  PutU32(p, r.Signature);
  FormatCommonBlock(p + 4, r);
}

void ParseCentralHeader(const uint8_t* p, TFileHeader& r) {
  r.Signature = GetU32(p);
  r.VersionMadeBy = GetU16(p + 4);
  ParseCommonBlock(p + 6, r);
  r.FileCommentLength = GetU16(p + 32);
  r.DiskNumberStart = GetU16(p + 34);
  r.InternalAttributes = GetU16(p + 36);
  r.ExternalAttributes = GetU32(p + 38);
  r.LocalHeaderOffset = GetU32(p + 42);
}

void FormatCentralHeader(uint8_t* p, const TFileHeader& r) {
  PutU32(p, r.Signature);
  PutU16(p + 4, r.VersionMadeBy);
  FormatCommonBlock(p + 6, r);
  PutU16(p + 32, r.FileCommentLength);
  PutU16(p + 34, r.DiskNumberStart);
  PutU16(p + 36, r.InternalAttributes);
  PutU32(p + 38, r.ExternalAttributes);
  PutU32(p + 42, r.LocalHeaderOffset);
}

void ParseEndRecord(const uint8_t* p, TEndOfCentralDirectory& r) {
  r.Signature = GetU32(p);
  r.DiskNumber = GetU16(p + 4);
  r.CentralDirStartDisk = GetU16(p + 6);
  r.EntriesOnDisk = GetU16(p + 8);
  r.TotalEntries = GetU16(p + 10);
  r.CentralDirSize = GetU32(p + 12);
  r.CentralDirOffset = GetU32(p + 16);
  r.CommentLength = GetU16(p + 20);
}

void FormatEndRecord(uint8_t* p, const TEndOfCentralDirectory& r) {
  PutU32(p, r.Signature);
  PutU16(p + 4, r.DiskNumber);
  PutU16(p + 6, r.CentralDirStartDisk);
  PutU16(p + 8, r.EntriesOnDisk);
  PutU16(p + 10, r.TotalEntries);
  PutU32(p + 12, r.CentralDirSize);
  PutU32(p + 16, r.CentralDirOffset);
  PutU16(p + 20, r.CommentLength);
}

void ParseZip64EndRecord(const uint8_t* p, TZip64EndOfCentralDirectory& r) {
  r.Signature = GetU32(p);
  r.RecordSize = GetU64(p + 4);
  r.VersionMadeBy = GetU16(p + 12);
  r.VersionNeeded = GetU16(p + 14);
  r.DiskNumber = GetU32(p + 16);
  r.CentralDirStartDisk = GetU32(p + 20);
  r.EntriesOnDisk = GetU64(p + 24);
  r.TotalEntries = GetU64(p + 32);
  r.CentralDirSize = GetU64(p + 40);
  r.CentralDirOffset = GetU64(p + 48);
}

void FormatZip64EndRecord(uint8_t* p, const TZip64EndOfCentralDirectory& r) {
  PutU32(p, r.Signature);
  PutU64(p + 4, r.RecordSize);
  PutU16(p + 12, r.VersionMadeBy);
  PutU16(p + 14, r.VersionNeeded);
  PutU32(p + 16, r.DiskNumber);
  PutU32(p + 20, r.CentralDirStartDisk);
  PutU64(p + 24, r.EntriesOnDisk);
  PutU64(p + 32, r.TotalEntries);
  PutU64(p + 40, r.CentralDirSize);
  PutU64(p + 48, r.CentralDirOffset);
}

void ParseZip64Locator(const uint8_t* p, TZip64Locator& r) {
  r.Signature = GetU32(p);
  r.Zip64EndDisk = GetU32(p + 4);
  r.Zip64EndOffset = GetU64(p + 8);
  r.TotalDisks = GetU32(p + 16);
}

void FormatZip64Locator(uint8_t* p, const TZip64Locator& r) {
  PutU32(p, r.Signature);
  PutU32(p + 4, r.Zip64EndDisk);
  PutU64(p + 8, r.Zip64EndOffset);
  PutU32(p + 16, r.TotalDisks);
}

void CopyCommonBlock(const TLocalFile& from, TFileHeader& to) {
  uint8_t block[kCommonBlockSize];
  FormatCommonBlock(block, from);
  ParseCommonBlock(block, to);
}

bool ReadZip64Extra(const std::string& Extra, TZip64Fields Fields, TZip64Values& Values) {
  const auto* p = reinterpret_cast<const uint8_t*>(Extra.data());
  size_t at = 0;
  while (at + 4 <= Extra.size()) {
    const uint16_t id = GetU16(p + at);
    const size_t length = GetU16(p + at + 2);
    const size_t data = at + 4;
    if (data + length > Extra.size()) return false;
    if (id == kZip64ExtraId) {
      size_t field = data;
      const size_t end = data + length;
      auto take = [&](bool wanted, uint64_t& value) {
        if (!wanted) return true;
        if (field + 8 > end) return false;
        value = GetU64(p + field);
        field += 8;
        return true;
      };
      return take(Fields.UncompressedSize, Values.UncompressedSize) &&
             take(Fields.CompressedSize, Values.CompressedSize) &&
             take(Fields.LocalHeaderOffset, Values.LocalHeaderOffset);
    }
    at = data + length;
  }
  return false;
}

std::string Zip64Extra(TZip64Fields Fields, const TZip64Values& Values) {
  uint8_t block[4 + 24];
  size_t n = 4;
  auto put = [&](bool wanted, uint64_t value) {
    if (!wanted) return;
    PutU64(block + n, value);
    n += 8;
  };
  put(Fields.UncompressedSize, Values.UncompressedSize);
  put(Fields.CompressedSize, Values.CompressedSize);
  put(Fields.LocalHeaderOffset, Values.LocalHeaderOffset);
  PutU16(block, kZip64ExtraId);
  PutU16(block + 2, static_cast<uint16_t>(n - 4));
  return std::string(reinterpret_cast<const char*>(block), n);
}

TDataDescriptor ParseDataDescriptor(const uint8_t* p, size_t Available, const TDataDescriptor& Expected, bool Zip64) {
  uint8_t b[24] = {0};
  for (size_t i = 0; i < sizeof b && i < Available; ++i) b[i] = p[i];
  // The layouts in order of preference: signed before plain, the member's own
  // width before the other.
  struct TLayout {
    bool Signed;
    bool Wide;
  };
  const TLayout layouts[] = {{true, Zip64}, {false, Zip64}, {true, !Zip64}, {false, !Zip64}};
  const bool hasSignature = GetU32(b) == kDataDescriptorSignature;
  TDataDescriptor result = Expected;
  for (const TLayout& l : layouts) {
    if (l.Signed && !hasSignature) continue;
    const uint8_t* q = b + (l.Signed ? 4 : 0);
    const uint32_t crc = GetU32(q);
    const uint64_t compressed = l.Wide ? GetU64(q + 4) : GetU32(q + 4);
    const uint64_t uncompressed = l.Wide ? GetU64(q + 12) : GetU32(q + 8);
    const bool agrees =
        crc == Expected.CRC32 && compressed == Expected.CompressedSize && uncompressed == Expected.UncompressedSize;
    if (agrees) {
      result.Length = (l.Signed ? 4 : 0) + (l.Wide ? 20 : 12);
      return result;
    }
  }
  // Nothing agrees: the data do not match their descriptor. Its CRC is taken
  // (the member then fails its CRC test) from the layout the signature says.
  result.CRC32 = GetU32(b + (hasSignature ? 4 : 0));
  result.Length = (hasSignature ? 4 : 0) + (Zip64 ? 20 : 12);
  return result;
}

size_t FormatDataDescriptor(uint8_t* p, const TDataDescriptor& d, bool Zip64) {
  PutU32(p, kDataDescriptorSignature);
  PutU32(p + 4, d.CRC32);
  if (Zip64) {
    PutU64(p + 8, d.CompressedSize);
    PutU64(p + 16, d.UncompressedSize);
    return 24;
  }
  PutU32(p + 8, static_cast<uint32_t>(d.CompressedSize));
  PutU32(p + 12, static_cast<uint32_t>(d.UncompressedSize));
  return 16;
}

bool EntryFromCentral(const TFileHeader& Header, TZipEntry& Entry) {
  Entry.Comment = Header.FileComment;
  Entry.VersionMadeBy = Header.VersionMadeBy;
  Entry.ExternalAttributes = Header.ExternalAttributes;
  return FillEntry(Header, true, Header.LocalHeaderOffset, Entry);
}

bool EntryFromLocal(const TLocalFile& Header, TZipEntry& Entry) {
  Entry.Comment.clear();
  Entry.VersionMadeBy = 0;
  Entry.ExternalAttributes = 0;
  return FillEntry(Header, false, 0, Entry);
}
