#include "ShellPaths.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "Exception.h"
#include "Files.h"
#include "PathParts.h"
#include "SevenZipPipe.h"
#include "Streams.h"

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

namespace {
const char kSelfExtractingFilter[] = "Self-extracting archives (*.exe)";

// Position of the last "\" or ":" (or npos), stepping over double-byte pairs.
size_t LastDelimiter(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(path[i]) && i + 1 < path.size()) {
      ++i;
    } else if (path[i] == '\\' || path[i] == ':') {
      last = i;
    }
  }
  return last;
}

// Whether Extensions (";"-separated) holds Ext (lower case, with its dot).
bool Lists(const char* Extensions, const std::string& Ext) {
  if (Ext.empty()) return false;
  const std::string list = std::string(";") + Extensions + ";";
  return list.find(";" + Ext + ";") != std::string::npos;
}

const TArchiveKindInfo kNoKind = {TArchiveKind::None, "", "", 0, false, kIconFile};

// How much of a file the signatures need: ISO's is 32 KiB + 1 byte in.
constexpr size_t kHeadSize = 36 * 1024;

bool At(const std::string& Head, size_t Offset, const char* Bytes, size_t Length) {
  return Head.size() >= Offset + Length && std::memcmp(Head.data() + Offset, Bytes, Length) == 0;
}

uint32_t U16At(const std::string& Bytes, uint64_t Offset) {
  return static_cast<uint8_t>(Bytes[Offset]) | static_cast<uint32_t>(static_cast<uint8_t>(Bytes[Offset + 1])) << 8;
}

uint32_t U32At(const std::string& Bytes, uint64_t Offset) {
  return U16At(Bytes, Offset) | U16At(Bytes, Offset + 2) << 16;
}

// How much of what follows a program's image is searched for the archive of
// a self-extractor or an installer: its modules put the archive right there,
// some after a little padding or a configuration block.
constexpr size_t kProgramTailSize = 64 * 1024;

// Where the image of the Windows program whose first bytes are Head ends:
// the end of its sections' data in the file, as its PE headers say. 0 when
// Head is no Windows program (or its headers lie beyond Head).
uint64_t ProgramImageEnd(const std::string& Head) {
  if (!At(Head, 0, "MZ", 2) || Head.size() < 0x40) return 0;
  const uint64_t pe = U32At(Head, 0x3C);  // anything, in a hostile file: compared before it is used
  if (Head.size() < pe + 24 || !At(Head, static_cast<size_t>(pe), "PE\0\0", 4)) return 0;
  const uint32_t sections = U16At(Head, pe + 6);
  const uint64_t table = pe + 24 + U16At(Head, pe + 20);
  if (sections == 0 || Head.size() < table + 40ull * sections) return 0;
  uint64_t end = 0;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t size = U32At(Head, table + 40ull * i + 16), at = U32At(Head, table + 40ull * i + 20);
    if (size != 0) end = std::max(end, at + size);
  }
  return end;
}

// The kind of the archive that follows a program's image: Tail holds the
// bytes from Offset, where the image ends. The archive that starts first
// counts. An NSIS installer's data start at a multiple of 512 bytes with its
// first header: flags, then the marker that the engine's handler looks for.
TArchiveKind ArchiveKindAfterProgram(const std::string& Tail, uint64_t Offset) {
  struct TSignature {
    TArchiveKind Kind;
    const char* Bytes;
    size_t Length;
  };
  static const TSignature kSignatures[] = {
      {TArchiveKind::SevenZip, "7z\xBC\xAF\x27\x1C", 6},
      {TArchiveKind::Rar, "Rar!\x1A\x07\x00", 7},
      {TArchiveKind::Rar, "Rar!\x1A\x07\x01\x00", 8},
      {TArchiveKind::Zip, "PK\x03\x04", 4},
      {TArchiveKind::Cab, "MSCF\0\0\0\0", 8},
  };
  static const char kNsisMarker[] =
      "\xEF\xBE\xAD\xDE"
      "NullsoftInst";
  for (size_t i = 0; i < Tail.size(); ++i) {
    for (const TSignature& s : kSignatures)
      if (At(Tail, i, s.Bytes, s.Length)) return s.Kind;
    if ((Offset + i) % 512 == 0 && At(Tail, i + 4, kNsisMarker, sizeof kNsisMarker - 1)) return TArchiveKind::Nsis;
  }
  return TArchiveKind::None;
}

// How far from its end a zip's end record may start: the record and the
// longest comment.
constexpr size_t kZipEndSearch = 22 + 0xFFFF;

