// The list model of the two lists and the paths of a drop.

#include "ListItems.h"

#include <shlobj.h>

#include <cstring>
#include <unordered_set>

#include "Files.h"
#include "ShellPaths.h"
#include "Text.h"
#include "Win32Kit.h"

int ItemCount(HWND List) { return static_cast<int>(SendMessageA(List, LVM_GETITEMCOUNT, 0, 0)); }

std::vector<std::string> ItemCaptions(HWND List) {
  std::vector<std::string> captions;
  for (int i = 0, n = ItemCount(List); i < n; ++i) captions.push_back(ItemCaption(List, i));
  return captions;
}

static std::string ItemText(HWND list, int index, int subItem) {
  std::string text(512, '\0');
  for (;;) {
    LVITEMA item = {};
    item.iSubItem = subItem;
    item.pszText = &text[0];
    item.cchTextMax = static_cast<int>(text.size());
    const LRESULT n = SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    if (n < static_cast<LRESULT>(text.size()) - 1) {
      text.resize(static_cast<size_t>(n));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

std::string ItemCaption(HWND List, int Index) { return ItemText(List, Index, 0); }

std::string ItemSubText(HWND List, int Index) { return ItemText(List, Index, 1); }

int ItemImage(HWND List, int Index) {
  LVITEMA item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = Index;
  SendMessageA(List, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

void KeepOnly(HWND List, const std::vector<size_t>& Indices) {
  const std::unordered_set<size_t> keep(Indices.begin(), Indices.end());
  for (int i = ItemCount(List) - 1; i >= 0; --i)
    if (keep.count(static_cast<size_t>(i)) == 0) SendMessageA(List, LVM_DELETEITEM, static_cast<WPARAM>(i), 0);
}

TRoutedPaths RoutePaths(const std::vector<std::string>& Paths, const std::vector<std::string> (&Listed)[2]) {
  TRoutedPaths routed;
  std::unordered_set<std::string> taken[2];
  for (int k = 0; k < 2; ++k) taken[k].insert(Listed[k].begin(), Listed[k].end());
  for (const std::string& path : Paths) {
    const TArchiveKind named = ArchiveKindOf(path);
    const bool archive = named != TArchiveKind::None && (named != TArchiveKind::SelfExtracting ||
                                                         ArchiveKindToExtract(path) != TArchiveKind::SelfExtracting);
    const int k = archive ? 0 : 1;
    if (!taken[k].insert(path).second) break;
    routed.Lists[k].push_back(path);
    if (routed.FirstList < 0) routed.FirstList = k;
  }
  return routed;
}

int64_t GetFileSizeKB(const std::string& Path) { return static_cast<int64_t>(FileSizeOf(Path) / 1024); }

std::string GetSpecialFolderPath(int Folder) {
  LPITEMIDLIST found = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, Folder, &found)) || found == nullptr) return "";
  const TCoTaskMem<LPITEMIDLIST> list(found);
  wchar_t path[MAX_PATH] = {0};
  SHGetPathFromIDListW(list.Get(), path);
  return WideToAnsi(path);
}

void DeleteSelected(HWND List) {
  const int n = static_cast<int>(SendMessageA(List, LVM_GETSELECTEDCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    const int first = static_cast<int>(SendMessageA(List, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (first < 0) break;
    SendMessageA(List, LVM_DELETEITEM, static_cast<WPARAM>(first), 0);
  }
}

void DeleteAll(HWND List) { SendMessageA(List, LVM_DELETEALLITEMS, 0, 0); }

// The paths of a drop, each whole however long it is. The block is read once
// from start to end (asking the shell for the paths one by one walks the
// block from its start each time: slow for thousands of files). Wide paths
// are converted to the program's code page (UTF-8 carries any name).
std::vector<std::string> DroppedPaths(HDROP Drop) {
  std::vector<std::string> paths;
  const auto* block = static_cast<const DROPFILES*>(GlobalLock(Drop));
  if (block == nullptr) return paths;
  // The names end with an empty one; the block's size, when the system knows
  // it, bounds the walk too.
  const SIZE_T size = GlobalSize(Drop);
  const char* base = reinterpret_cast<const char*>(block);
  const auto inside = [&](const void* p, size_t unit) {
    return size == 0 || static_cast<const char*>(p) + unit <= base + size;
  };
  if (block->fWide) {
    const auto* p = reinterpret_cast<const wchar_t*>(base + block->pFiles);
    while (inside(p, sizeof(wchar_t)) && *p != 0) {
      const wchar_t* start = p;
      while (inside(p, sizeof(wchar_t)) && *p != 0) ++p;
      paths.push_back(WideToAnsi(std::wstring(start, p)));
      ++p;
    }
  } else {
    const char* p = base + block->pFiles;
    while (inside(p, 1) && *p != 0) {
      const char* start = p;
      while (inside(p, 1) && *p != 0) ++p;
      paths.emplace_back(start, p);
      ++p;
    }
  }
  GlobalUnlock(Drop);
  return paths;
}

size_t AddPathsToList(HWND List, const std::vector<std::string>& Paths, TIconRule Rule, bool SkipOthers) {
  const int count = ItemCount(List);
  std::unordered_set<std::string> captions;
  captions.reserve(static_cast<size_t>(count) + Paths.size());
  for (int i = 0; i < count; ++i) captions.insert(ItemCaption(List, i));
  SendMessageA(List, WM_SETREDRAW, FALSE, 0);
  size_t added = 0;
  for (const std::string& path : Paths) {
    if (SkipOthers && ArchiveKindOf(path) == TArchiveKind::None) continue;
    if (!captions.insert(path).second) break;  // a duplicate ends the run
    int image = kIconZip;
    if (Rule == TIconRule::File) image = kIconFile;
    if (Rule == TIconRule::Archive) {
      const TArchiveKind kind = ArchiveKindOf(path);
      image = kind == TArchiveKind::None ? kIconZip : KindInfo(kind).Icon;
    }
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = count + static_cast<int>(added);
    item.pszText = const_cast<char*>(path.c_str());
    item.iImage = image;
    const int index = static_cast<int>(SendMessageA(List, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    const std::string size = std::to_string(GetFileSizeKB(path));
    LVITEMA sub = {};
    sub.iSubItem = 1;
    sub.pszText = const_cast<char*>(size.c_str());
    SendMessageA(List, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
    ++added;
  }
  SendMessageA(List, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(List, nullptr, TRUE);
  return added;
}
