#include "LinkCopies.h"

#include <windows.h>

#include "Files.h"
#include "SafePath.h"
#include "Text.h"
#include "Win32Kit.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool IsAbsolute(const std::wstring& Path) {
  return (!Path.empty() && IsSeparator(Path[0])) || (Path.size() > 1 && Path[1] == L':');
}

// Path without its drive and leading separators.
std::wstring WithoutRoot(const std::wstring& Path) {
  size_t start = Path.size() > 1 && Path[1] == L':' ? 2 : 0;
  while (start < Path.size() && IsSeparator(Path[start])) ++start;
  return Path.substr(start);
}

// Splits Path (relative) into its parts with "." and ".." resolved; none
// for the top itself. False when ".." leads above the top.
bool ResolveInside(const std::wstring& Path, std::vector<std::wstring>& Parts) {
  std::wstring part;
  for (size_t i = 0; i <= Path.size(); ++i) {
    if (i < Path.size() && !IsSeparator(Path[i])) {
      part += Path[i];
      continue;
    }
    if (part == L"..") {
      if (Parts.empty()) return false;
      Parts.pop_back();
    } else if (!part.empty() && part != L".") {
      Parts.push_back(part);
    }
    part.clear();
  }
  return true;
}

std::wstring Joined(const std::vector<std::wstring>& Parts) {
  std::wstring path;
  for (const std::wstring& p : Parts) path += (path.empty() ? L"" : L"/") + p;
  return path;
}

// Whether the relative path Path is Folder or lies below it (in any case);
// everything lies below the top (an empty Folder).
bool IsBelow(const std::wstring& Path, const std::wstring& Folder) {
  if (Folder.empty()) return true;
  if (Path.size() < Folder.size() || (Path.size() > Folder.size() && Path[Folder.size()] != L'\\')) return false;
  return FoldedName(Path.substr(0, Folder.size())) == FoldedName(Folder);
}

DWORD AttributesOf(const std::wstring& Path) { return GetFileAttributesW(LongPathForm(Path).c_str()); }

}  // namespace

const char* TLinkCopies::Text(TNotMade Why) {
  switch (Why) {
    case TNotMade::Outside: return "Not made: a link that leads outside the folder";
    case TNotMade::Missing: return "Not made: a link whose target is not among the files extracted";
    case TNotMade::HoldsItself: return "Not made: a link to a folder that holds the link";
    case TNotMade::SourceMissing: return "Not made: a file reference whose source is not among the files extracted";
    default: return "Could not create file";
  }
}

TLinkCopies::TLinkCopies(const std::wstring& Folder) : FFolder(Folder) {
  if (!FFolder.empty() && !IsSeparator(FFolder.back())) FFolder += L'\\';
}

void TLinkCopies::Add(const std::wstring& ItemPath, const std::wstring& Relative, const std::wstring& Target,
                      bool Hard) {
  FLinks.push_back({ItemPath, Relative, Target, Hard, AttributesOf(FFolder + Relative) != INVALID_FILE_ATTRIBUTES});
}

void TLinkCopies::AddReference(const std::wstring& ItemPath, const std::wstring& Relative, const std::wstring& Source) {
  Add(ItemPath, Relative, Source, true);
  FLinks.back().Reference = true;
}

bool TLinkCopies::TargetOf(const TLink& Link, std::wstring& Relative) const {
  std::wstring target;
  if (Link.Hard) {
    target = WithoutRoot(Link.Target);
  } else {
    if (IsAbsolute(Link.Target)) return false;
    std::vector<std::wstring> folder;
    if (ResolveInside(WithoutRoot(Link.ItemPath), folder) && !folder.empty()) folder.pop_back();
    target = folder.empty() ? Link.Target : Joined(folder) + L"/" + Link.Target;
  }
  std::vector<std::wstring> parts;
  if (!ResolveInside(target, parts)) return false;
  Relative = SafeRelativePath(Joined(parts)).Path;  // empty: the folder itself
  return true;
}

bool TLinkCopies::CopyFolder(const std::wstring& From, const std::wstring& To, const TWritten& Written) const {
  if (!ForceDirectories(To)) return false;
  bool copied = true;
  WIN32_FIND_DATAW data;
  const TFindHandle find(FindFirstFileW(LongPathForm(From + L"\\*").c_str(), &data));
  if (!find) return true;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const std::wstring from = From + L"\\" + name, to = To + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      copied = CopyFolder(from, to, Written) && copied;
    } else if (CopyFileW(LongPathForm(from).c_str(), LongPathForm(to).c_str(), FALSE)) {
      if (Written) Written(to);
    } else {
      copied = false;
    }
  } while (FindNextFileW(find.Get(), &data));
  return copied;
}

void TLinkCopies::Make(const TWritten& Written, const TNotMadeEvent& NotMade) {
  std::vector<TLink> links;
  links.swap(FLinks);
  const auto notMade = [&](TNotMade Why, const TLink& Link) {
    if (NotMade) NotMade(Why, FFolder + Link.Relative);
  };
  // A link may lead to another link, or to a folder that holds links: copies
  // are made as long as one more can be.
  while (!links.empty()) {
    bool progress = false;
    for (auto it = links.begin(); it != links.end();) {
      const std::wstring linkName = FFolder + it->Relative;
      std::wstring target;
      if (!TargetOf(*it, target)) {
        notMade(TNotMade::Outside, *it);
        it = links.erase(it);
        continue;
      }
      // A later item took the link's place (a file, or a folder of items
      // below it): that stays.
      if (!it->Existed && AttributesOf(linkName) != INVALID_FILE_ATTRIBUTES) {
        it = links.erase(it);
        continue;
      }
      const std::wstring targetName = FFolder + target;
      const DWORD attributes = AttributesOf(targetName);
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        ++it;  // it may be another link's copy, made in this round
        continue;
      }
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (IsBelow(it->Relative, target)) {
          notMade(TNotMade::HoldsItself, *it);
          it = links.erase(it);
          continue;
        }
        // A folder is copied once the links inside it are made.
        bool waits = false;
        for (const TLink& other : links) waits = waits || (&other != &*it && IsBelow(other.Relative, target));
        if (waits) {
          ++it;
          continue;
        }
        if (!CopyFolder(targetName, linkName, Written)) notMade(TNotMade::CopyFailed, *it);
      } else {
        const size_t cut = linkName.find_last_of(L'\\');
        if (cut != std::wstring::npos) ForceDirectories(linkName.substr(0, cut));
        if (!CopyFileW(LongPathForm(targetName).c_str(), LongPathForm(linkName).c_str(), FALSE))
          notMade(TNotMade::CopyFailed, *it);
        else if (Written)
          Written(linkName);
      }
      progress = true;
      it = links.erase(it);
    }
    if (progress) continue;
    // Nothing more can be made: links to nothing are told, and the folder
    // links that waited for them go on.
    bool dropped = false;
    for (auto it = links.begin(); it != links.end();) {
      std::wstring target;
      if (TargetOf(*it, target) && AttributesOf(FFolder + target) != INVALID_FILE_ATTRIBUTES) {
        ++it;
        continue;
      }
      notMade(it->Reference ? TNotMade::SourceMissing : TNotMade::Missing, *it);
      it = links.erase(it);
      dropped = true;
    }
    if (!dropped) break;
  }
  // Folder links that wait for each other: each holds the other's copy.
  for (const TLink& link : links) notMade(TNotMade::HoldsItself, link);
}
