#include "Files.h"

#include <windows.h>

#include "Text.h"

namespace {

DWORD Attributes(const std::string& Path) { return GetFileAttributesA(Path.c_str()); }
DWORD Attributes(const std::wstring& Path) { return GetFileAttributesW(Path.c_str()); }
BOOL MakeFolder(const std::string& Path) { return CreateDirectoryA(Path.c_str(), nullptr); }
BOOL MakeFolder(const std::wstring& Path) { return CreateDirectoryW(Path.c_str(), nullptr); }
BOOL SetAttributes(const std::string& Path, DWORD a) { return SetFileAttributesA(Path.c_str(), a); }
BOOL SetAttributes(const std::wstring& Path, DWORD a) { return SetFileAttributesW(Path.c_str(), a); }

template <typename S>
bool Force(S path, uint32_t attributes) {
  using C = typename S::value_type;
  while (!path.empty() && (path.back() == C('\\') || path.back() == C('/'))) path.pop_back();
  if (path.empty() || path.back() == C(':')) return true;  // nothing, or a drive
  const DWORD a = Attributes(path);
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t cut = path.find_last_of(S{C('\\'), C('/')});
  // "\\server\share" and "\\?\C:" have no parent to make.
  if (cut != S::npos && cut > 0 && path[cut - 1] != C('\\') && !Force(path.substr(0, cut), 0)) return false;
  if (!MakeFolder(path)) return DirectoryExists(path);  // made meanwhile by someone else
  if (attributes != 0) SetAttributes(path, attributes);
  return true;
}

template <typename S>
bool Exists(const S& path, DWORD want) {
  const DWORD a = Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if (want == 0) return true;
  return (a & FILE_ATTRIBUTE_DIRECTORY) == (want & FILE_ATTRIBUTE_DIRECTORY);
}

constexpr DWORD kAny = 0, kFile = FILE_ATTRIBUTE_NORMAL, kFolder = FILE_ATTRIBUTE_DIRECTORY;

}  // namespace

bool PathExists(const std::string& Path) { return Exists(Path, kAny); }
bool PathExists(const std::wstring& Path) { return Exists(Path, kAny); }
bool FileExists(const std::string& Path) { return Exists(Path, kFile); }
bool FileExists(const std::wstring& Path) { return Exists(Path, kFile); }
bool DirectoryExists(const std::string& Path) { return Exists(Path, kFolder); }
bool DirectoryExists(const std::wstring& Path) { return Exists(Path, kFolder); }
bool ForceDirectories(const std::string& Path) { return Force(Path, 0); }
bool ForceDirectories(const std::wstring& Path, uint32_t Attributes) { return Force(Path, Attributes); }

std::wstring LongPathForm(const std::wstring& Path) {
  if (Path.size() < MAX_PATH - 12 || Path.compare(0, 4, L"\\\\?\\") == 0) return Path;
  // The prefix turns off the system's own clean-up of the path ("/", ".",
  // ".."), so the path is made full first.
  DWORD n = GetFullPathNameW(Path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return Path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(Path.c_str(), n, &full[0], nullptr);
  full.resize(n);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.compare(0, 2, L"\\\\") == 0 && full.compare(0, 4, L"\\\\.\\") != 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return Path;
}

uint64_t FileSizeOf(const std::string& Path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(LongPathForm(AnsiToWide(Path)).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RemoveFile(const std::wstring& Path) {
  const std::wstring path = LongPathForm(Path);
  if (!FileExists(path)) return false;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str()) != 0;
}
