#pragma once
// TZipFile: one zip archive held entirely in memory, with its reader and writer.
//
// The model keeps, for every member, its local file header (which also owns the
// member's compressed bytes) and its central directory header, plus the end of
// central directory record and the archive comment. Names, extra fields,
// comments and data are byte strings, never converted between code pages.
//
// All failures are exceptions (see each operation); nothing is shown to the user.

#include <cstdint>
#include <string>
#include <vector>

#include "Exception.h"
#include "Streams.h"
#include "ZipErrors.h"
#include "ZipRecords.h"

class TZipFile {
 public:
  std::vector<TLocalFile> LocalFiles;         // one per member, in archive order
  std::vector<TFileHeader> CentralDirectory;  // always as long as LocalFiles
  TEndOfCentralDirectory EndOfCentralDirectory;
  std::string Comment;  // the archive comment

  // Opens FileName for reading (others may read it but not write it) and loads
  // it with LoadFromStream. Raises EFOpenError when the file cannot be opened.
  void LoadFromFile(const std::string& FileName);

  // Parses an archive from the stream's current position. The object is emptied
  // first. A stream without any local header gives no members and no error;
  // damaged records end the walk and keep what was read, and a member whose
  // data are cut short fails its extraction. Raises EZipFileError when the
  // stream ends inside a local header, or for a member whose sizes follow its
  // data when its end cannot be found; the members before it are kept.
  void LoadFromStream(TStream& Stream);

  int32_t Count() const { return static_cast<int32_t>(LocalFiles.size()); }

  // The member's name exactly as stored. Index must lie within 0..Count()-1.
  std::string GetName(int32_t Index) const { return LocalFiles[Index].FileName; }
  // Replaces the member's name (local record only). Index must lie within range.
  void SetName(int32_t Index, const std::string& Value) { LocalFiles[Index].FileName = Value; }

  // The member's uncompressed data after its CRC-32 test. An encrypted member
  // (traditional or WinZip AES) is decrypted with Password. Raises Exception
  // "Index out of range." for a bad index, EZipFileError for an encrypted member
  // while Password is empty or for an unsupported method, EZipPasswordError
  // for a wrong password, EZipCryptoError when the member cannot be decrypted
  // here, EDecompressionError ("Error") for corrupt deflate data and
  // EZipFileCRCError when the data are short or the CRC differs.
  std::string GetUncompressed(int32_t Index) const;

  // The password of encrypted members (UTF-8); empty: none. Never stored
  // anywhere; wipe it (common/Text.h) when done.
  std::string Password;

  // Appends an empty deflated member named Name whose central record carries
  // Attributes as its external attributes. Raises EZipFileError when the name is
  // longer than the format allows.
  void AddFile(const std::string& Name, uint32_t Attributes);

  // Deflates Data into member Index and fills its header fields. Raises
  // Exception "Index out of range.", ECompressionError ("Error") when zlib fails,
  // EZipFileError when Data or its compressed form reach 4 GiB.
  void SetUncompressed(int32_t Index, const std::string& Data);

  // Writes the whole archive at the stream's current position, recomputing all
  // offsets and the end record. Checks everything first and raises EZipFileError
  // without writing when the archive would break the format's limits or a
  // member's header no longer matches its strings; raises EWriteError when the
  // stream does not take every byte.
  void SaveToStream(TStream& Stream);

  // Writes the archive to FileName, replacing any existing file only after the
  // whole archive was written: the previous file stays intact on any failure.
  // Raises EFCreateError when the file cannot be created or replaced.
  void SaveToFile(const std::string& FileName);
};


// The DOS form of a local date and time: 0 when the year lies outside 1980..2107.
uint32_t DosDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second);
// The local wall-clock time now, in DOS form.
uint32_t DosDateTimeNow();
