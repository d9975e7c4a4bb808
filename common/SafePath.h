#pragma once
// One rule for every archive kind: how the name of an item in an archive (zip
// member, 7z item, RAR file) becomes a relative path that is safe to create
// below the archive's output folder on Windows.
//
//  - "/" and "\" both separate folders; the parts are joined with "\".
//  - A drive ("C:"), a UNC prefix ("\\server\share"), a device prefix ("\\?\",
//    "\\.\", "\\?\UNC\server\share") and leading separators are dropped.
//  - Parts that are "." or ".." or made only of dots and blanks (which Windows
//    reads as such) are dropped: the path never climbs out of its folder.
//  - In each part, characters Windows does not allow in a name (control
//    characters, < > : " | ? *) become "_" (":" would name an alternate data
//    stream).
//  - A part that names a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9,
//    LPT0-9 and the superscript COM/LPT 1-3, in any case, with or without an
//    extension or trailing blanks and dots) gets a leading "_" ("aux.txt"
//    becomes "_aux.txt"), so nothing is ever written to a device.
//
// Byte strings are taken in the process's code page (the bytes after a
// double-byte lead byte are never separators). The same name gives the same
// result as a byte string and as a wide string.
//
// A path is also only safe when the system takes it whole: see FitsBelow.

#include <functional>
#include <string>

template <typename S>
struct TSafePath {
  S Path;                // the relative path; empty when nothing of the name is left
  S Folder;              // Path without its last part; empty when Path has one part
  bool Renamed = false;  // a part was changed (characters or a device name), not only dropped
};

TSafePath<std::string> SafeRelativePath(const std::string& Name);
TSafePath<std::wstring> SafeRelativePath(const std::wstring& Name);

// Whether Relative (a relative path of the rule above) below the folder
// Folder (a full path) makes a path that the wide file functions take whole:
// its long form ("\\?\" prefix included) within the system's 32767
// characters, with room left for the name of a stream added to a file (its
// mark of the web). The system does not refuse a longer path: it cuts it
// short (Wine at a multiple of 32768 characters), so that it names another
// file, even one outside Folder. Nothing may be made at such a path.
bool FitsBelow(const std::wstring& Folder, const std::wstring& Relative);

// A caller's own rule for the path of an archive's item named Name (a folder
// when Folder): the path below the output folder, or "" to skip the item.
using TNameRule = std::function<std::wstring(const std::wstring& Name, bool Folder)>;

// The path below the output folder Folder (a full path) of the item Name (a
// folder when IsFolder): Rule's answer when a caller gave one; else the rule
// above, "" when it leaves nothing or the path would not fit (FitsBelow).
// Changed tells whether the rule above dropped or changed something of the
// name, for a component to report (a caller's rule reports for itself).
std::wstring ItemPathBelow(const TNameRule& Rule, const std::wstring& Folder, const std::wstring& Name, bool IsFolder,
                           bool& Changed);
