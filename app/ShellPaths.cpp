#include "ShellPaths.h"

#include <new>

#include "Exception.h"
#include "PathParts.h"

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

}  // namespace

std::string ExtensionOf(const std::string& Path) {
  const size_t delimiter = LastDelimiter(Path);
  const size_t dot = Path.find_last_of('.');
  if (dot == std::string::npos || (delimiter != std::string::npos && dot < delimiter)) return "";
  return Path.substr(dot);
}

TArchiveKind ArchiveKindOf(const std::string& Path) {
  const std::string ext = Lower(ExtensionOf(Path));
  if (ext == ".zip") return TArchiveKind::Zip;
  if (ext == ".rar") return TArchiveKind::Rar;
  if (ext == ".7z") return TArchiveKind::SevenZip;
  return TArchiveKind::None;
}

std::string OutputFolderOf(const std::string& Destination, const std::string& Archive) {
  const size_t delimiter = LastDelimiter(Archive);
  std::string name = delimiter == std::string::npos ? Archive : Archive.substr(delimiter + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return Destination + "\\" + name;
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
