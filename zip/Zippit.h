#pragma once
// TZippit: builds a zip archive from files on disk.

#include <string>

#include "ZipFile.h"

class TZippit : public TZipFile {
 public:
  // Reads the file FileName whole (opened with no sharing, so it fails while
  // another program has it open) and appends it as a new deflated member. The
  // member's name is ZipMemberName(FileName). Raises EFOpenError when the file
  // cannot be opened, EReadError when it delivers fewer bytes than its size,
  // EZipFileError when it is too large for a zip member or for memory; no member
  // is added then.
  void AddDiskFile(const std::string& FileName);
};

// The name a file on disk gets inside an archive: its path without the drive
// (or the \\?\ prefix; a UNC server and share stay as plain folders), without
// leading separators, with "." and ".." parts resolved (never above the top)
// and "/" between folders.
// C:\Users\me\a.txt gives Users/me/a.txt.
std::string ZipMemberName(const std::string& Path);
