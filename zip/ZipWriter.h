#pragma once
// TZipWriter: writes a zip archive in one linear pass. Each member is appended
// once (local header, deflated data) and the central directory and end records
// follow at the end, so the bytes written are the archive's size plus a few
// header patches.
//
// Files are read and deflated on worker threads (one per processor, each with
// bounded buffers) and written in the order given, so the archive is the same
// whatever the number of threads. Files up to 16 MiB are deflated whole with
// libdeflate; larger ones stream through zlib in chunks on the calling thread.
//
// zip64 records are written only where a value does not fit: a member of 4 GiB
// or more (zip64 extra field, version 4.5), a local header beyond 4 GiB
// (central extra field), more than 65535 members or a directory beyond 4 GiB
// (zip64 end record and locator). Smaller archives carry no zip64 record.
//
// ZipDiskFiles below is the Zip command's whole job: it writes beside the
// target and puts the archive in place only when it is complete.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Streams.h"
#include "ZipProgress.h"
#include "ZipRecords.h"

struct TZipWriterOptions {
  int Threads = 0;    // worker threads; 0: one per processor
  bool Zlib = false;  // deflate with zlib (as TZipFile) instead of libdeflate
  uint32_t Time = 0;  // DOS time stamp of every member; 0: the time of writing
};

class TZipWriter {
 public:
  // Writes into Out (not owned) from its current position on.
  explicit TZipWriter(TStream& Out, TZipWriterOptions Options = TZipWriterOptions());
  ~TZipWriter();
  TZipWriter(const TZipWriter&) = delete;
  TZipWriter& operator=(const TZipWriter&) = delete;

  // Appends a member named Name holding Data. Raises EZipFileError when the
  // name is longer than 65535 bytes, and the stream's write error.
  void AddMember(const std::string& Name, const std::string& Data);

  // Appends the files in order, each named by ZipMemberName (made free when a
  // member before has the name, see Renamed). Each file is
  // opened with no sharing while it is read. On the first file that cannot be
  // opened or read, or when the hook asks to stop, the members before it stay
  // complete (a partly written member is cut off again) and the error is raised
  // (EFOpenError, EReadError, EWriteError, EAbort, ...). FailedFile() then names
  // the file at hand.
  void AddDiskFiles(const std::vector<std::string>& FileNames);

  // Writes the central directory and the end records. Nothing may be added
  // afterwards. Raises EWriteError.
  void Finish();

  int32_t Count() const;
  // Every byte handed to the stream so far, patches included.
  uint64_t BytesWritten() const;
  const std::string& FailedFile() const;
  // The files stored under a name of their own (file, member name), since a
  // member before had the name ZipMemberName gives them.
  const std::vector<std::pair<std::string, std::string>>& Renamed() const;

  // Told the bytes of input done of all files given, and the member at hand.
  TZipProgressHook OnProgress;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// What ZipDiskFiles did.
struct TZipJobResult {
  int32_t Members = 0;        // members in the archive put at the target
  uint64_t BytesWritten = 0;  // bytes written to disk for it
  uint64_t ArchiveSize = 0;
  std::string FailedFile;  // the file at hand when the job failed or stopped
  std::vector<std::pair<std::string, std::string>> Renamed;  // see TZipWriter::Renamed
};

// The Zip command's job: writes an archive of Files at Target through a
// temporary file beside it (named Target's name + ".quarn-partial-..."), then
// renames it to Target, never replacing a file that exists there. When a file
// fails part-way (or the hook asks to stop), the archive of the files before it
// is finished and put in place all the same (none when no file was added), and
// the error is raised after. A killed program leaves either nothing under
// Target or the complete archive, and at most the temporary file.
// Result is filled in either case. Raises EFCreateError when the temporary
// file or Target cannot be created, and the errors of AddDiskFiles.
void ZipDiskFiles(const std::string& Target, const std::vector<std::string>& Files, TZipJobResult& Result,
                  const TZipWriterOptions& Options = TZipWriterOptions(),
                  const TZipProgressHook& Hook = TZipProgressHook());
