#pragma once
// Member names and comments of zip archives: from the bytes stored in an
// archive to the program's text (UTF-8), and from the program's text to the
// bytes and flag a writer stores.
//
// How a stored name is read, for each header (local or central) on its own:
//  1. General purpose flag bit 11 set: the bytes are UTF-8.
//  2. Otherwise, an Info-ZIP Unicode Path extra field (0x7075; for a comment
//     the Unicode Comment field 0x6375) of version 1 whose CRC-32 matches the
//     stored bytes: its UTF-8 text. A field whose CRC differs belongs to an
//     older name (a tool renamed the member without updating it) and is
//     ignored, as is one whose text is empty or not valid UTF-8.
//  3. Otherwise the bytes are in the OEM code page of the system
//     (SystemOemCodePage).
//
// Bytes that are not valid in their encoding never stop a name from being
// read: each one becomes a visible escape "%XX" (two upper-case hex digits),
// so distinct names stay distinct and the result is always valid UTF-8.
// Overlong forms, surrogates and code points beyond U+10FFFF count as invalid,
// so no escape-free byte sequence can turn into "/" or "." that was not there.
// The result may still hold "..", drive letters, separators or control
// characters: the caller makes it safe with SafeRelativePath afterwards.
//
// None of these functions raises an exception on any input (beyond
// std::bad_alloc).

#include <cstdint>
#include <string>

constexpr uint16_t kZipFlagUtf8 = 0x0800;               // general purpose flag bit 11
constexpr uint16_t kZipUnicodePathExtraId = 0x7075;     // Info-ZIP Unicode Path
constexpr uint16_t kZipUnicodeCommentExtraId = 0x6375;  // Info-ZIP Unicode Comment

// The UTF-8 text of a member name stored as Raw in a header whose general
// purpose flags are Flags and whose extra field is ExtraField (the same
// header's: a reader that takes the name from the local header passes the
// local extra field, one that takes it from the central header the central
// one).
std::string DecodeZipName(const std::string& Raw, uint16_t Flags, const std::string& ExtraField);

// The same for a member comment (central header: its flags and extra field,
// where a Unicode Comment field may be). The archive comment has neither flag
// nor extra field: pass 0 and an empty string, and its bytes are read in the
// OEM code page.
std::string DecodeZipComment(const std::string& Raw, uint16_t Flags, const std::string& ExtraField);

// What a writer stores for a name given as UTF-8 text.
struct TZipStoredName {
  std::string Bytes;   // the name field, in both headers
  uint16_t Flags = 0;  // general purpose flag bits to set, in both headers
  // "Version made by" of the central header; 0: the writer's usual value.
  uint16_t VersionMadeBy = 0;
};

// "Version made by" for members with UTF-8 names: zip 2.0 on NTFS (host 11
// as Info-ZIP and 7-Zip number it; its attributes are MS-DOS attributes as
// for FAT). Info-ZIP unzip reads the names of members made on FAT (host 0)
// in the OEM code page even when flag bit 11 says UTF-8.
constexpr uint16_t kZipVersionMadeByNtfs = 0x0B14;

// A pure ASCII name is stored as it is, with no flag (archives stay byte for
// byte what they were). Any other name is stored as UTF-8 with flag bit 11,
// made by kZipVersionMadeByNtfs; should the text not be valid UTF-8, its
// invalid bytes are stored as "%XX" escapes, so that the flag never lies.
TZipStoredName EncodeZipName(const std::string& Name);

// The OEM code page of the system, read once per process. In a process whose
// ANSI code page is UTF-8 by its manifest, Windows answers 65001 to GetOEMCP()
// as well, so the page is then read from the system locale
// (LOCALE_IDEFAULTCODEPAGE). 437 when neither gives a usable page. Natively
// (no Windows API) always 437.
unsigned SystemOemCodePage();

// Raw read in the code page CodePage, as UTF-8. 437 is converted by a table
// everywhere; other pages go through the system's conversion on Windows, and
// natively are read as 437. Bytes or sequences the page does not map become
// "%XX" escapes.
std::string CodePageToUtf8(const std::string& Raw, unsigned CodePage);

// Raw itself when it is valid UTF-8; otherwise each invalid byte replaced by
// its "%XX" escape.
std::string ValidUtf8(const std::string& Raw);
