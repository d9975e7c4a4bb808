// The one rule that turns an archive item's name into a safe relative path,
// the same for byte and wide names.

#include <gtest/gtest.h>

#include "SafePath.h"

namespace {

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

TEST(SafePath, HostileNamesStayInsideTheirFolder) {
  struct Case {
    const char* Name;
    const char* Path;
    bool Renamed;
  } cases[] = {
      {"a/b/c/d.txt", "a\\b\\c\\d.txt", false},
      {"folder/", "folder", false},
      {"../evil.txt", "evil.txt", false},
      {"a/../../b.txt", "a\\b.txt", false},
      {"..\\..\\evil\\e.txt", "evil\\e.txt", false},
      {"/etc/passwd", "etc\\passwd", false},
      {"C:\\Windows\\win.ini", "Windows\\win.ini", false},
      {"c:relative.txt", "relative.txt", false},
      {"\\\\server\\share\\dir\\f.txt", "dir\\f.txt", false},
      {"//server/share/f.txt", "f.txt", false},
      {"\\\\?\\UNC\\server\\share\\f.txt", "f.txt", false},
      {"\\\\?\\D:\\a\\.\\b", "a\\b", false},
      {"\\\\.\\PhysicalDrive0", "PhysicalDrive0", false},
      {"a\\...\\. \\b", "a\\b", false},
      {"..", "", false},
      {"", "", false},
      {"./././", "", false},
      {"dir/file.txt:stream", "dir\\file.txt_stream", true},
      {"what?<>|*\".txt", "what______.txt", true},
      {"tab\there", "tab_here", true},
      {"aux.txt", "_aux.txt", true},
      {"NUL", "_NUL", true},
      {"sub/COM1.log", "sub\\_COM1.log", true},
      {"con/x.txt", "_con\\x.txt", true},
      {"Lpt9.tar.gz", "_Lpt9.tar.gz", true},
      {"aux .txt", "_aux .txt", true},
      {"conout$", "_conout$", true},
      {"COM10.txt", "COM10.txt", false},
      {"auxiliary.txt", "auxiliary.txt", false},
      {"CON-notes", "CON-notes", false},
  };
  for (const Case& c : cases) {
    const TSafePath<std::string> bytes = SafeRelativePath(std::string(c.Name));
    EXPECT_EQ(bytes.Path, c.Path) << c.Name;
    EXPECT_EQ(bytes.Renamed, c.Renamed) << c.Name;
    const TSafePath<std::wstring> wide = SafeRelativePath(Widen(c.Name));
    EXPECT_EQ(wide.Path, Widen(c.Path)) << c.Name;
    EXPECT_EQ(wide.Renamed, c.Renamed) << c.Name;
  }
  // The superscript serial ports are devices too, in UTF-8 and in UTF-16.
  EXPECT_EQ(SafeRelativePath(std::string("COM\xC2\xB9.txt")).Path, "_COM\xC2\xB9.txt");
  EXPECT_EQ(SafeRelativePath(std::wstring(L"lpt\u00B3")).Path, L"_lpt\u00B3");
  EXPECT_EQ(SafeRelativePath(std::wstring(L"caf\u00E9/\u65E5\u672C.txt")).Path, L"caf\u00E9\\\u65E5\u672C.txt");
}

}  // namespace
