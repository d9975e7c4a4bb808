#pragma once
// TZipReader: walks a zip archive's members without holding the archive in
// memory, and extracts each member in bounded chunks straight into its output.
//
// The index is the central directory when the archive has a sound one (found
// through the end record, zip64 included); each member is then read at the
// offset the directory gives, so a damaged member costs that member alone.
// Offsets that are all off by one distance (data before the archive, an
// archive cut out of a bigger file, a wrong offset in the end record) are
// corrected by it. Without a sound directory (an archive cut short, or written
// to a pipe) the reader walks the local headers from the first one in the file,
// delimiting members whose sizes follow their data by their deflate stream;
// the walk ends at the first damage, keeping the members before it.
//
// Whatever the damage, the reader offers members, names the members it
// cannot offer (MissingMembers, MembersFromOverlap) or raises an error: it
// does none of these only for an archive that holds no local header at all
// and whose end record lists none (an empty archive).
//
// Memory stays bounded whatever the archive's size: the index holds one entry
// per member (its header fields, name, extra field and comment), and one member
// is inflated at a time through buffers of at most a few MiB.
//
// Single-threaded: call it from one thread. All failures are exceptions that
// name the member and the reason.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Streams.h"
#include "ZipProgress.h"
#include "ZipRecords.h"

// Where a member's data lie: its local header's offset, its compressed size
// and the length of its name as known before the local header is read (0
// when unknown).
struct TMemberExtent {
  uint64_t LocalHeaderOffset = 0;
  uint64_t CompressedSize = 0;
  size_t NameSize = 0;
};

// The position, in Members' order, of the first member whose data (from its
// local header to the end of its compressed data) run into another member's
// local header or past Limit (where the directory starts; UINT64_MAX when
// unknown), as a zip bomb's members share their data; Members.size() when
// none does. ReadLocalHeader reads the local header at Offset (false when
// none can be read there); it is called only for members whose data end near
// the next header.
size_t FirstOverlappingMember(const std::vector<TMemberExtent>& Members, uint64_t Limit,
                              const std::function<bool(uint64_t Offset, TLocalFile& Header)>& ReadLocalHeader);

// Whether the zip in FileName is the last part of a spanned set (its end
// record lies on a disk after the first); false for a file with no end
// record. Raises EFOpenError when the file cannot be opened.
bool IsSpannedZipEnd(const std::string& FileName);

class TZipReader {
 public:
  // Reads the index of the archive in Archive (not owned; it must outlive the
  // reader). Raises EZipFileError when the archive has no members to offer and
  // is not a zip archive (no end record and no local header at its start).
  explicit TZipReader(TStream& Archive);
  // Opens FileName for reading (others may read it but not write it) and
  // reads its index. Raises EFOpenError when the file cannot be opened.
  explicit TZipReader(const std::string& FileName);
  ~TZipReader();
  TZipReader(const TZipReader&) = delete;
  TZipReader& operator=(const TZipReader&) = delete;

  // True when the members come from the central directory; false when the
  // local headers are walked.
  bool UsesCentralDirectory() const { return FUsesCentral; }
  // True when the archive has an end record but its central directory could
  // not be used (damaged, or not where and what the end record says): the
  // members are read from their local headers.
  bool DirectoryDamaged() const { return FHasListed && !FUsesCentral; }
  // With a damaged directory: the entry the directory (read as far as it can
  // be) gives for the member whose local header is at LocalHeaderOffset, so
  // that a name damaged in one of the two places can be told; null when the
  // directory names no member there.
  const TZipEntry* DirectoryEntryAt(uint64_t LocalHeaderOffset) const;

  // Moves to the next member (the first at the first call). Returns false at
  // the end of the archive. In a walk, a damaged local header, or a member
  // whose end could not be found, raises EZipFileError naming the last member
  // read and how many members the end record listed but the walk did not
  // reach; the walk is over then.
  bool Next();
  // The current member. Its sizes and CRC may be 0 until it was extracted when
  // they follow its data (a walk only).
  const TZipEntry& Entry() const { return FEntry; }
  // The archive comment (empty without an end record).
  const std::string& Comment() const { return FComment; }
  // The members the central directory lists, in its order (the members
  // MissingMembers names left out); empty in a walk.
  const std::vector<TZipEntry>& Index() const { return FIndex; }
  // Members the central directory lists whose data lay before the start of
  // this file (it was cut out of a bigger one): they cannot be extracted, and
  // Next() passes over them. Empty in a walk.
  const std::vector<TZipEntry>& MissingMembers() const { return FMissing; }
  // The members the central directory lists from the first one on whose data
  // (from its local header to the end of its compressed data) run into
  // another member's local header or into the directory, as a zip bomb's
  // members share their data: Next() ends before them. Empty in a walk.
  const std::vector<TZipEntry>& MembersFromOverlap() const { return FFromOverlap; }
  // The uncompressed size of the files (not folders) that Next() has still to
  // offer, as the central directory states it; 0 in a walk. The reader never
  // writes more than a member's stated size.
  uint64_t StatedSize() const;

