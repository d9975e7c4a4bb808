#pragma once
// The records of the zip format and their one codec, shared by the in-memory
// model (TZipFile) and the streamed reader and writer (TZipReader, TZipWriter).
//
// Every record is read from and written to a byte block of its fixed size by
// the Parse/Format pairs below; the variable parts (names, extra fields,
// comments) follow the block in the file and are handled by the callers. All
// integers are little-endian.

#include <cstddef>
#include <cstdint>
#include <string>

// Record signatures, as little-endian 32-bit values.
constexpr uint32_t kLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralFileHeaderSignature = 0x02014B50;
constexpr uint32_t kEndOfCentralDirSignature = 0x06054B50;
constexpr uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr uint32_t kZip64EndOfCentralDirSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

// Fixed sizes of the records in the file.
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kZip64EndRecordSize = 56;
constexpr size_t kZip64LocatorSize = 20;

// General purpose flags and methods the engine knows.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// A 32-bit size or offset field holding this value defers to the zip64 extra
// field; a 16-bit count holding 0xFFFF defers to the zip64 end record.
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFFu;
constexpr uint16_t kZip64Marker16 = 0xFFFF;
constexpr uint16_t kZip64ExtraId = 0x0001;
// Version needed to extract: 2.0 for deflate, 4.5 for zip64.
constexpr uint16_t kVersionDeflate = 20;
constexpr uint16_t kVersionZip64 = 45;

// Local file header: 30 fixed bytes in the file, then name, extra field and
// compressed data (raw deflate, or the plain bytes of a stored member).
struct TLocalFile {
  uint32_t Signature = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t CompressionMethod = 0;
  uint32_t LastModDateTime = 0;  // DOS time in the low word, DOS date in the high word
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  std::string FileName;
  std::string ExtraField;
  std::string CompressedData;
};

// Central directory header: 46 fixed bytes in the file, then name, extra field
// and member comment. Its fields VersionNeeded to ExtraFieldLength have the
// layout of bytes 4 to 29 of the local header.
struct TFileHeader {
  uint32_t Signature = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t CompressionMethod = 0;
  uint32_t LastModDateTime = 0;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;
  std::string FileName;
  std::string ExtraField;
  std::string FileComment;
};

// End of central directory record: 22 fixed bytes, then the archive comment.
struct TEndOfCentralDirectory {
  uint32_t Signature = 0;
  uint16_t DiskNumber = 0;
  uint16_t CentralDirStartDisk = 0;
  uint16_t EntriesOnDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralDirSize = 0;
  uint32_t CentralDirOffset = 0;
  uint16_t CommentLength = 0;
};

// zip64 end of central directory record (its fixed 56 bytes; an extensible
// data sector of RecordSize - 44 bytes may follow and is ignored).
struct TZip64EndOfCentralDirectory {
  uint32_t Signature = kZip64EndOfCentralDirSignature;
  uint64_t RecordSize = kZip64EndRecordSize - 12;  // the bytes after this field
  uint16_t VersionMadeBy = kVersionZip64;
  uint16_t VersionNeeded = kVersionZip64;
  uint32_t DiskNumber = 0;
  uint32_t CentralDirStartDisk = 0;
  uint64_t EntriesOnDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirOffset = 0;
};

// zip64 end of central directory locator: sits right before the end record.
struct TZip64Locator {
  uint32_t Signature = kZip64LocatorSignature;
  uint32_t Zip64EndDisk = 0;
  uint64_t Zip64EndOffset = 0;
  uint32_t TotalDisks = 1;
};

uint16_t GetU16(const uint8_t* p);
uint32_t GetU32(const uint8_t* p);
uint64_t GetU64(const uint8_t* p);
void PutU16(uint8_t* p, uint16_t v);
void PutU32(uint8_t* p, uint32_t v);
void PutU64(uint8_t* p, uint64_t v);

