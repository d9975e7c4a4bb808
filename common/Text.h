#pragma once
// Text helpers shared by every part of the program: a name put into a message,
// and the conversions between the program's byte strings (the process's ANSI
// code page) and the wide strings of the system.

#include <cstddef>
#include <string>

// Text with its "%s" replaced by Name. Name may hold any byte ("%" included),
// so it is never passed through printf-style formatting.
std::string WithName(const char* Text, const std::string& Name);

// Overwrites memory that held a secret (a password, a key) with zeros, in a
// way the compiler cannot leave out; for a string, then empties it.
void WipeBytes(void* Data, size_t Count);
void Wipe(std::string& Text);
void Wipe(std::wstring& Text);

#ifdef _WIN32
// The ANSI code page form of a wide string and back (characters the code page
// cannot hold become its default character).
std::string WideToAnsi(const std::wstring& Text);
std::wstring AnsiToWide(const std::string& Text);
// The same for a zero-terminated wide string read from a fixed-size array of
// Size characters (which need not hold a terminator).
std::string WideToAnsi(const wchar_t* Text, size_t Size);

// The one form of every name Windows takes for the same file or folder (its
// letters in upper case, as the file systems compare names), for comparing
// and keying paths.
std::wstring FoldedName(std::wstring Name);
#endif
