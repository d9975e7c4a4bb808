#pragma once
// Wide-string path and file helpers of the 7z component, its wide string list,
// and the process-wide choice between the wide and ANSI file functions.
// Character positions are 1-based, as everywhere in the component.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Exception.h"
#include "Text.h"

// True: the helpers call the wide Win32 file functions, with paths of any
// length (LongPathForm); false (Windows 9x): they convert the path to the
// ANSI code page and call the ANSI functions. Decided once, when the program
// starts, and never written again.
extern const bool UseWideFileApi;

// A growable list of wide strings. Readers use Count and index Strings directly.
class TWideStringList_ {
 public:
  std::vector<std::wstring> Strings;
  int32_t Count = 0;

  void Add(const std::wstring& s) {
    Strings.push_back(s);
    Count = static_cast<int32_t>(Strings.size());
  }
  void Clear() {
    Strings.clear();
    Count = 0;
  }
};

// Raised by ForceDirectoriesW for an empty path.
class EInOutError : public Exception {
 public:
  EInOutError(int errorCode, const std::string& message) : Exception(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

int LastDelimiterW(const std::wstring& delimiters, const std::wstring& s);
std::wstring ExtractFilePathW(const std::wstring& s);
std::wstring ExtractFileNameW(const std::wstring& s);
std::wstring ExtractFileExtW(const std::wstring& s);
std::wstring ChangeFileExtW(const std::wstring& s, const std::wstring& ext);
std::wstring ExcludeTrailingBackslashW(const std::wstring& s);
std::wstring AddTrailingBackslash(const std::wstring& s);
std::wstring ParentDirW(const std::wstring& s);
std::wstring UpperCaseW(const std::wstring& s);
bool DirectoryExistsW(const std::wstring& s);
bool FileExistsW(const std::wstring& s);
HANDLE CreateFileAuto(const std::wstring& name, DWORD access, DWORD share, DWORD disposition, DWORD flags);
uint64_t FileSizeW(const std::wstring& name);
bool IsRemovableDrive(const std::wstring& path);
// Converts a file time to a date-time value (days since 1899-12-30). mode > 0:
// UTC to local first; mode < 0: local to UTC first; 0: unchanged.
double FileTimeToDateTime(const FILETIME& t, int mode);
// Decimal conversion of the whole text; false if any part of it is not a number.
bool TryParseIndex(const std::wstring& text, int64_t& value);
void SortIndices(std::vector<uint32_t>& a, int lo, int hi);
// Creates dir with its missing parents; sets attributes (when non-zero) on dir
// only if it was created here. Raises EInOutError for an empty dir.
bool ForceDirectoriesW(const std::wstring& dir, uint16_t attributes);
