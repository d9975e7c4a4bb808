#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// ---- TStream ----

int64_t TStream::GetSize() {
  const int64_t position = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("The stream cannot change its size"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    const int64_t n = Read(p, count);
    if (n <= 0) throw ReadError();
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    const int64_t n = Write(p, count);
    if (n <= 0) throw WriteError();
    p += n;
    count -= n;
  }
}

// ---- TMemoryStream ----

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = GetSize();
  if (count <= 0 || FPosition >= size) return 0;
  const int64_t n = std::min(count, size - FPosition);
  std::memcpy(buffer, Data.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = FPosition + count;
  if (end > static_cast<int64_t>(Data.max_size())) return 0;
  if (end > GetSize()) Data.resize(static_cast<size_t>(end));
  std::memcpy(&Data[static_cast<size_t>(FPosition)], buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = FPosition; break;
    case TSeekOrigin::soEnd: base = GetSize(); break;
  }
  const int64_t target = base + offset;
  if (target < 0) throw EStreamError("Invalid stream position");
  FPosition = target;
  return FPosition;
}

// ---- the platform file layer ----
//
// Each platform supplies a handful of primitives (open, one read or write
// call, seek, size, close, a unique file in a folder, rename, delete, error
// text); the stream's loops and the error reports are shared.

namespace {

#ifdef _WIN32
using TRawHandle = HANDLE;
const TRawHandle kNoHandle = INVALID_HANDLE_VALUE;
TRawHandle FromStored(intptr_t v) { return reinterpret_cast<HANDLE>(v); }
intptr_t ToStored(TRawHandle h) { return reinterpret_cast<intptr_t>(h); }

// Opens or creates a file; kNoHandle with the error code on failure.
TRawHandle RawOpen(const std::string& name, uint32_t mode, uint32_t& code) {
  DWORD share = 0;  // exclusive
  switch (mode & 0xF0) {
    case fmShareDenyWrite: share = FILE_SHARE_READ; break;
    case fmShareDenyRead: share = FILE_SHARE_WRITE; break;
    case fmShareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
  }
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = CREATE_ALWAYS;
  if ((mode & fmCreate) != fmCreate) {
    disposition = OPEN_EXISTING;
    access = GENERIC_READ;
    if ((mode & 3) == fmOpenWrite) access = GENERIC_WRITE;
    if ((mode & 3) == fmOpenReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  }
  HANDLE h = CreateFileA(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) code = GetLastError();
  return h;
}

// One read or write call of at most 1 GiB: the bytes moved, or -1 with the
// error code.
int64_t RawRead(TRawHandle h, void* buffer, int64_t count, uint32_t& code) {
  DWORD done = 0;
  if (ReadFile(h, buffer, static_cast<DWORD>(std::min<int64_t>(count, 1 << 30)), &done, nullptr)) return done;
  code = GetLastError();
  return -1;
}

int64_t RawWrite(TRawHandle h, const void* buffer, int64_t count, uint32_t& code) {
  DWORD done = 0;
  if (WriteFile(h, buffer, static_cast<DWORD>(std::min<int64_t>(count, 1 << 30)), &done, nullptr)) return done;
  code = GetLastError();
  return -1;
}

bool RawSeek(TRawHandle h, int64_t offset, TSeekOrigin origin, int64_t& result) {
  DWORD method = FILE_BEGIN;
  if (origin == TSeekOrigin::soCurrent) method = FILE_CURRENT;
  if (origin == TSeekOrigin::soEnd) method = FILE_END;
  LARGE_INTEGER distance, moved;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(h, distance, &moved, method)) return false;
  result = moved.QuadPart;
  return true;
}

bool RawSize(TRawHandle h, int64_t& size) {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(h, &n)) return false;
  size = n.QuadPart;
  return true;
}

void RawClose(TRawHandle h) { CloseHandle(h); }

// Creates name as a new empty file; false with the error code when it exists
// or cannot be made.
bool RawCreateNew(const std::string& name, uint32_t& code) {
  HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    code = GetLastError();
    return false;
  }
  CloseHandle(h);
  return true;
}
const uint32_t kExistsCode = ERROR_FILE_EXISTS;
uint32_t ProcessNumber() { return GetCurrentProcessId(); }

bool RawRename(const std::string& from, const std::string& to, bool replace, uint32_t& code) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExA(from.c_str(), to.c_str(), flags)) return true;
  code = GetLastError();
  return false;
}

