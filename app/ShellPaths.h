#pragma once
// Path and text rules of the application shell: the archive kinds Quarn
// extracts (by extension for the lists, by signature for the extraction), the
// output folder an archive is extracted into, and how errors read. Paths are
// byte strings in the system code page.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

// Zip goes to Quarn's own zip reader, RAR to the UnRAR library, 7z to the
// 7-Zip engine's 7z library (7za.dll); every other kind to the engine's
// all-format library (7z.dll).
enum class TArchiveKind {
  None,
  Zip,
  Rar,
  SevenZip,
  Tar,
  Gzip,
  Bzip2,
  Xz,
  Zstd,
  Lzma,
  Compress,  // the Unix compress program's .Z
  Iso,
  Cab,
  Wim,
  Cpio,
  Rpm,
  Deb,
  Lzh,
  Arj,
};

// The list's image of an archive kind (the order of the window's image list).
enum TListIcon : int { kIconZip, kIconRar, kIconFile, kIcon7z, kIconBundle, kIconDisc, kIconPackage };

struct TArchiveKindInfo {
  TArchiveKind Kind;
  const char* Name;        // as the report names the kind: "zip", "gzip", "ISO" ...
  const char* Extensions;  // lower case, each with its dot, separated by ";"
  uint8_t EngineFormat;    // the format's number in the all-format library (0: not there)
  bool Compressor;         // one compressed stream; a tarball inside is extracted in one step
  TListIcon Icon;
};

// Every kind Quarn extracts, in the order the open dialog lists them.
extern const TArchiveKindInfo kArchiveKinds[];
extern const size_t kArchiveKindCount;
// The entry of a kind (None: an entry named "" with the file icon).
const TArchiveKindInfo& KindInfo(TArchiveKind Kind);

// The extension of a path: from the last "." after the last "\" or ":",
// dot included; empty when there is none.
std::string ExtensionOf(const std::string& Path);

// The kind decided by the extension, compared without regard to case
// (".zip", ".ZIP" and ".Zip" are all zip archives; ".tgz" is gzip).
TArchiveKind ArchiveKindOf(const std::string& Path);

// The kind the first bytes of a file show (Head: at least the first 36 KiB,
// or the whole file when shorter), or None when they show none. Formats
// without a signature of their own (lzma) are never recognised this way.
TArchiveKind ArchiveKindOfContent(const std::string& Head);

// The kind to extract Path as: what its content shows, else what its name
// says. The file is read here; one that cannot be read is taken by its name.
TArchiveKind ArchiveKindToExtract(const std::string& Path);

// The open dialog's filter of archives: one entry per kind, then all kinds.
std::string ArchiveFilter();

// The folder Path lies in: its path up to the last "\" (a drive's ":" kept);
// "." when it has none.
std::string FolderOf(const std::string& Path);

// The archive's output folder below Destination: Destination, "\", and the
// archive's file name without the extensions of its kind (the last one; for a
// compressed tarball such as "src.tar.gz" both). Destination is used unchanged.
std::string OutputFolderOf(const std::string& Destination, const std::string& Archive);

// The name of the one file a compressed file holds when it keeps none of its
// own: the archive's name without its last extension, ".tar" for the short
// forms of compressed tarballs ("notes.txt.gz" -> "notes.txt", "x.tgz" -> "x.tar").
std::string CompressedItemName(const std::string& Archive);

// The text of the program's generic error box: the message, with a full stop
// appended when its last character sorts after ".".
std::string GenericErrorText(const std::string& Message);

// The message of an exception as the program shows it: an Exception's own
// text, "Out of memory" for a failed allocation, what() otherwise.
std::string ExceptionText(const std::exception& E);
