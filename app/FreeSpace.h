#pragma once
// The room left on a volume, as the walk weighs an archive against it before
// extracting anything, and sizes in the words people read them in.

#include <cstdint>
#include <string>

// The room free to this user (quotas counted) on the volume that holds
// Folder, and that volume as the user sees it: "D:", "\\server\share", or the
// folder another volume is mounted on. The folder need not exist yet: the
// nearest folder above it that does is asked. False when the system tells
// nothing.
bool FreeSpaceOf(const std::wstring& Folder, uint64_t& Free, std::wstring& Volume);

// A size as people read it: "512 bytes", "3.1 KB", "12.4 GB", "1020 KB"
// (units of 1024, one decimal below 100); with Exact, every byte:
// "13,314,398,618 bytes".
std::string SizeText(uint64_t Bytes, bool Exact = false);