bool RawTruncate(TRawHandle h, int64_t size) {
  int64_t position = 0, unused = 0;
  if (!RawSeek(h, 0, TSeekOrigin::soCurrent, position) || !RawSeek(h, size, TSeekOrigin::soBeginning, unused))
    return false;
  const bool done = SetEndOfFile(h) != 0;
  return RawSeek(h, position, TSeekOrigin::soBeginning, unused) && done;
}

void RawDelete(const std::string& name) { DeleteFileA(name.c_str()); }

#else  // POSIX

using TRawHandle = int;
const TRawHandle kNoHandle = -1;
TRawHandle FromStored(intptr_t v) { return static_cast<int>(v); }
intptr_t ToStored(TRawHandle h) { return h; }

TRawHandle RawOpen(const std::string& name, uint32_t mode, uint32_t& code) {
  int flags = O_RDWR | O_CREAT | O_TRUNC;
  if ((mode & fmCreate) != fmCreate) {
    flags = O_RDONLY;
    if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
    if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
  }
  const int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) code = static_cast<uint32_t>(errno);
  return fd;
}

// Runs one read or write call again while a signal interrupts it.
template <typename F>
int64_t Retried(F call, uint32_t& code) {
  for (;;) {
    const ssize_t n = call();
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    code = static_cast<uint32_t>(errno);
    return -1;
  }
}

int64_t RawRead(TRawHandle h, void* buffer, int64_t count, uint32_t& code) {
  return Retried([&] { return ::read(h, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30))); }, code);
}

int64_t RawWrite(TRawHandle h, const void* buffer, int64_t count, uint32_t& code) {
  return Retried([&] { return ::write(h, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30))); }, code);
}

bool RawSeek(TRawHandle h, int64_t offset, TSeekOrigin origin, int64_t& result) {
  int whence = SEEK_SET;
  if (origin == TSeekOrigin::soCurrent) whence = SEEK_CUR;
  if (origin == TSeekOrigin::soEnd) whence = SEEK_END;
  const off_t moved = ::lseek(h, static_cast<off_t>(offset), whence);
  if (moved < 0) return false;
  result = moved;
  return true;
}

bool RawSize(TRawHandle h, int64_t& size) {
  struct stat st;
  if (::fstat(h, &st) != 0) return false;
  size = st.st_size;
  return true;
}

void RawClose(TRawHandle h) { ::close(h); }

bool RawCreateNew(const std::string& name, uint32_t& code) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    code = static_cast<uint32_t>(errno);
    return false;
  }
  ::close(fd);
  return true;
}
const uint32_t kExistsCode = EEXIST;
uint32_t ProcessNumber() { return static_cast<uint32_t>(::getpid()); }

bool RawRename(const std::string& from, const std::string& to, bool replace, uint32_t& code) {
  // Without replacing: a hard link fails when the target exists, then the
  // temporary name goes.
  const int rc = replace ? ::rename(from.c_str(), to.c_str()) : ::link(from.c_str(), to.c_str());
  if (rc != 0) {
    code = static_cast<uint32_t>(errno);
    return false;
  }
  if (!replace) ::unlink(from.c_str());
  return true;
}

bool RawTruncate(TRawHandle h, int64_t size) { return ::ftruncate(h, static_cast<off_t>(size)) == 0; }

void RawDelete(const std::string& name) { ::unlink(name.c_str()); }

#endif

// Makes a new empty file beside Target whose name tells what it is and whose
// (see CreateFileBeside); false with the error code when the folder does not
// allow it.
bool MakeUniqueFileBeside(const std::string& target, std::string& name, uint32_t& code) {
  static uint32_t counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const uint32_t unique = (ProcessNumber() << 12) ^ (++counter * 0x9E3779B1u);
    name = target + Format(".quarn-partial-%08lx", static_cast<unsigned long>(unique));
    if (RawCreateNew(name, code)) return true;
    if (code != kExistsCode) return false;
  }
  return false;
}

const char kReadFileText[] = "Cannot read file \"%s\". %s";
const char kWriteFileText[] = "Cannot write file \"%s\". %s";

}  // namespace

#ifdef _WIN32

uint32_t LastErrorCode() { return GetLastError(); }

bool IsDiskFullCode(uint32_t Code) { return Code == ERROR_DISK_FULL || Code == ERROR_HANDLE_DISK_FULL; }

std::string SystemErrorText(uint32_t Code) {
  char* text = nullptr;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, Code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (n != 0 && text != nullptr) result.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == ' ')) result.pop_back();
  if (result.empty()) result = Format("System error. Code: %lu.", static_cast<unsigned long>(Code));
  return result;
}

