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

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    const int64_t n = Read(p, count);
    if (n <= 0) throw EReadError();
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  auto* p = static_cast<const char*>(buffer);
  while (count > 0) {
    const int64_t n = Write(p, count);
    if (n <= 0) throw EWriteError();
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

#ifdef _WIN32

std::string LastSystemErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (n != 0 && text != nullptr) result.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == ' ')) result.pop_back();
  if (result.empty()) result = Format("System error. Code: %lu.", static_cast<unsigned long>(code));
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

TFileStream::TFileStream(const std::string& FileName, uint32_t Mode) : FFileName(FileName) {
  DWORD share = 0;
  switch (Mode & 0xF0) {
    case fmShareDenyWrite: share = FILE_SHARE_READ; break;
    case fmShareDenyRead: share = FILE_SHARE_WRITE; break;
    case fmShareDenyNone: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    default: share = 0; break;  // exclusive
  }
  if ((Mode & fmCreate) == fmCreate) {
    FHandle = CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (FHandle == INVALID_HANDLE_VALUE) {
      const std::string text = LastSystemErrorText();
      throw EFCreateError(ExpandFileName(FileName), text);
    }
    return;
  }
  DWORD access = GENERIC_READ;
  if ((Mode & 3) == fmOpenWrite) access = GENERIC_WRITE;
  if ((Mode & 3) == fmOpenReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  FHandle = CreateFileA(FileName.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (FHandle == INVALID_HANDLE_VALUE) {
    const std::string text = LastSystemErrorText();
    throw EFOpenError(ExpandFileName(FileName), text);
  }
}

TFileStream::~TFileStream() {
  if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count, 1 << 30));
    DWORD done = 0;
    if (!ReadFile(FHandle, p, chunk, &done, nullptr) || done == 0) break;
    p += done;
    total += done;
    count -= done;
    if (done < chunk) break;
  }
  return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  auto* p = static_cast<const char*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(count, 1 << 30));
    DWORD done = 0;
    if (!WriteFile(FHandle, p, chunk, &done, nullptr) || done == 0) break;
    p += done;
    total += done;
    count -= done;
  }
  return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  DWORD method = FILE_BEGIN;
  if (origin == TSeekOrigin::soCurrent) method = FILE_CURRENT;
  if (origin == TSeekOrigin::soEnd) method = FILE_END;
  LARGE_INTEGER distance;
  LARGE_INTEGER result;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(FHandle, distance, &result, method)) throw EStreamError(LastSystemErrorText());
  return result.QuadPart;
}

int64_t TFileStream::GetSize() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(FHandle, &size)) throw EStreamError(LastSystemErrorText());
  return size.QuadPart;
}

static std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/:");
  if (slash == std::string::npos) return ".";
  if (path[slash] == ':') return path.substr(0, slash + 1);
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

TFileStream* CreateFileBeside(const std::string& Target, std::string& TempName) {
  const std::string folder = FolderOf(Target);
  char name[MAX_PATH + 1];
  if (GetTempFileNameA(folder.c_str(), "qrn", 0, name) == 0) {
    const std::string text = LastSystemErrorText();
    throw EFCreateError(ExpandFileName(Target), text);
  }
  TempName = name;
  try {
    return new TFileStream(TempName, fmCreate | fmShareExclusive);
  } catch (const EFCreateError&) {
    const std::string text = LastSystemErrorText();
    DeleteFileQuietly(TempName);
    throw EFCreateError(ExpandFileName(Target), text);
  }
}

void PutFileInPlace(const std::string& TempName, const std::string& Target) {
  if (!MoveFileExA(TempName.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const std::string text = LastSystemErrorText();
    throw EFCreateError(ExpandFileName(Target), text);
  }
}

void DeleteFileQuietly(const std::string& FileName) { DeleteFileA(FileName.c_str()); }

#else  // POSIX

std::string LastSystemErrorText() {
  std::string text = std::strerror(errno);
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

TFileStream::TFileStream(const std::string& FileName, uint32_t Mode) : FFileName(FileName) {
  if ((Mode & fmCreate) == fmCreate) {
    FHandle = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0) {
      const std::string text = LastSystemErrorText();
      throw EFCreateError(ExpandFileName(FileName), text);
    }
    return;
  }
  int flags = O_RDONLY;
  if ((Mode & 3) == fmOpenWrite) flags = O_WRONLY;
  if ((Mode & 3) == fmOpenReadWrite) flags = O_RDWR;
  FHandle = ::open(FileName.c_str(), flags | O_CLOEXEC);
  if (FHandle < 0) {
    const std::string text = LastSystemErrorText();
    throw EFOpenError(ExpandFileName(FileName), text);
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const ssize_t n = ::read(FHandle, p, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    total += n;
    count -= n;
  }
  return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  auto* p = static_cast<const char*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    const ssize_t n = ::write(FHandle, p, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    total += n;
    count -= n;
  }
  return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  if (origin == TSeekOrigin::soCurrent) whence = SEEK_CUR;
  if (origin == TSeekOrigin::soEnd) whence = SEEK_END;
  const off_t result = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (result < 0) throw EStreamError(LastSystemErrorText());
  return result;
}

int64_t TFileStream::GetSize() {
  struct stat st;
  if (::fstat(FHandle, &st) != 0) throw EStreamError(LastSystemErrorText());
  return st.st_size;
}

TFileStream* CreateFileBeside(const std::string& Target, std::string& TempName) {
  const size_t slash = Target.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : Target.substr(0, slash == 0 ? 1 : slash);
  std::string pattern = folder + "/.qrnXXXXXX";
  const int fd = ::mkstemp(&pattern[0]);
  if (fd < 0) {
    const std::string text = LastSystemErrorText();
    throw EFCreateError(ExpandFileName(Target), text);
  }
  // mkstemp makes the file private; give it the mode a newly created file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  TempName = pattern;
  try {
    return new TFileStream(TempName, fmCreate | fmShareExclusive);
  } catch (const EFCreateError&) {
    const std::string text = LastSystemErrorText();
    DeleteFileQuietly(TempName);
    throw EFCreateError(ExpandFileName(Target), text);
  }
}

void PutFileInPlace(const std::string& TempName, const std::string& Target) {
  if (::rename(TempName.c_str(), Target.c_str()) != 0) {
    const std::string text = LastSystemErrorText();
    throw EFCreateError(ExpandFileName(Target), text);
  }
}

void DeleteFileQuietly(const std::string& FileName) { ::unlink(FileName.c_str()); }

#endif
