#pragma once
// The links an archive holds (the symbolic and hard links of tar, cpio and
// RAR archives), made as copies of what they lead to once every item of the
// archive is out: never as links, which could lead outside the folder
// afterwards. A link to a file inside the folder becomes a copy of the file,
// a link to a folder a copy of the folder; a link that leads outside the
// folder, to nothing that was extracted, or to a folder that holds the link
// itself is not made, and each is told. A file reference (a file stored once
// in a RAR archive and named again elsewhere) is made the same way, as a copy
// of the file it names.

#include <functional>
#include <string>
#include <vector>

class TLinkCopies {
 public:
  // Why a link was not made.
  enum class TNotMade { Outside, Missing, HoldsItself, CopyFailed, SourceMissing };
  // The words the reports use for each.
  static const char* Text(TNotMade Why);

  // Folder: where the archive's items go.
  explicit TLinkCopies(const std::wstring& Folder);

  // A link met in the archive, before the items after it are out: ItemPath
  // is its own name in the archive, Relative its (safe) path below the
  // folder, Target what it leads to as the archive gives it. The target of a
  // hard link is a name in the archive (an absolute one is taken relative to
  // the folder, as the names of items are); that of a symbolic link a path
  // relative to the link's own folder (an absolute one leads outside).
  void Add(const std::wstring& ItemPath, const std::wstring& Relative, const std::wstring& Target, bool Hard);
  // A file reference met in the archive: Source is the name in the archive of
  // the file whose content it repeats, taken as a hard link's target is. One
  // whose source was not extracted is told as SourceMissing.
  void AddReference(const std::wstring& ItemPath, const std::wstring& Relative, const std::wstring& Source);
  bool Empty() const { return FLinks.empty(); }

  // Makes the copies: Written is told each file made (a folder's copy tells
  // each of its files), NotMade each link not made, with its full path. A
  // link whose place a later item of the archive took is left to that item.
  using TWritten = std::function<void(const std::wstring& File)>;
  using TNotMadeEvent = std::function<void(TNotMade Why, const std::wstring& Link)>;
  void Make(const TWritten& Written, const TNotMadeEvent& NotMade);

 private:
  struct TLink {
    std::wstring ItemPath, Relative, Target;
    bool Hard = false;
    bool Existed = false;  // something was at the link's place before the extraction
    bool Reference = false;
  };
  // The path below the folder that Link leads to (empty: the folder itself);
  // false when it leads outside.
  bool TargetOf(const TLink& Link, std::wstring& Relative) const;
  bool CopyFolder(const std::wstring& From, const std::wstring& To, const TWritten& Written) const;

  std::wstring FFolder;  // with a trailing backslash
  std::vector<TLink> FLinks;
};
