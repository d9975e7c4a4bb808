#pragma once
// Path and text rules of the application shell: the archive kind of a list
// item, the output folder an archive is extracted into, and how errors read.
// Paths are byte strings in the system code page.

#include <cstdint>
#include <exception>
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

// The text of the program's generic error box: the message, with a full stop
// appended when its last character sorts after ".".
std::string GenericErrorText(const std::string& Message);

// The message of an exception as the program shows it: an Exception's own
// text, "Out of memory" for a failed allocation, what() otherwise.
std::string ExceptionText(const std::exception& E);