// Each Parse reads the record's fixed block (signature included) without
// checking the signature; each Format writes it.
void ParseLocalHeader(const uint8_t* p, TLocalFile& r);
void FormatLocalHeader(uint8_t* p, const TLocalFile& r);
void ParseCentralHeader(const uint8_t* p, TFileHeader& r);
void FormatCentralHeader(uint8_t* p, const TFileHeader& r);
void ParseEndRecord(const uint8_t* p, TEndOfCentralDirectory& r);
void FormatEndRecord(uint8_t* p, const TEndOfCentralDirectory& r);
void ParseZip64EndRecord(const uint8_t* p, TZip64EndOfCentralDirectory& r);
void FormatZip64EndRecord(uint8_t* p, const TZip64EndOfCentralDirectory& r);
void ParseZip64Locator(const uint8_t* p, TZip64Locator& r);
void FormatZip64Locator(uint8_t* p, const TZip64Locator& r);

// The 26 bytes VersionNeeded..ExtraFieldLength, shared in layout by the local
// and the central header.
constexpr size_t kCommonBlockSize = 26;
void CopyCommonBlock(const TLocalFile& from, TFileHeader& to);

// The 64-bit values a zip64 extra field (id 0x0001) stands in for. The field
// lists only the values whose 32-bit header field holds 0xFFFFFFFF, always in
// this order.
struct TZip64Values {
  uint64_t UncompressedSize = 0;
  uint64_t CompressedSize = 0;
  uint64_t LocalHeaderOffset = 0;
};
// Which header fields a zip64 extra field covers.
struct TZip64Fields {
  bool UncompressedSize = false;
  bool CompressedSize = false;
  bool LocalHeaderOffset = false;
};

// Fills the values that Fields names from the zip64 extra field inside Extra
// (a sequence of id, length, data blocks). Returns false when Extra holds no
// such block, or one too short for them.
bool ReadZip64Extra(const std::string& Extra, TZip64Fields Fields, TZip64Values& Values);
// The zip64 extra block (id, length, data) for the fields named.
std::string Zip64Extra(TZip64Fields Fields, const TZip64Values& Values);

// A data descriptor after a member's data: optional signature, CRC-32, then the
// compressed and uncompressed sizes in 4 bytes each, or 8 in a zip64 member.
struct TDataDescriptor {
  uint32_t CRC32 = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  size_t Length = 0;  // bytes it takes in the file
};
// Reads a descriptor at p (Available bytes there) for data whose true sizes
// and CRC are Expected's. Several layouts can fit the bytes (with or without
// the signature; 32- or 64-bit sizes): the one whose values agree with Expected
// wins; otherwise the signature decides, with sizes of Zip64's width. The
// result's sizes are Expected's (what delimited the data); its CRC is the
// descriptor's, so data that do not match it fail their CRC test.
TDataDescriptor ParseDataDescriptor(const uint8_t* p, size_t Available, const TDataDescriptor& Expected, bool Zip64);
// Writes the signed descriptor (16 bytes, or 24 when Zip64); returns its length.
size_t FormatDataDescriptor(uint8_t* p, const TDataDescriptor& d, bool Zip64);

// One member as the streamed paths see it: the central (or, without a
// central directory, the local) header with its zip64 values applied. The
// name, flags and extra field are kept as stored, so that name decoding and
// decryption can be added on top.
struct TZipEntry {
  std::string Name;  // bytes as stored, with the archive's own separators
  std::string Extra;
  std::string Comment;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint16_t Flags = 0;
  uint16_t Method = 0;
  uint32_t LastModDateTime = 0;
  uint32_t CRC32 = 0;
  uint32_t ExternalAttributes = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t LocalHeaderOffset = 0;
  bool IsFolder() const { return !Name.empty() && Name.back() == '/'; }
  // A folder by its attributes alone, without a trailing "/": the MS-DOS
  // directory attribute of the FAT, HPFS, NTFS and VFAT hosts, or a Unix
  // directory mode.
  bool IsFolderByAttributes() const;
  // Bit 13 of the flags: the central directory is encrypted (PKWARE's strong
  // encryption) and the local headers' names and sizes are masked.
  bool HasMaskedHeaders() const { return (Flags & 0x2000) != 0; }
};

// The entry a central header describes; false when a field marked for zip64
// has no value in its extra field.
bool EntryFromCentral(const TFileHeader& Header, TZipEntry& Entry);
// The entry a local header describes (sizes may still be deferred to a data
// descriptor); false as above.
bool EntryFromLocal(const TLocalFile& Header, TZipEntry& Entry);
