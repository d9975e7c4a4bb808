#pragma once
// Path and text rules of the application shell: the archive kinds Quarn
// extracts (by extension for the lists, by signature for the extraction), the
// output folder an archive is extracted into, and how errors read. Paths are
// byte strings in the system code page.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

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
  Nsis,   // an NSIS installer: known by its content alone (its name is a program's)
  Split,  // the first part of an archive cut into numbered pieces: its content tells what it is
  // A program (.exe, .sfx): a self-extracting archive or an installer when an
  // archive follows its program part, and then extracted as that archive;
  // never run.
  SelfExtracting,
};

// The list's image of an archive kind (the order of the window's image list).
enum TListIcon : int { kIconZip, kIconRar, kIconFile, kIcon7z, kIconBundle, kIconDisc, kIconPackage };

struct TArchiveKindInfo {
  TArchiveKind Kind;
  const char* Name;        // as the report names the kind: "zip", "gzip", "ISO" ...
  const char* Extensions;  // lower case, each with its dot, separated by ";" ("": known by its content alone)
  uint8_t EngineFormat;    // the format's number in the all-format library (0: not there)
  bool Compressor;         // one compressed stream; a tarball inside is extracted in one step
  TListIcon Icon;
};

// Every kind Quarn extracts, in the order the open dialog lists them.
extern const TArchiveKindInfo kArchiveKinds[];
extern const size_t kArchiveKindCount;
// The entry of a kind (None: an entry named "" with the file icon).
const TArchiveKindInfo& KindInfo(TArchiveKind Kind);

// The extensions of a kind as the user knows them, each with its dot
// (compress's ".z" as ".Z"), in the table's order.
std::vector<std::string> ExtensionsOf(const TArchiveKindInfo& Info);

// The extension of a path: from the last "." after the last "\" or ":",
// dot included; empty when there is none.
std::string ExtensionOf(const std::string& Path);

// The kind decided by the extension, compared without regard to case
// (".zip", ".ZIP" and ".Zip" are all zip archives; ".tgz" is gzip). A part of
// a set (below) has the kind of its set: "movie.7z.002" is 7z, "s.z01" zip,
// "x.r00" RAR, and a numbered part whose set's name shows no kind
// ("x.001") is Split.
TArchiveKind ArchiveKindOf(const std::string& Path);

// How the files of an archive that is split over several files are named.
enum class TSetScheme {
  None,      // a file of its own (or the entry point of a set that is not known by its name alone)
  Numbered,  // the archive's bytes cut into pieces: NAME.001, NAME.002, ... (NAME.7z.001, NAME.zip.001 ...)
  Spanned,   // an Info-ZIP or WinZip spanned zip: NAME.z01, NAME.z02, ... and NAME.zip, read through NAME.zip
  RarParts,  // RAR volumes NAME.part1.rar (self-extracting: NAME.part1.exe), NAME.part2.rar, ...
  RarOld,    // RAR volumes of the old naming: NAME.rar (self-extracting: NAME.exe), NAME.r00, NAME.r01, ...
};

// What the name of Path says of the set it belongs to.
struct TSetPart {
  TSetScheme Scheme = TSetScheme::None;
  // A part that the set is not extracted through: the set is extracted once,
  // through First.
  bool Later = false;
  // The part the set is extracted through (Path itself unless Later).
  std::string First;
  // The set's path without the parts' numbering: "movie.7z" for
  // "movie.7z.001", "movie.rar" for "movie.part2.rar", "s.zip" for "s.z01";
  // Path itself for a file of its own.
  std::string Name;
};
// The name decides, with one look at the disk: a later RAR volume whose set
// has no first volume NAME.part1.rar (NAME.rar) but a program NAME.part1.exe
// (NAME.exe) is extracted through that program.
TSetPart SetPartOf(const std::string& Path);

// The files of the set that First begins, as far as they are there: First
// and the numbered parts after it (up to the first gap for the RAR schemes
// and spanned zips; every part found for numbered pieces); just First for a
// file of its own.
std::vector<std::string> SetFilesOf(const std::string& First);

// The numbers of the pieces of the set of numbered pieces Name that are
// there (NAME.001 ..., three digits and more), in order.
std::vector<uint32_t> PieceNumbersOf(const std::string& Name);

// The name of the piece N of the set of numbered pieces Name: "movie.7z.002"
// for ("movie.7z", 2).
std::string PieceOf(const std::string& Name, uint32_t N);

// The part of a set of numbered pieces that may be missing after its last
// part found: when the last part found is exactly as long as the first (a
// whole piece), the name of the one after it; empty otherwise, and for any
// other scheme.
std::string PartAfterLastOf(const std::string& First);

// The kind the first bytes of a file show (Head: at least the first 36 KiB,
// or the whole file when shorter), or None when they show none. Formats
// without a signature of their own (lzma) are never recognised this way.
TArchiveKind ArchiveKindOfContent(const std::string& Head);

// The kind to extract Path as: what its content shows, else what its name
// says. The file is read here; one that cannot be read is taken by its name.
// A Windows program shows the archive that follows its program part, as a
// self-extracting archive's or an installer's does (7z, RAR 4 and 5, zip,
// cabinet, NSIS); only its headers and what follows its image are read, so
// that however big a program is, deciding stays cheap. A program that carries
// none is taken by its name (SelfExtracting for an .exe).
TArchiveKind ArchiveKindToExtract(const std::string& Path);

// The open dialog's filter of archives: zip, 7z and RAR, all kinds, one entry
// per other kind of the all-format library, then self-extracting archives.
std::string ArchiveFilter();

// The folder Path lies in: its path up to the last "\" (a drive's ":" kept);
// "." when it has none.
std::string FolderOf(const std::string& Path);

// The file name of Path: what follows its last "\" or ":".
std::string FileNameOf(const std::string& Path);

// Text with its ASCII capitals made small, for comparing extensions and paths
// without regard to case.
std::string Lower(std::string Text);

// The report's line for a part of a set that is missing (Part: its path).
std::string MissingPartText(const std::string& Part);

// The archive's output folder below Destination: Destination, "\", and the
// archive's file name without the extensions of its kind (the last one; for a
// compressed tarball such as "src.tar.gz" both). A set is named after the set
// ("movie.7z.001" and "movie.part1.rar" -> "movie", "x.001" -> "x").
// Destination is used unchanged.
std::string OutputFolderOf(const std::string& Destination, const std::string& Archive);

// The name of the one file a compressed file holds when it keeps none of its
// own: the archive's name without its last extension, ".tar" for the short
// forms of compressed tarballs ("notes.txt.gz" -> "notes.txt", "x.tgz" -> "x.tar"),
// the numbering of a set's part left out ("notes.txt.gz.001" -> "notes.txt").
std::string CompressedItemName(const std::string& Archive);

// The text of the program's generic error box: the message, with a full stop
// appended when its last character sorts after ".".
std::string GenericErrorText(const std::string& Message);

// The message of an exception as the program shows it: an Exception's own
// text, "Out of memory" for a failed allocation, what() otherwise.
std::string ExceptionText(const std::exception& E);