std::string ExpandFileName(const std::string& FileName) {
  char small[MAX_PATH];
  char* part = nullptr;
  DWORD n = GetFullPathNameA(FileName.c_str(), MAX_PATH, small, &part);
  if (n == 0) return FileName;
  if (n < MAX_PATH) return std::string(small, n);
  std::string big(n, '\0');
  n = GetFullPathNameA(FileName.c_str(), static_cast<DWORD>(big.size()), &big[0], &part);
  if (n == 0 || n >= big.size()) return FileName;
  big.resize(n);
  return big;
}

#else  // POSIX

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

bool IsDiskFullCode(uint32_t Code) { return Code == ENOSPC; }

std::string SystemErrorText(uint32_t Code) {
  std::string text = std::strerror(static_cast<int>(Code));
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

std::string ExpandFileName(const std::string& FileName) {
  if (!FileName.empty() && FileName[0] == '/') return FileName;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return FileName;
  std::string result = cwd;
  if (result.empty() || result.back() != '/') result += '/';
  return result + FileName;
}

#endif

std::string LastSystemErrorText() { return SystemErrorText(LastErrorCode()); }

TFileStream::TFileStream(const std::string& FileName, uint32_t Mode) : FFileName(FileName) {
  uint32_t code = 0;
  const TRawHandle h = RawOpen(FileName, Mode, code);
  if (h == kNoHandle) {
    if ((Mode & fmCreate) == fmCreate) throw EFCreateError(ExpandFileName(FileName), SystemErrorText(code));
    throw EFOpenError(ExpandFileName(FileName), SystemErrorText(code));
  }
  FHandle = ToStored(h);
}

TFileStream::~TFileStream() { RawClose(FromStored(FHandle)); }

// Moves count bytes through as many calls as it takes; stops early at the
// end of a file or a failed call.
template <typename P, typename F>
int64_t Transfer(P* buffer, int64_t count, F call) {
  int64_t total = 0;
  while (count > 0) {
    const int64_t n = call(buffer + total, count);
    if (n <= 0) break;
    total += n;
    count -= n;
  }
  return total;
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  return Transfer(static_cast<char*>(buffer), count,
                  [&](char* p, int64_t n) { return RawRead(FromStored(FHandle), p, n, FLastError); });
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  return Transfer(static_cast<const char*>(buffer), count,
                  [&](const char* p, int64_t n) { return RawWrite(FromStored(FHandle), p, n, FLastError); });
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t result = 0;
  if (!RawSeek(FromStored(FHandle), offset, origin, result)) throw EStreamError(LastSystemErrorText());
  return result;
}

void TFileStream::SetSize(int64_t Size) {
  if (!RawTruncate(FromStored(FHandle), Size)) throw EStreamError(LastSystemErrorText());
}

int64_t TFileStream::GetSize() {
  int64_t size = 0;
  if (!RawSize(FromStored(FHandle), size)) throw EStreamError(LastSystemErrorText());
  return size;
}

EReadError TFileStream::ReadError() const {
  if (FLastError == 0) return EReadError();
  return EReadError(Format(kReadFileText, ExpandFileName(FFileName).c_str(), SystemErrorText(FLastError).c_str()));
}

EWriteError TFileStream::WriteError() const {
  if (FLastError == 0) return EWriteError();
  EWriteError error(Format(kWriteFileText, ExpandFileName(FFileName).c_str(), SystemErrorText(FLastError).c_str()));
  error.SystemCode = FLastError;
  return error;
}

std::unique_ptr<TFileStream> CreateFileBeside(const std::string& Target, std::string& TempName) {
  uint32_t code = 0;
  if (!MakeUniqueFileBeside(Target, TempName, code)) throw EFCreateError(ExpandFileName(Target), SystemErrorText(code));
  try {
    return std::make_unique<TFileStream>(TempName, fmCreate | fmShareExclusive);
  } catch (const EFCreateError& e) {
    DeleteFileQuietly(TempName);
    throw EFCreateError(ExpandFileName(Target), e.SystemText);
  }
}

void PutFileInPlace(const std::string& TempName, const std::string& Target, bool Replace) {
  uint32_t code = 0;
  if (!RawRename(TempName, Target, Replace, code)) throw EFCreateError(ExpandFileName(Target), SystemErrorText(code));
}

void DeleteFileQuietly(const std::string& FileName) { RawDelete(FileName); }