  // Writes the current member's data to Out in chunks and tests their CRC-32
  // and size; an encrypted member (traditional or WinZip AES) is decrypted
  // with Password on the way. Raises EZipFileError for an unsupported method
  // or a missing local header, EZipPasswordError for an encrypted member
  // while Password is empty or wrong, EZipCryptoError when the member
  // cannot be decrypted here or (as EZipAuthenticationError) its AES data are
  // damaged, EDecompressionError for corrupt deflate
  // data, EZipFileCRCError when the data are short or their CRC differs, the
  // stream's write error, and EAbort when the progress hook asked to stop.
  // Data already written to Out stay there: the caller discards them.
  void ExtractTo(TStream& Out);
  // ExtractTo a new file at Path (created, or replacing an existing file).
  // On any failure the file is removed again, so no partial file is left that
  // could pass for the member; the error is raised as above.
  void ExtractToFile(const std::string& Path);

  // Extracts the members from the current one on, as the Unzip command does.
  // For each member, in archive order and on the calling thread, PathFor
  // gives the file to write ("" for none: a folder, or a member the caller
  // passes over), and Done is told the outcome: a null error when the file
  // was written, else the member's error (its file removed, as ExtractToFile
  // does). When the archive was opened by name and has an index, members are
  // read, inflated and written on worker threads (Threads; 0: one per
  // processor), a window ahead of the calls; otherwise one after another.
  // Raises what Next raises, and EAbort when the hook asked to stop (files
  // being written then are removed; those told to Done stay).
  using TPathFor = std::function<std::string(const TZipEntry&)>;
  using TMemberDone = std::function<void(const TZipEntry&, const std::exception_ptr&)>;
  void ExtractAll(const TPathFor& PathFor, const TMemberDone& Done, int Threads = 0);

  // Told the archive bytes done and the member at hand, see ZipProgress.h.
  TZipProgressHook OnProgress;
  // The password of encrypted members (UTF-8); empty: none. Set it before
  // extracting; never stored anywhere. The caller wipes it when done.
  std::string Password;
  // Added to the bytes done and total the hook is told, so that a job of
  // several archives can report its whole progress.
  uint64_t ProgressBase = 0;
  uint64_t ProgressTotal = 0;  // 0: the archive's size

 private:
  void ReadIndex();
  bool ReadCentralDirectory(int64_t endRecordAt);
  // Reads what can be read of a directory that is not sound, from where the
  // end record at endRecordAt says it starts, into FSalvaged.
  void SalvageDirectory(int64_t endRecordAt);
  // Ends the index before its first member whose data overlap another
  // member's local header or the directory, which starts at DirectoryStart.
  void StopAtOverlap(uint64_t DirectoryStart);
  // The position of the first local header signature in [From, To), or -1.
  int64_t FindLocalHeader(int64_t From, int64_t To);
  // How many of the first entries have their local header at their offset
  // moved by Shift.
  size_t LocalHeadersAt(const std::vector<TZipEntry>& Index, int64_t Shift);
  bool NextInWalk();
  void SkipWalkedData();
  void BreakWalk();
  void ExtractInParallel(const TPathFor& PathFor, const TMemberDone& Done, int Threads);
  void Report(uint64_t done);

  std::string FFileName;  // when opened by name
  std::unique_ptr<TStream> FOwned;
  TStream& FStream;
  std::unique_ptr<class TArchiveReader> FReader;
  std::unique_ptr<class TMemberReader> FMember;
  bool FUsesCentral = false;
  std::vector<TZipEntry> FIndex;        // the central directory
  std::vector<TZipEntry> FMissing;      // listed there, cut away from this file
  std::vector<TZipEntry> FFromOverlap;  // listed there, from the first overlapping member on
  std::vector<TZipEntry> FSalvaged;     // of a damaged directory, see DirectoryEntryAt
  size_t FNext = 0;                     // index of the member after the current one
  TZipEntry FEntry;
  std::string FComment;
  // A walk: where the current member's data start, where the next header
  // starts (-1: not known yet), and what the end record (when one was found)
  // announced.
  int64_t FDataStart = 0;
  int64_t FNextHeader = 0;
  bool FWalkOver = false;
  bool FWalkBroken = false;  // a member's end could not be found
  uint64_t FListed = 0;
  bool FHasListed = false;
  uint64_t FFound = 0;
};
