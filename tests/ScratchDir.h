#pragma once
// A fresh, empty folder for one test below the temp folder, removed with
// everything below it at the end (read-only files and long paths too). The
// one scratch folder of every test program, on Windows and natively.

#include <string>
#include <vector>

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return FPath; }
  // The full path of Name inside ("a\b.txt").
  std::string File(const std::string& Name) const;
  std::string operator/(const std::string& Name) const { return File(Name); }
  // The names of what is in the folder itself.
  std::vector<std::string> List() const;
#ifdef _WIN32
  // The same paths as wide strings.
  std::wstring PathW() const;
  std::wstring operator/(const std::wstring& Name) const { return PathW() + L"\\" + Name; }
#endif

 private:
  std::string FPath;
};
