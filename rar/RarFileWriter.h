#pragma once
// Writes the files of an extraction on a thread of its own, so that the
// library unpacks the next data while the last are being written: the RAR
// component hands each file's data over as the library unpacks them (in the
// library's test mode, which checks the data without writing them), and this
// writer creates, fills, stamps and closes the files in the same order.
//
// A file is created at its first data (or, when it has none, when it is
// finished), so that a file already at its place stays untouched when its
// extraction fails before any of its data came. Memory is bounded: a writer
// that falls behind makes the data's giver wait.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include "Sync.h"

class TRarFileWriter {
 public:
  // Called on the writer's thread once a file was written, stamped and
  // closed, with its path.
  using TWritten = std::function<void(const std::wstring& Path)>;
  explicit TRarFileWriter(TWritten Written);
  // Waits until everything given was written (see Finish).
  ~TRarFileWriter();
  TRarFileWriter(const TRarFileWriter&) = delete;
  TRarFileWriter& operator=(const TRarFileWriter&) = delete;

  // The data given next belong to the file at Path (its folders are made).
  void Begin(const std::wstring& Path);
  // A folder at Path (with its parents), given Attributes when they are not
  // the plain ones: made in its turn among the files.
  void Folder(const std::wstring& Path, DWORD Attributes);
  // The next Size bytes of the current file. Blocks while much is waiting to
  // be written; false once a write has failed (see Failed), when the giver
  // should stop.
  bool Write(const void* Data, size_t Size);
  // The current file is complete (Keep: stamped with the last-write time
  // Time, when given, and the attributes Attributes, then closed), or is to
  // be removed (Keep false: its extraction failed or stopped).
  void End(bool Keep, const FILETIME* Time, DWORD Attributes);
  // Waits until every file given was written or removed. True when all went
  // well; otherwise the file whose creation or writing failed, its system
  // error code and whether it failed to be created. An exception raised on
  // the writer's thread (by Written, or by the writer itself: memory) ended
  // the writing as a failed write does; Finish raises it again.
  bool Finish(std::wstring& FailedPath, DWORD& Error, bool& Creating);
  // A write failed, or an exception ended the writing (the failing file was
  // removed); what follows is dropped.
  bool Failed();

 private:
  struct TJob {
    enum TKind { Open, Data, Close, MakeFolder };
    TJob(TKind Kind_ = Open) : Kind(Kind_) {}
    TKind Kind;
    std::wstring Path;
    std::string Bytes;
    bool Keep = false;
    bool HasTime = false;
    FILETIME Time{};
    DWORD Attributes = 0;
  };
  void Push(TJob&& Job);
  void Run();
  // The writer's side: one job.
  void Handle(TJob& Job);
  // The writer's side: opens the current file when it is not open yet.
  bool OpenCurrent();
  // The current file failed (its writing or creation, with the system's
  // Error, or by the exception Exception): what this writer made of it is
  // removed, and the first failure is kept.
  void Fail(DWORD Error, bool Creating, std::exception_ptr Exception = nullptr);

  TWritten FWritten;
  TLock FLock;
  TCondition FChanged;
  std::deque<TJob> FJobs;
  size_t FWaitingBytes = 0;  // data bytes in FJobs
  bool FDone = false;        // no more jobs will come
  bool FIdle = true;         // the writer has nothing in hand
  bool FFailed = false;
  std::wstring FFailedPath;
  DWORD FError = 0;
  bool FCreating = false;
  std::exception_ptr FException;
  // The writer's own: the current file.
  std::wstring FPath;
  HANDLE FFile = INVALID_HANDLE_VALUE;
  bool FMade = false;      // the current file was created by this writer and is not finished
  bool FSkipping = false;  // the current file failed: its data are dropped
  std::thread FThread;
};
