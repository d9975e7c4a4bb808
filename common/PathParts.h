#pragma once
// Splitting paths (byte strings in the system code page) into their parts.

#include <string>
#include <vector>

// True when c starts a double-byte character in the system code page; the
// byte after it may look like "\" and is no separator then. Always false
// outside Windows.
bool IsLeadByte(char c);

// The parts of Path between "\" and "/" separators, in order; empty parts
// (from leading, trailing or doubled separators) are dropped.
std::vector<std::string> SplitPath(const std::string& Path);