// Whether Tail, the last bytes of a file, ends with a zip's end record (its
// comment, if any, reaching exactly to the end).
bool EndsWithZipEndRecord(const std::string& Tail) {
  for (size_t at = Tail.size() >= 22 ? Tail.size() - 22 : std::string::npos; at != std::string::npos; --at) {
    if (At(Tail, at, "PK\x05\x06", 4) && at + 22 + U16At(Tail, at + 20) == Tail.size()) return true;
    if (at == 0) break;
  }
  return false;
}

// Size bytes of File from Offset (fewer at its end).
std::string ReadPart(TStream& File, uint64_t Offset, size_t Size) {
  std::string bytes(Size, '\0');
  File.Seek(static_cast<int64_t>(Offset), TSeekOrigin::soBeginning);
  bytes.resize(static_cast<size_t>(std::max<int64_t>(File.Read(&bytes[0], static_cast<int64_t>(bytes.size())), 0)));
  return bytes;
}

bool AllDigits(const std::string& Text) {
  return !Text.empty() && Text.size() <= 9 && Text.find_first_not_of("0123456789") == std::string::npos;
}

// N written with at least Width digits.
std::string Numbered(uint32_t N, size_t Width) {
  std::string digits = std::to_string(N);
  if (digits.size() < Width) digits.insert(0, Width - digits.size(), '0');
  return digits;
}

}  // namespace

const TArchiveKindInfo kArchiveKinds[] = {
    {TArchiveKind::Zip, "zip", ".zip;.zipx", 0, false, kIconZip},
    {TArchiveKind::SevenZip, "7z", ".7z", 0, false, kIcon7z},
    {TArchiveKind::Rar, "RAR", ".rar", 0, false, kIconRar},
    {TArchiveKind::Tar, "tar", ".tar", 0xEE, false, kIconBundle},
    {TArchiveKind::Gzip, "gzip", ".gz;.tgz", 0xEF, true, kIconBundle},
    {TArchiveKind::Bzip2, "bzip2", ".bz2;.tbz;.tbz2", 0x02, true, kIconBundle},
    {TArchiveKind::Xz, "xz", ".xz;.txz", 0x0C, true, kIconBundle},
    {TArchiveKind::Zstd, "zstd", ".zst;.tzst", 0x0E, true, kIconBundle},
    {TArchiveKind::Lzma, "lzma", ".lzma", 0x0A, true, kIconBundle},
    {TArchiveKind::Compress, "compress (.Z)", ".z", 0x05, true, kIconBundle},
    {TArchiveKind::Iso, "ISO", ".iso", 0xE7, false, kIconDisc},
    {TArchiveKind::Cab, "CAB", ".cab", 0x08, false, kIconPackage},
    {TArchiveKind::Wim, "WIM", ".wim", 0xE6, false, kIconDisc},
    {TArchiveKind::Cpio, "cpio", ".cpio", 0xED, false, kIconBundle},
    {TArchiveKind::Rpm, "RPM", ".rpm", 0xEB, false, kIconPackage},
    {TArchiveKind::Deb, "deb", ".deb", 0xEC, false, kIconPackage},
    {TArchiveKind::Lzh, "LZH", ".lzh;.lha", 0x06, false, kIconPackage},
    {TArchiveKind::Arj, "ARJ", ".arj", 0x04, false, kIconPackage},
    {TArchiveKind::Nsis, "NSIS", "", 0x09, false, kIconPackage},
    {TArchiveKind::Split, "split", ".001", 0, false, kIconBundle},
    {TArchiveKind::SelfExtracting, "self-extracting", ".exe;.sfx", 0, false, kIconPackage},
};
const size_t kArchiveKindCount = sizeof kArchiveKinds / sizeof kArchiveKinds[0];

// The extension's kind from the table alone.
static TArchiveKind KindOfExtension(const std::string& Ext) {
  for (const TArchiveKindInfo& info : kArchiveKinds)
    if (Lists(info.Extensions, Ext)) return info.Kind;
  return TArchiveKind::None;
}

const TArchiveKindInfo& KindInfo(TArchiveKind Kind) {
  for (const TArchiveKindInfo& info : kArchiveKinds)
    if (info.Kind == Kind) return info;
  return kNoKind;
}

std::vector<std::string> ExtensionsOf(const TArchiveKindInfo& Info) {
  std::vector<std::string> extensions;
  for (const char* p = Info.Extensions; *p != '\0';) {
    const char* end = std::strchr(p, ';');
    const std::string ext = end ? std::string(p, end) : std::string(p);
    // ".z" is the compress program's ".Z": shown as users know it.
    extensions.push_back(ext == ".z" ? std::string(".Z") : ext);
    if (!end) break;
    p = end + 1;
  }
  return extensions;
}

