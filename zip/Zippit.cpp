#include "Zippit.h"

#include <new>
#include <stdexcept>
#include <vector>

#include "PathParts.h"
#include "ZipNames.h"

namespace {
const char kTooLargeText[] = "Cannot add \"%s\": a zip member must stay below 4 GiB.";
const char kNoMemoryText[] = "Cannot add \"%s\": there is not enough memory to read it.";

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
}  // namespace

std::string ZipMemberName(const std::string& Path) {
  std::string rest = Path;
  if (StartsWith(rest, "\\\\?\\") || StartsWith(rest, "\\\\.\\")) {
    rest.erase(0, 4);
    if (rest.size() >= 4 && (rest[0] == 'U' || rest[0] == 'u') && (rest[1] == 'N' || rest[1] == 'n') &&
        (rest[2] == 'C' || rest[2] == 'c') && IsSeparator(rest[3]))
      rest.erase(0, 4);
  }
  if (rest.size() >= 2 && rest[1] == ':' && ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z')))
    rest.erase(0, 2);

  std::vector<std::string> parts;
  for (const std::string& part : SplitPath(rest)) {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (part != ".") {
      parts.push_back(part);
    }
  }

  std::string name;
  for (const std::string& p : parts) {
    if (!name.empty()) name += '/';
    name += p;
  }
  return name;
}

void TZippit::AddDiskFile(const std::string& FileName) {
  std::string content;
  {
    TFileStream file(FileName, fmOpenRead | fmShareExclusive);
    const int64_t size = file.GetSize();
    if (static_cast<uint64_t>(size) > 0xFFFFFFFFu) throw EZipFileError(Format(kTooLargeText, FileName.c_str()));
    try {
      content.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      throw EZipFileError(Format(kNoMemoryText, FileName.c_str()));
    } catch (const std::length_error&) {
      throw EZipFileError(Format(kNoMemoryText, FileName.c_str()));
    }
    if (size > 0) file.ReadBuffer(&content[0], size);
  }
  // An ASCII name is stored as it is; any other as UTF-8, flagged so.
  const TZipStoredName stored = EncodeZipName(ZipMemberName(FileName));
  AddFile(stored.Bytes, 0);
  SetUncompressed(Count() - 1, content);
  if (stored.Flags != 0) {
    LocalFiles.back().Flags |= stored.Flags;
    CentralDirectory.back().Flags |= stored.Flags;
    CentralDirectory.back().VersionMadeBy = stored.VersionMadeBy;
  }
}
