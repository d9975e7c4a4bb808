#pragma once
// Test helper shared by the 7z and RAR tests: the files below a folder as
// exact wide relative paths, read with the wide functions (long paths too).

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Files.h"

// Every file below Root, as paths relative to it ("a\b.txt"), sorted.
inline std::vector<std::wstring> ListTreeW(const std::wstring& Root, const std::wstring& Prefix = L"") {
  std::vector<std::wstring> files;
  WIN32_FIND_DATAW fd;
  const HANDLE h = FindFirstFileW(LongPathForm(Root + L"\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return files;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (const std::wstring& f : ListTreeW(Root + L"\\" + name, Prefix + name + L"\\")) files.push_back(f);
    } else {
      files.push_back(Prefix + name);
    }
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  std::sort(files.begin(), files.end());
  return files;
}

// The names the fixture makers give to files from many scripts, one of them
// with a combining accent, and one whose output path exceeds 260 characters.
inline std::vector<std::wstring> ManyScriptNames() {
  return {L"caf\u00e9.txt",
          L"\u0424\u043e\u0442\u043e\\\u0441\u043d\u0438\u043c\u043e\u043a.txt",
          L"\u65e5\u672c\u8a9e.txt",
          L"\u4e2d\u6587.txt",
          L"\u05e2\u05d1\u05e8\u05d9\u05ea.txt",
          L"emoji_\U0001f600.txt",
          L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt",
          L"e\u0301cole.txt",
          L"long\\" + std::wstring(120, L'd') + L"\\" + std::wstring(120, L'f') + L".txt"};
}
// The folder that holds the archives with those names, and a destination
// folder name of the same kind.
inline std::wstring ManyScriptFolder() { return L"names-\u00e9t\u00e9 \u65e5\u672c \U0001f600"; }
inline std::wstring ManyScriptDestination() { return L"sortie \u0424\u043e\u0442\u043e e\u0301 \u4e2d \U0001f600"; }
