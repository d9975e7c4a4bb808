#include "RarFileWriter.h"

#include "Files.h"
#include "Sync.h"

namespace {
// Data waiting to be written at most, before the giver waits.
constexpr size_t kWaitingLimit = 4u << 20;
// Attribute bits a file can be given (the library gives the ones stored).
constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::wstring FolderOfPath(const std::wstring& Path) {
  const size_t cut = Path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : Path.substr(0, cut);
}
}  // namespace

TRarFileWriter::TRarFileWriter(TWritten Written) : FWritten(std::move(Written)), FThread([this] { Run(); }) {}

TRarFileWriter::~TRarFileWriter() {
  {
    const std::lock_guard<TLock> lock(FLock);
    FDone = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TRarFileWriter::Push(TJob&& Job) {
  std::unique_lock<TLock> lock(FLock);
  FChanged.wait(lock, [&] { return FFailed || FWaitingBytes < kWaitingLimit; });
  FWaitingBytes += Job.Bytes.size();
  FJobs.push_back(std::move(Job));
  lock.unlock();
  FChanged.notify_all();
}

void TRarFileWriter::Begin(const std::wstring& Path) {
  TJob job(TJob::Open);
  job.Path = Path;
  Push(std::move(job));
}

void TRarFileWriter::Folder(const std::wstring& Path, DWORD Attributes) {
  TJob job(TJob::MakeFolder);
  job.Path = Path;
  job.Attributes = Attributes;
  Push(std::move(job));
}

bool TRarFileWriter::Write(const void* Data, size_t Size) {
  if (Failed()) return false;
  TJob job(TJob::Data);
  job.Bytes.assign(static_cast<const char*>(Data), Size);
  Push(std::move(job));
  return !Failed();
}

void TRarFileWriter::End(bool Keep, const FILETIME* Time, DWORD Attributes) {
  TJob job(TJob::Close);
  job.Keep = Keep;
  job.HasTime = Time != nullptr;
  if (Time != nullptr) job.Time = *Time;
  job.Attributes = Attributes;
  Push(std::move(job));
}

bool TRarFileWriter::Failed() {
  const std::lock_guard<TLock> lock(FLock);
  return FFailed;
}

bool TRarFileWriter::Finish(std::wstring& FailedPath, DWORD& Error, bool& Creating) {
  std::unique_lock<TLock> lock(FLock);
  FChanged.wait(lock, [&] { return FJobs.empty() && FIdle; });
  if (FException) std::rethrow_exception(FException);
  FailedPath = FFailedPath;
  Error = FError;
  Creating = FCreating;
  return !FFailed;
}

bool TRarFileWriter::OpenCurrent() {
  if (FFile != INVALID_HANDLE_VALUE) return true;
  const std::wstring path = LongPathForm(FPath);
  const std::wstring folder = FolderOfPath(FPath);
  if (!folder.empty()) ForceDirectories(folder);
  for (int attempt = 0; attempt < 2; ++attempt) {
    FFile = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FFile != INVALID_HANDLE_VALUE) return FMade = true;
    // A read-only (or hidden) file of the name is replaced as the library
    // replaces it: its attributes are cleared first.
    if (attempt > 0 || GetLastError() != ERROR_ACCESS_DENIED ||
        !SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
      break;
  }
  Fail(GetLastError(), true);
  return false;
}

void TRarFileWriter::Fail(DWORD Error, bool Creating, std::exception_ptr Exception) {
  if (FFile != INVALID_HANDLE_VALUE) {
    CloseHandle(FFile);
    FFile = INVALID_HANDLE_VALUE;
  }
  // What this writer made of the current file goes (its attributes may be set already).
  if (FMade) RemoveFile(FPath);
  FMade = false;
  FSkipping = true;
  const std::lock_guard<TLock> lock(FLock);
  if (!FFailed) {
    FFailed = true;
    FFailedPath = FPath;
    FError = Error;
    FCreating = Creating;
    FException = Exception;
  }
}

void TRarFileWriter::Handle(TJob& Job) {
  switch (Job.Kind) {
    case TJob::MakeFolder:
      if (Failed()) break;
      ForceDirectories(Job.Path);
      if ((Job.Attributes & kSettable & ~FILE_ATTRIBUTE_ARCHIVE) != 0)
        SetFileAttributesW(LongPathForm(Job.Path).c_str(), (Job.Attributes & kSettable) | FILE_ATTRIBUTE_DIRECTORY);
      break;
    case TJob::Open:
      FMade = false;
      FPath = std::move(Job.Path);
      FSkipping = Failed();  // after a failure, nothing more is written
      break;
    case TJob::Data: {
      if (FSkipping || !OpenCurrent()) break;
      DWORD written = 0;
      if (!WriteFile(FFile, Job.Bytes.data(), static_cast<DWORD>(Job.Bytes.size()), &written, nullptr) ||
          written != Job.Bytes.size())
        Fail(GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT, false);
      break;
    }
    case TJob::Close:
      if (FSkipping) break;
      if (!Job.Keep) {
        // Only what this writer made goes: a file it never opened was
        // there before and stays.
        if (FFile != INVALID_HANDLE_VALUE) {
          CloseHandle(FFile);
          FFile = INVALID_HANDLE_VALUE;
          DeleteFileW(LongPathForm(FPath).c_str());
        }
        FMade = false;
        break;
      }
      if (!OpenCurrent()) break;
      if (Job.HasTime) SetFileTime(FFile, nullptr, nullptr, &Job.Time);
      CloseHandle(FFile);
      FFile = INVALID_HANDLE_VALUE;
      if ((Job.Attributes & kSettable & ~FILE_ATTRIBUTE_ARCHIVE) != 0)
        SetFileAttributesW(LongPathForm(FPath).c_str(), Job.Attributes & kSettable);
      if (FWritten) FWritten(FPath);
      FMade = false;  // finished: it stays, whatever comes next
      break;
  }
}

void TRarFileWriter::Run() {
  for (;;) {
    TJob job;
    {
      std::unique_lock<TLock> lock(FLock);
      FChanged.wait(lock, [&] { return FDone || !FJobs.empty(); });
      if (FJobs.empty()) break;
      job = std::move(FJobs.front());
      FJobs.pop_front();
      FWaitingBytes -= job.Bytes.size();
      FIdle = false;
    }
    FChanged.notify_all();  // room for the giver
    try {
      Handle(job);
    } catch (...) {
      // Nothing may leave the thread: the failure (the writer's own, or
      // Written's) ends the writing as a failed write does, and Finish
      // raises it.
      Fail(0, false, std::current_exception());
    }
    {
      const std::lock_guard<TLock> lock(FLock);
      FIdle = true;
    }
    FChanged.notify_all();
  }
  if (FFile != INVALID_HANDLE_VALUE) {
    CloseHandle(FFile);
    DeleteFileW(LongPathForm(FPath).c_str());
  }
}