std::string ExtensionOf(const std::string& Path) {
  const size_t delimiter = LastDelimiter(Path);
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || (delimiter != std::string::npos && dot < delimiter)) return "";
  return Path.substr(dot);
}

TArchiveKind ArchiveKindOf(const std::string& Path) {
  const TSetPart part = SetPartOf(Path);
  switch (part.Scheme) {
    case TSetScheme::Numbered: {
      const TArchiveKind kind = KindOfExtension(Lower(ExtensionOf(part.Name)));
      return kind != TArchiveKind::None ? kind : TArchiveKind::Split;
    }
    case TSetScheme::Spanned: return TArchiveKind::Zip;
    case TSetScheme::RarOld: return TArchiveKind::Rar;
    default: return KindOfExtension(Lower(ExtensionOf(Path)));
  }
}

TSetPart SetPartOf(const std::string& Path) {
  TSetPart part;
  part.First = part.Name = Path;
  const std::string given = ExtensionOf(Path);
  const std::string ext = Lower(given);
  const std::string stem = Path.substr(0, Path.size() - ext.size());
  if (ext.size() == 4 && AllDigits(ext.substr(1))) {
    if (std::stoul(ext.substr(1)) == 0) return part;
    part.Scheme = TSetScheme::Numbered;
    part.Later = ext != ".001";
    part.Name = stem;
    part.First = stem + ".001";
  } else if (ext.size() >= 4 && ext[1] == 'z' && AllDigits(ext.substr(2))) {
    part.Scheme = TSetScheme::Spanned;
    part.Later = true;
    part.First = part.Name = stem + ".zip";
  } else if (ext.size() >= 5 && ext.compare(1, 2, "zx") == 0 && AllDigits(ext.substr(3))) {
    part.Scheme = TSetScheme::Spanned;  // WinZip's spanned .zipx
    part.Later = true;
    part.First = part.Name = stem + ".zipx";
  } else if (ext.size() >= 4 && ext[1] == 'r' && AllDigits(ext.substr(2))) {
    part.Scheme = TSetScheme::RarOld;
    part.Later = true;
    part.First = part.Name = stem + ".rar";
    // A self-extracting set begins with a program.
    if (!FileExists(part.First) && FileExists(stem + ".exe")) part.First = stem + ".exe";
  } else if (ext == ".rar" || ext == ".exe") {
    const std::string inner = Lower(ExtensionOf(stem));  // ".part2"
    if (inner.size() > 5 && inner.compare(0, 5, ".part") == 0 && AllDigits(inner.substr(5))) {
      const std::string base = stem.substr(0, stem.size() - inner.size());
      const bool first = std::stoul(inner.substr(5)) == 1;
      // A self-extracting set's first volume is a program ("vol.part1.exe"),
      // its later volumes are RAR files.
      if (ext == ".exe" && !first) return part;
      part.Scheme = TSetScheme::RarParts;
      part.Later = !first;
      part.Name = base + (ext == ".exe" ? std::string(".rar") : given);
      part.First = stem.substr(0, base.size() + 5) + Numbered(1, inner.size() - 5) + given;
      const std::string program = part.First.substr(0, part.First.size() - given.size()) + ".exe";
      if (part.Later && !FileExists(part.First) && FileExists(program)) part.First = program;
    }
  }
  return part;
}

