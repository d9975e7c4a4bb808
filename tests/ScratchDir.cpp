#include "ScratchDir.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include "Files.h"
#include "Text.h"

namespace {
void RemoveTree(const std::wstring& Folder) {
  WIN32_FIND_DATAW fd;
  const HANDLE h = FindFirstFileW(LongPathForm(Folder + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = Folder + L"\\" + name;
      SetFileAttributesW(LongPathForm(full).c_str(), FILE_ATTRIBUTE_NORMAL);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        DeleteFileW(LongPathForm(full).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(LongPathForm(Folder).c_str());
}
}  // namespace

ScratchDir::ScratchDir() {
  char base[MAX_PATH + 1];
  GetTempPathA(sizeof base, base);
  static unsigned counter = 0;
  for (;;) {
    FPath = std::string(base) + "quarn-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA(FPath.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + FPath);
  }
}

ScratchDir::~ScratchDir() { RemoveTree(PathW()); }

std::wstring ScratchDir::PathW() const { return AnsiToWide(FPath); }

std::string ScratchDir::File(const std::string& Name) const { return FPath + "\\" + Name; }

std::vector<std::string> ScratchDir::List() const {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  const HANDLE h = FindFirstFileA((FPath + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string n = fd.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {
void RemoveTree(const std::string& Folder) {
  if (DIR* d = opendir(Folder.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      const std::string full = Folder + "/" + name;
      struct stat st;
      if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        RemoveTree(full);
      else
        unlink(full.c_str());
    }
    closedir(d);
  }
  rmdir(Folder.c_str());
}
}  // namespace

ScratchDir::ScratchDir() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quarn-test-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp");
  FPath = pattern;
}

ScratchDir::~ScratchDir() { RemoveTree(FPath); }

std::string ScratchDir::File(const std::string& Name) const { return FPath + "/" + Name; }

std::vector<std::string> ScratchDir::List() const {
  std::vector<std::string> names;
  DIR* d = opendir(FPath.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  return names;
}

#endif
