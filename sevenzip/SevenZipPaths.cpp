#include "SevenZipPaths.h"

#include <cwchar>

bool UseWideFileApi = true;

std::string WideToAnsi(const std::wstring& s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring AnsiToWide(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
  return out;
}

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

bool DirectoryExistsW(const std::wstring& s) {
  DWORD a = GetFileAttributesW(s.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExistsW(const std::wstring& s) {
  if (UseWideFileApi) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(s.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
  }
  DWORD a = GetFileAttributesA(WideToAnsi(s).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

HANDLE CreateFileAuto(const std::wstring& name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  if (UseWideFileApi) return CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
  return CreateFileA(WideToAnsi(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
}

uint64_t FileSizeW(const std::wstring& name) {
  HANDLE h = CreateFileAuto(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
  if (h == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER zero{}, size{};
  uint64_t result = SetFilePointerEx(h, zero, &size, FILE_END) ? static_cast<uint64_t>(size.QuadPart) : 0;
  CloseHandle(h);
  return result;
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

bool ForceDirectoriesW(const std::wstring& dirIn, uint16_t attributes) {
  if (dirIn.empty()) throw EInOutError(3, "Unable to create directory");
  std::wstring dir = ExcludeTrailingBackslashW(dirIn);
  if (dir.size() < 3 || DirectoryExistsW(dir) || ExtractFilePathW(dir) == dir) return true;
  std::wstring parent = ParentDirW(dir);
  if (!parent.empty() && !ForceDirectoriesW(parent, 0)) return false;
  if (!CreateDirectoryW(dir.c_str(), nullptr)) return false;
  if (attributes != 0) SetFileAttributesW(dir.c_str(), attributes);
  return true;
}

namespace {
// True for a component that Windows path parsing would read as "." or ".."
// (or as nothing): only dots and blanks.
bool IsDotComponent(const std::wstring& c) {
  for (wchar_t ch : c)
    if (ch != L'.' && ch != L' ') return false;
  return true;
}
}  // namespace

std::wstring SafeRelativeItemPath(const std::wstring& itemPath) {
  std::wstring p = itemPath;
  for (wchar_t& c : p)
    if (c == L'/') c = L'\\';
  size_t pos = 0;
  if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') {
    bool unc = true;
    pos = 2;
    if (p.size() >= 4 && (p[2] == L'?' || p[2] == L'.') && p[3] == L'\\') {
      // \\?\ and \\.\ prefixes: a drive path or \\?\UNC\server\share follows.
      pos = 4;
      unc = p.compare(pos, 4, L"UNC\\") == 0;
      if (unc) pos += 4;
    }
    // \\server\share: skip both names.
    for (int skip = 0; unc && skip < 2 && pos < p.size(); ++skip) {
      size_t next = p.find(L'\\', pos);
      pos = next == std::wstring::npos ? p.size() : next + 1;
    }
  }
  if (pos + 1 < p.size() && p[pos + 1] == L':' && iswalpha(p[pos])) pos += 2;

  std::wstring out;
  while (pos < p.size()) {
    size_t next = p.find(L'\\', pos);
    if (next == std::wstring::npos) next = p.size();
    std::wstring comp = p.substr(pos, next - pos);
    pos = next + 1;
    if (comp.empty() || IsDotComponent(comp)) continue;
    for (wchar_t& c : comp)
      if (c == L':') c = L'_';
    if (!out.empty()) out += L'\\';
    out += comp;
  }
  return out;
}
