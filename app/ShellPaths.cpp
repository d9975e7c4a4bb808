#include "ShellPaths.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Exception.h"
#include "PathParts.h"
#include "SevenZipPipe.h"
#include "Streams.h"

namespace {

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

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
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

}  // namespace

const TArchiveKindInfo kArchiveKinds[] = {
    {TArchiveKind::Zip, "zip", ".zip", 0, false, kIconZip},
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
};
const size_t kArchiveKindCount = sizeof kArchiveKinds / sizeof kArchiveKinds[0];

const TArchiveKindInfo& KindInfo(TArchiveKind Kind) {
  for (const TArchiveKindInfo& info : kArchiveKinds)
    if (info.Kind == Kind) return info;
  return kNoKind;
}

std::string ExtensionOf(const std::string& Path) {
  const size_t delimiter = LastDelimiter(Path);
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || (delimiter != std::string::npos && dot < delimiter)) return "";
  return Path.substr(dot);
}

TArchiveKind ArchiveKindOf(const std::string& Path) {
  const std::string ext = Lower(ExtensionOf(Path));
  for (const TArchiveKindInfo& info : kArchiveKinds)
    if (Lists(info.Extensions, ext)) return info.Kind;
  return TArchiveKind::None;
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
  std::string head;
  try {
    TFileStream file(Path, fmOpenRead | fmShareDenyWrite);
    head.resize(kHeadSize);
    head.resize(static_cast<size_t>(std::max<int64_t>(file.Read(&head[0], static_cast<int64_t>(head.size())), 0)));
  } catch (const Exception&) {
    return byName;  // the step that opens it says why it cannot
  }
  const TArchiveKind byContent = ArchiveKindOfContent(head);
  return byContent != TArchiveKind::None ? byContent : byName;
}

std::string ArchiveFilter() {
  // The first three entries and the fourth's place (every archive, chosen at
  // the first activation) are what the dialog always had.
  std::string others, all;
  for (const TArchiveKindInfo& info : kArchiveKinds) {
    std::string patterns;
    for (const char* p = info.Extensions; *p != '\0';) {
      const char* end = std::strchr(p, ';');
      const std::string ext = end ? std::string(p, end) : std::string(p);
      // ".z" is the compress program's ".Z": shown as users know it.
      patterns += (patterns.empty() ? "*" : ";*") + (ext == ".z" ? std::string(".Z") : ext);
      if (!end) break;
      p = end + 1;
    }
    all += (all.empty() ? "" : ";") + patterns;
    if (info.EngineFormat != 0) others += std::string(info.Name) + " Files (" + patterns + ")|" + patterns + "|";
  }
  return "Zip Files (*.zip)|*.zip|7-Zip Files (*.7z) |*.7z|Rar Files (*.rar)|*.rar|All Archives|" + all + "|" + others;
}

std::string FolderOf(const std::string& Path) {
  const size_t delimiter = LastDelimiter(Path);
  if (delimiter == std::string::npos) return ".";
  return Path.substr(0, Path[delimiter] == ':' ? delimiter + 1 : delimiter);
}

std::string OutputFolderOf(const std::string& Destination, const std::string& Archive) {
  const size_t delimiter = LastDelimiter(Archive);
  std::string name = delimiter == std::string::npos ? Archive : Archive.substr(delimiter + 1);
  const TArchiveKind kind = ArchiveKindOf(name);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  // "src.tar.gz" is a tarball: its folder is "src".
  if (KindInfo(kind).Compressor && Lower(ExtensionOf(name)) == ".tar") name.erase(name.size() - 4);
  return Destination + "\\" + name;
}

std::string CompressedItemName(const std::string& Archive) {
  const size_t delimiter = LastDelimiter(Archive);
  std::string name = delimiter == std::string::npos ? Archive : Archive.substr(delimiter + 1);
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