std::vector<uint32_t> PieceNumbersOf(const std::string& Name) {
  std::vector<uint32_t> numbers;
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA((Name + ".*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return numbers;
  const size_t delimiter = LastDelimiter(Name);
  const std::string stem = Lower(delimiter == std::string::npos ? Name : Name.substr(delimiter + 1)) + ".";
  do {
    const std::string found = Lower(data.cFileName);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY || found.compare(0, stem.size(), stem) != 0) continue;
    const std::string number = found.substr(stem.size());
    if (number.size() >= 3 && AllDigits(number) && std::stoul(number) > 0)
      numbers.push_back(static_cast<uint32_t>(std::stoul(number)));
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::vector<std::string> SetFilesOf(const std::string& First) {
  const TSetPart part = SetPartOf(First);
  std::vector<std::string> files;
  const std::string ext = ExtensionOf(First);
  const std::string stem = First.substr(0, First.size() - ext.size());
  if (part.Scheme == TSetScheme::Numbered) {
    for (uint32_t n : PieceNumbersOf(part.Name)) files.push_back(PieceOf(part.Name, n));
    if (files.empty() || files[0] != First) files.insert(files.begin(), First);
  } else if (part.Scheme == TSetScheme::RarParts) {
    const std::string later = ExtensionOf(part.Name);  // also after a program as the first volume
    const std::string base = part.Name.substr(0, part.Name.size() - later.size());
    const size_t width = First.size() - ext.size() - base.size() - 5;
    files.push_back(First);
    for (uint32_t n = 2; FileExists(base + ".part" + Numbered(n, width) + later); ++n)
      files.push_back(base + ".part" + Numbered(n, width) + later);
  } else if (Lower(ext) == ".rar") {
    files.push_back(First);
    for (uint32_t n = 0; n < 1000 && FileExists(stem + ".r" + Numbered(n, 2)); ++n)
      files.push_back(stem + ".r" + Numbered(n, 2));
  } else if (Lower(ext) == ".zip" || Lower(ext) == ".zipx") {
    // A spanned zip's last part is the .zip itself.
    const std::string prefix = Lower(ext) == ".zip" ? ".z" : ".zx";
    for (uint32_t n = 1; FileExists(stem + prefix + Numbered(n, 2)); ++n)
      files.push_back(stem + prefix + Numbered(n, 2));
    files.push_back(First);
  } else {
    files.push_back(First);
  }
  return files;
}

std::string PartAfterLastOf(const std::string& First) {
  const TSetPart part = SetPartOf(First);
  if (part.Scheme != TSetScheme::Numbered) return "";
  const std::vector<uint32_t> numbers = PieceNumbersOf(part.Name);
  if (numbers.empty()) return "";
  const std::string last = PieceOf(part.Name, numbers.back());
  if (FileSizeOf(last) != FileSizeOf(First)) return "";
  return PieceOf(part.Name, numbers.back() + 1);
}

TArchiveKind ArchiveKindOfContent(const std::string& Head) {
  struct TSignature {
    TArchiveKind Kind;
    size_t Offset;
    const char* Bytes;
    size_t Length;
  };
  static const TSignature kSignatures[] = {
      {TArchiveKind::SevenZip, 0, "7z\xBC\xAF\x27\x1C", 6},
      {TArchiveKind::Rar, 0, "Rar!\x1A\x07", 6},
      {TArchiveKind::Zip, 0, "PK\x03\x04", 4},
      {TArchiveKind::Zip, 0, "PK\x05\x06", 4},  // an empty archive
      {TArchiveKind::Zip, 0, "PK\x07\x08", 4},  // the first part of a split archive
      {TArchiveKind::Gzip, 0, "\x1F\x8B\x08", 3},
      {TArchiveKind::Bzip2, 0, "BZh", 3},
      {TArchiveKind::Xz, 0,
       "\xFD"
       "7zXZ\0",
       6},
      {TArchiveKind::Zstd, 0, "\x28\xB5\x2F\xFD", 4},
      {TArchiveKind::Compress, 0, "\x1F\x9D", 2},
      {TArchiveKind::Cab, 0, "MSCF\0\0\0\0", 8},
      {TArchiveKind::Wim, 0, "MSWIM\0\0\0", 8},
      {TArchiveKind::Rpm, 0, "\xED\xAB\xEE\xDB", 4},
      {TArchiveKind::Deb, 0, "!<arch>\n", 8},
      {TArchiveKind::Arj, 0, "\x60\xEA", 2},
      {TArchiveKind::Cpio, 0, "07070", 5},     // the ASCII formats 070701, 070702, 070707
      {TArchiveKind::Cpio, 0, "\xC7\x71", 2},  // the old binary format, either byte order
      {TArchiveKind::Cpio, 0, "\x71\xC7", 2},
      {TArchiveKind::Tar, 257, "ustar", 5},
      {TArchiveKind::Iso, 0x8001, "CD001", 5},
  };
  for (const TSignature& s : kSignatures)
    if (At(Head, s.Offset, s.Bytes, s.Length)) return s.Kind;
  // LZH: "-lh?-" or "-lz?-" after the header's size and checksum bytes.
  if (Head.size() >= 7 && Head[2] == '-' && Head[3] == 'l' && (Head[4] == 'h' || Head[4] == 'z') && Head[6] == '-')
    return TArchiveKind::Lzh;
  // Old tar formats carry no magic: their header's checksum tells them.
  if (IsTarHeader(Head)) return TArchiveKind::Tar;
  return TArchiveKind::None;
}

TArchiveKind ArchiveKindToExtract(const std::string& Path) {
  const TArchiveKind byName = ArchiveKindOf(Path);
  TArchiveKind byContent = TArchiveKind::None;
  try {
    TFileStream file(Path, fmOpenRead | fmShareDenyWrite);
    const std::string head = ReadPart(file, 0, kHeadSize);
    byContent = ArchiveKindOfContent(head);
    // A program is read no further than its headers and the bytes after its
    // image, where self-extractors and installers carry their archive.
    const uint64_t imageEnd = byContent == TArchiveKind::None ? ProgramImageEnd(head) : 0;
    if (imageEnd != 0) byContent = ArchiveKindAfterProgram(ReadPart(file, imageEnd, kProgramTailSize), imageEnd);
    // A zip appended to a program with more after its image (a symbol
    // table, a signature) is told by its end record, at the file's end.
    const int64_t size = imageEnd != 0 && byContent == TArchiveKind::None ? file.GetSize() : 0;
    if (size > static_cast<int64_t>(imageEnd) &&
        EndsWithZipEndRecord(
            ReadPart(file, static_cast<uint64_t>(std::max<int64_t>(size - static_cast<int64_t>(kZipEndSearch), 0)),
                     kZipEndSearch)))
      byContent = TArchiveKind::Zip;
  } catch (const Exception&) {
    return byName;  // the step that opens it says why it cannot
  }
  return byContent != TArchiveKind::None ? byContent : byName;
}

std::string ArchiveFilter() {
  // The first three entries and the fourth's place (every archive, chosen at
  // the first activation) are what the dialog always had.
  std::string others, all, programs;
  for (const TArchiveKindInfo& info : kArchiveKinds) {
    std::string patterns;
    for (const std::string& ext : ExtensionsOf(info)) patterns += (patterns.empty() ? "*" : ";*") + ext;
    if (patterns.empty()) continue;  // known by its content alone
    all += (all.empty() ? "" : ";") + patterns;
    if (info.Kind == TArchiveKind::SelfExtracting)
      programs = std::string(kSelfExtractingFilter) + "|" + patterns + "|";
    else if (info.EngineFormat != 0)
      others += std::string(info.Name) + " Files (" + patterns + ")|" + patterns + "|";
  }
  return "Zip Files (*.zip)|*.zip|7-Zip Files (*.7z) |*.7z|Rar Files (*.rar)|*.rar|All Archives|" + all + "|" + others +
         programs;
}

std::string FolderOf(const std::string& Path) {
  const size_t delimiter = LastDelimiter(Path);
  if (delimiter == std::string::npos) return ".";
  return Path.substr(0, Path[delimiter] == ':' ? delimiter + 1 : delimiter);
}

std::string PieceOf(const std::string& Name, uint32_t N) { return Name + "." + Numbered(N, 3); }

std::string FileNameOf(const std::string& Path) {
  const size_t delimiter = LastDelimiter(Path);
  return delimiter == std::string::npos ? Path : Path.substr(delimiter + 1);
}

std::string MissingPartText(const std::string& Part) {
  return "the part \"" + FileNameOf(Part) + "\" of the set is missing.";
}

std::string OutputFolderOf(const std::string& Destination, const std::string& Archive) {
  // A set is named after the set, not after its part.
  const TSetPart part = SetPartOf(Archive);
  const size_t delimiter = LastDelimiter(part.Name);
  std::string name = delimiter == std::string::npos ? part.Name : part.Name.substr(delimiter + 1);
  const TArchiveKind kind = ArchiveKindOf(name);
  const size_t dot = name.find_last_of('.');
  // The name of a set of numbered pieces keeps an extension of no kind ("report.v2.001" -> "report.v2").
  if (dot != std::string::npos && (part.Scheme != TSetScheme::Numbered || kind != TArchiveKind::None)) name.erase(dot);
  // "src.tar.gz" is a tarball: its folder is "src".
  if (KindInfo(kind).Compressor && Lower(ExtensionOf(name)) == ".tar") name.erase(name.size() - 4);
  return Destination + "\\" + name;
}

std::string CompressedItemName(const std::string& Archive) {
  const std::string set = SetPartOf(Archive).Name;
  const size_t delimiter = LastDelimiter(set);
  std::string name = delimiter == std::string::npos ? set : set.substr(delimiter + 1);
  const std::string ext = Lower(ExtensionOf(name));
  if (!ext.empty()) name.erase(name.size() - ext.size());
  if (Lists(".tgz;.tbz;.tbz2;.txz;.tzst", ext)) name += ".tar";
  return name;
}

std::string GenericErrorText(const std::string& Message) {
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + ".";
  return Message;
}

std::string ExceptionText(const std::exception& E) {
  if (auto* own = dynamic_cast<const Exception*>(&E)) return own->Message;
  if (dynamic_cast<const std::bad_alloc*>(&E)) return "Out of memory";
  return E.what();
}
