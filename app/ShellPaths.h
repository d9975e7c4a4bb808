#pragma once
// Path rules of the application shell: the archive kind of a list item, the
// output folder an archive is extracted into, and the safe form of a member
// name below that folder. Paths are byte strings in the system code page.

#include <cstdint>
#include <string>

enum class TArchiveKind { None, Zip, Rar, SevenZip };

// The extension of a path: from the last "." after the last "\" or ":",
// dot included; empty when there is none.
std::string ExtensionOf(const std::string& Path);

// The kind decided by the extension, compared without regard to case
// (".zip", ".ZIP" and ".Zip" are all zip archives).
TArchiveKind ArchiveKindOf(const std::string& Path);

// The archive's output folder below Destination: Destination, "\", and the
// archive's file name without its extension. Destination is used unchanged.
std::string OutputFolderOf(const std::string& Destination, const std::string& Archive);

// A member name made safe to join below an output folder: "/" and "\" both
// separate folders; drive letters, UNC prefixes and leading separators are
// dropped; "." and ".." parts are removed; a ":" inside a part (which would
// name an alternate data stream) becomes "_". Parts are joined with "\". The
// result never leads outside the folder it is joined to; it may be empty.
std::string SafeMemberPath(const std::string& Name);

// The text of the program's generic error box: the message, with a full stop
// appended when its last character sorts after ".".
std::string GenericErrorText(const std::string& Message);
