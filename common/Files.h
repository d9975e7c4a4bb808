#pragma once
// Existence tests and folder creation for paths given as the program's byte
// strings (ANSI code page) or as wide strings.

#include <cstdint>
#include <string>

// True when something (a file or a folder) is at Path.
bool PathExists(const std::string& Path);
bool PathExists(const std::wstring& Path);
// True when a file, not a folder, is at Path.
bool FileExists(const std::string& Path);
bool FileExists(const std::wstring& Path);
// True when a folder is at Path.
bool DirectoryExists(const std::string& Path);
bool DirectoryExists(const std::wstring& Path);

// Creates the folder Path with all its missing parents (trailing separators
// are ignored; a drive or an empty path needs nothing). Attributes, when not
// zero, are given to Path itself if it is created here. True when the folder
// exists afterwards; a failure is silent otherwise (what is written below it
// then fails on its own, with the system's reason).
bool ForceDirectories(const std::string& Path);
bool ForceDirectories(const std::wstring& Path, uint32_t Attributes = 0);

// The form of an absolute wide path that the wide file functions take
// whatever its length: from MAX_PATH - 12 characters on (the folder-creation
// limit) it is made full and given the "\\?\" prefix ("\\?\UNC\" for a
// network path), which lifts the limit. Shorter paths, paths that already
// carry the prefix and paths that cannot be made full come back unchanged.
std::wstring LongPathForm(const std::wstring& Path);

// The size in bytes of the file at Path (a path of any length); 0 for a
// folder or a path that names nothing.
uint64_t FileSizeOf(const std::string& Path);

// Removes the file at Path (of any length), read-only or not; false when it
// cannot be removed or no file is there (a folder is never touched).
bool RemoveFile(const std::wstring& Path);
