#pragma once
// The mark of the web: the Zone.Identifier stream with which browsers and mail
// programs mark what they download, and by which Windows warns before such a
// file runs or opens (SmartScreen, Office's Protected View and macro
// blocking). A file extracted out of a marked archive carries the mark on, as
// Windows' own "Extract All" does, so that nothing loses its warning by being
// packed; an archive extracted out of a marked one is marked in turn.

#include <string>

// The mark for the files extracted out of Archive: "[ZoneTransfer]" with the
// archive's ZoneId, ReferrerUrl naming the archive itself (its full path), and
// the archive's HostUrl when it has one. Empty when the archive carries no
// mark, or one that names no zone.
std::string WebMarkFor(const std::string& Archive);

// Gives the file at Path the mark Mark (not empty), leaving the file's times
// as they were; false when the mark could not be written (a volume that
// holds no streams, such as FAT32 or some network shares, takes none). Safe
// to call from any thread.
bool MarkFile(const std::wstring& Path, const std::string& Mark);
