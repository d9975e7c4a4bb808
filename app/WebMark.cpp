#include "WebMark.h"

#include <windows.h>

#include <algorithm>

#include "Files.h"
#include "Text.h"
#include "Win32Kit.h"

namespace {
const wchar_t kStream[] = L":Zone.Identifier";
// A mark is a few lines; more than this is not read.
constexpr DWORD kMostMark = 64 * 1024;

// The archive's own mark as text in the program's code page ("" without one).
// Marks are written in the ANSI code page, or in UTF-8 or UTF-16 with their
// byte order marks.
std::string MarkOf(const std::wstring& Path) {
  const THandle stream(CreateFileW((LongPathForm(Path) + kStream).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!stream) return "";
  std::string text(kMostMark, '\0');
  DWORD got = 0;
  if (!ReadFile(stream.Get(), &text[0], kMostMark, &got, nullptr)) return "";
  text.resize(got);
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return text.substr(3);  // UTF-8, with its byte order mark
  if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE') {
    std::wstring wide((text.size() - 2) / 2, L'\0');
    std::copy(text.begin() + 2, text.begin() + 2 + static_cast<std::ptrdiff_t>(wide.size() * 2),
              reinterpret_cast<char*>(&wide[0]));
    return WideToAnsi(wide);
  }
  return text;
}

bool SameKey(const std::string& a, const char* b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b, -1) == CSTR_EQUAL;
}

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The value of Key in the [ZoneTransfer] section of Mark ("" when none).
std::string ValueOf(const std::string& Mark, const char* Key) {
  bool inSection = false;
  size_t start = 0;
  while (start < Mark.size()) {
    size_t end = Mark.find('\n', start);
    if (end == std::string::npos) end = Mark.size();
    const std::string line = Trimmed(Mark.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      inSection = SameKey(line, "[ZoneTransfer]");
      continue;
    }
    const size_t equals = line.find('=');
    if (inSection && equals != std::string::npos && SameKey(Trimmed(line.substr(0, equals)), Key))
      return Trimmed(line.substr(equals + 1));
  }
  return "";
}

bool IsNumber(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Writes Mark into the stream of the file at Path; false when it cannot be
// opened or written whole. The stream is opened, not created over: a hidden
// or system file refuses a stream created over without its attributes. The
// stream's handle keeps the file's last-write time as it was.
bool WriteMark(const std::wstring& Path, const std::string& Mark) {
  const THandle stream(CreateFileW((Path + kStream).c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!stream) return false;
  const FILETIME keep = {0xFFFFFFFF, 0xFFFFFFFF};  // no time changes through this handle
  SetFileTime(stream.Get(), nullptr, nullptr, &keep);
  DWORD written = 0;
  return WriteFile(stream.Get(), Mark.data(), static_cast<DWORD>(Mark.size()), &written, nullptr) &&
         written == Mark.size() && SetEndOfFile(stream.Get());
}
}  // namespace

std::string WebMarkFor(const std::string& Archive) {
  const std::wstring archive = AnsiToWide(Archive);
  const std::string mark = MarkOf(archive);
  const std::string zone = ValueOf(mark, "ZoneId");
  if (!IsNumber(zone)) return "";
  // The archive as Windows names a file it extracted from: its full path.
  const DWORD size = GetFullPathNameW(archive.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  if (size == 0 || GetFullPathNameW(archive.c_str(), size, &full[0], nullptr) + 1 != size)
    full = archive;
  else
    full.resize(size - 1);
  std::string text = "[ZoneTransfer]\r\nZoneId=" + zone + "\r\nReferrerUrl=" + WideToAnsi(full) + "\r\n";
  const std::string host = ValueOf(mark, "HostUrl");
  if (!host.empty()) text += "HostUrl=" + host + "\r\n";
  return text;
}

bool MarkFile(const std::wstring& Path, const std::string& Mark) {
  const std::wstring path = LongPathForm(Path);
  if (WriteMark(path, Mark)) return true;
  // A read-only file takes no new stream: it is made writable for the while.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  if (!SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
  const bool marked = WriteMark(path, Mark);
  SetFileAttributesW(path.c_str(), attributes);
  return marked;
}
