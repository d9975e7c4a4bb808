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

// Each record's layout is written down once, as a list of (offset, field)
// visits; parsing and formatting walk the same list with a reader or a writer.
struct TFieldReader {
  const uint8_t* P;
  void operator()(size_t at, uint16_t& v) const { v = GetU16(P + at); }
  void operator()(size_t at, uint32_t& v) const { v = GetU32(P + at); }
  void operator()(size_t at, uint64_t& v) const { v = GetU64(P + at); }
};

struct TFieldWriter {
  uint8_t* P;
  void operator()(size_t at, uint16_t v) const { PutU16(P + at, v); }
  void operator()(size_t at, uint32_t v) const { PutU32(P + at, v); }
  void operator()(size_t at, uint64_t v) const { PutU64(P + at, v); }
};

// VersionNeeded..ExtraFieldLength, at base in the local and the central header.
template <typename Io, typename Record>
void CommonFields(const Io& io, Record& r, size_t base) {
  io(base + 0, r.VersionNeeded);
  io(base + 2, r.Flags);
  io(base + 4, r.CompressionMethod);
  io(base + 6, r.LastModDateTime);
  io(base + 10, r.CRC32);
  io(base + 14, r.CompressedSize);
  io(base + 18, r.UncompressedSize);
  io(base + 22, r.FileNameLength);
  io(base + 24, r.ExtraFieldLength);
}

template <typename Io, typename Record>
void LocalFields(const Io& io, Record& r) {
  io(0, r.Signature);
  CommonFields(io, r, 4);
}

template <typename Io, typename Record>
void CentralFields(const Io& io, Record& r) {
  io(0, r.Signature);
  io(4, r.VersionMadeBy);
  CommonFields(io, r, 6);
  io(32, r.FileCommentLength);
  io(34, r.DiskNumberStart);
  io(36, r.InternalAttributes);
  io(38, r.ExternalAttributes);
  io(42, r.LocalHeaderOffset);
}

template <typename Io, typename Record>
void EndFields(const Io& io, Record& r) {
  io(0, r.Signature);
  io(4, r.DiskNumber);
  io(6, r.CentralDirStartDisk);
  io(8, r.EntriesOnDisk);
  io(10, r.TotalEntries);
  io(12, r.CentralDirSize);
  io(16, r.CentralDirOffset);
  io(20, r.CommentLength);
}

template <typename Io, typename Record>
void Zip64EndFields(const Io& io, Record& r) {
  io(0, r.Signature);
  io(4, r.RecordSize);
  io(12, r.VersionMadeBy);
  io(14, r.VersionNeeded);
  io(16, r.DiskNumber);
  io(20, r.CentralDirStartDisk);
  io(24, r.EntriesOnDisk);
  io(32, r.TotalEntries);
  io(40, r.CentralDirSize);
  io(48, r.CentralDirOffset);
}

template <typename Io, typename Record>
void LocatorFields(const Io& io, Record& r) {
  io(0, r.Signature);
  io(4, r.Zip64EndDisk);
  io(8, r.Zip64EndOffset);
  io(16, r.TotalDisks);
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

void ParseLocalHeader(const uint8_t* p, TLocalFile& r) { LocalFields(TFieldReader{p}, r); }
void FormatLocalHeader(uint8_t* p, const TLocalFile& r) { LocalFields(TFieldWriter{p}, r); }
void ParseCentralHeader(const uint8_t* p, TFileHeader& r) { CentralFields(TFieldReader{p}, r); }
void FormatCentralHeader(uint8_t* p, const TFileHeader& r) { CentralFields(TFieldWriter{p}, r); }
void ParseEndRecord(const uint8_t* p, TEndOfCentralDirectory& r) { EndFields(TFieldReader{p}, r); }
void FormatEndRecord(uint8_t* p, const TEndOfCentralDirectory& r) { EndFields(TFieldWriter{p}, r); }
void ParseZip64EndRecord(const uint8_t* p, TZip64EndOfCentralDirectory& r) { Zip64EndFields(TFieldReader{p}, r); }
void FormatZip64EndRecord(uint8_t* p, const TZip64EndOfCentralDirectory& r) { Zip64EndFields(TFieldWriter{p}, r); }
void ParseZip64Locator(const uint8_t* p, TZip64Locator& r) { LocatorFields(TFieldReader{p}, r); }
void FormatZip64Locator(uint8_t* p, const TZip64Locator& r) { LocatorFields(TFieldWriter{p}, r); }

void CopyCommonBlock(const TLocalFile& from, TFileHeader& to) {
  uint8_t block[kCommonBlockSize];
  CommonFields(TFieldWriter{block}, from, 0);
  CommonFields(TFieldReader{block}, to, 0);
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

bool TZipEntry::IsFolderByAttributes() const {
  switch (VersionMadeBy >> 8) {
    case 0:   // MS-DOS and OS/2 (FAT)
    case 6:   // OS/2 HPFS
    case 11:  // NTFS
    case 14:  // VFAT
      return (ExternalAttributes & 0x10) != 0;
    case 3: return ((ExternalAttributes >> 16) & 0170000) == 0040000;  // Unix
    default: return false;
  }
}
