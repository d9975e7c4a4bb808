#include "SevenZipPaths.h"

#include <cwchar>

#include "Files.h"
#include "Win32Kit.h"

namespace {
bool WindowsHasWideFileFunctions() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return !(GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS);
#pragma GCC diagnostic pop
}
}  // namespace

const bool UseWideFileApi = WindowsHasWideFileFunctions();

int LastDelimiterW(const std::wstring& delimiters, const std::wstring& s) {
  for (size_t i = s.size(); i > 0; --i) {
    wchar_t c = s[i - 1];
    if (c != L'\0' && delimiters.find(c) != std::wstring::npos) return static_cast<int>(i);
  }
  return 0;
}

std::wstring ExtractFilePathW(const std::wstring& s) { return s.substr(0, LastDelimiterW(L"\\:", s)); }

std::wstring ExtractFileNameW(const std::wstring& s) { return s.substr(LastDelimiterW(L"\\:", s)); }

std::wstring ExtractFileExtW(const std::wstring& s) {
  int i = LastDelimiterW(L".\\:", s);
  if (i > 0 && s[i - 1] == L'.') return s.substr(i - 1);
  return std::wstring();
}

std::wstring ChangeFileExtW(const std::wstring& s, const std::wstring& ext) {
  int i = LastDelimiterW(L".\\:", s);
  std::wstring base = (i == 0 || s[i - 1] != L'.') ? s : s.substr(0, i - 1);
  return base + ext;
}

std::wstring ExcludeTrailingBackslashW(const std::wstring& s) {
  if (!s.empty() && s.back() == L'\\') return s.substr(0, s.size() - 1);
  return s;
}

std::wstring AddTrailingBackslash(const std::wstring& s) {
  if (s.empty() || s.back() == L'\\') return s;
  return s + L'\\';
}

std::wstring ParentDirW(const std::wstring& s) {
  std::wstring d = ExcludeTrailingBackslashW(s);
  size_t p = d.rfind(L'\\');
  if (p == std::wstring::npos) return std::wstring();
  return d.substr(0, p + 1);
}

std::wstring UpperCaseW(const std::wstring& s) {
  std::wstring r = s;
  if (!r.empty()) CharUpperBuffW(&r[0], static_cast<DWORD>(r.size()));
  return r;
}

bool DirectoryExistsW(const std::wstring& s) { return DirectoryExists(LongPathForm(s)); }

// The wide variant finds folders too; the ANSI one files only.
bool FileExistsW(const std::wstring& s) {
  return UseWideFileApi ? PathExists(LongPathForm(s)) : FileExists(WideToAnsi(s));
}

HANDLE CreateFileAuto(const std::wstring& name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  if (UseWideFileApi)
    return CreateFileW(LongPathForm(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
  return CreateFileA(WideToAnsi(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

uint64_t FileSizeW(const std::wstring& name) {
  const THandle h(CreateFileAuto(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
  LARGE_INTEGER zero{}, size{};
  if (!h || !SetFilePointerEx(h.Get(), zero, &size, FILE_END)) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

bool IsRemovableDrive(const std::wstring& path) {
  std::wstring root = ExtractFilePathW(path).substr(0, 2);
  if (root.size() == 2 && root[1] == L':') root += L'\\';
  return GetDriveTypeW(root.c_str()) != DRIVE_FIXED;
}

double FileTimeToDateTime(const FILETIME& t, int mode) {
  FILETIME ft = t;
  if (mode > 0)
    FileTimeToLocalFileTime(&t, &ft);
  else if (mode < 0)
    LocalFileTimeToFileTime(&t, &ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  // 1601-01-01 is day -109205 counted from 1899-12-30.
  return static_cast<double>(ticks) * 1e-7 / 86400.0 - 109205.0;
}

bool TryParseIndex(const std::wstring& text, int64_t& value) {
  std::string a = WideToAnsi(text);
  if (a.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (a[0] == '+' || a[0] == '-') {
    negative = a[0] == '-';
    i = 1;
  }
  if (i >= a.size()) return false;
  int64_t v = 0;
  for (; i < a.size(); ++i) {
    if (a[i] < '0' || a[i] > '9') return false;
    if (v > (INT64_MAX - 9) / 10) return false;
    v = v * 10 + (a[i] - '0');
  }
  value = negative ? -v : v;
  return true;
}

void SortIndices(std::vector<uint32_t>& a, int lo, int hi) {
  if (lo >= hi) return;
  int i = lo, j = hi;
  const uint32_t pivot = a[(lo + hi) / 2];
  while (i <= j) {
    while (a[i] < pivot) ++i;
    while (a[j] > pivot) --j;
    if (i <= j) {
      std::swap(a[i], a[j]);
      ++i;
      --j;
    }
  }
  if (lo < j) SortIndices(a, lo, j);
  if (i < hi) SortIndices(a, i, hi);
}

bool ForceDirectoriesW(const std::wstring& dir, uint16_t attributes) {
  if (dir.empty()) throw EInOutError(3, "Unable to create directory");
  return ForceDirectories(UseWideFileApi ? LongPathForm(dir) : dir, attributes);
}
