// TForm1's two lists: the list model, drops, and the paths given to the
// program on its command line or by a later start.

#include "Unit1.h"

#include <shlobj.h>

#include <cstring>
#include <unordered_set>

#include "ShellPaths.h"
#include "Text.h"

// ---- the list model ----

int TForm1::ItemCount(HWND List) { return static_cast<int>(SendMessageA(List, LVM_GETITEMCOUNT, 0, 0)); }

std::vector<std::string> TForm1::ItemCaptions(HWND List) {
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

std::string TForm1::ItemCaption(HWND List, int Index) { return ItemText(List, Index, 0); }

std::string TForm1::ItemSubText(HWND List, int Index) { return ItemText(List, Index, 1); }

int TForm1::ItemImage(HWND List, int Index) {
  LVITEMA item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = Index;
  SendMessageA(List, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

bool TForm1::AddPathToList(HWND List, const std::string& Path, TIconRule Rule) {
  return AddPathsToList(List, {Path}, Rule) == 1;
}

size_t TForm1::AddPathsToList(HWND List, const std::vector<std::string>& Paths, TIconRule Rule, bool SkipOthers) {
  // One scan of the list for the duplicate check, one redraw and one status
  // update for the whole run: thousands of paths take a fraction of a second.
  const int count = ItemCount(List);
  std::unordered_set<std::string> captions;
  captions.reserve(static_cast<size_t>(count) + Paths.size());
  for (int i = 0; i < count; ++i) captions.insert(ItemCaption(List, i));
  SendMessageA(List, WM_SETREDRAW, FALSE, 0);
  FAdding = true;
  size_t added = 0;
  for (const std::string& path : Paths) {
    if (SkipOthers && ArchiveKindOf(path) == TArchiveKind::None) continue;
    if (!captions.insert(path).second) break;  // a duplicate ends the run
    int image = 0;
    if (Rule == TIconRule::File) image = 2;
    if (Rule == TIconRule::Archive) {
      const TArchiveKind kind = ArchiveKindOf(path);
      image = kind == TArchiveKind::Rar ? 1 : kind == TArchiveKind::SevenZip ? 3 : 0;
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
  FAdding = false;
  SendMessageA(List, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(List, nullptr, TRUE);
  if (added > 0) (List == ListView1) ? ListView1Change() : ListView2Change();
  return added;
}

int64_t TForm1::GetFileSizeKB(const std::string& Path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(Path.c_str(), GetFileExInfoStandard, &data)) return 0;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return static_cast<int64_t>(size / 1024);
}

std::string TForm1::GetSpecialFolderPath(int Folder) {
  LPITEMIDLIST found = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, Folder, &found)) || found == nullptr) return "";
  const TCoTaskMem<LPITEMIDLIST> list(found);
  wchar_t path[MAX_PATH] = {0};
  SHGetPathFromIDListW(list.Get(), path);
  return WideToAnsi(path);
}

void TForm1::DeleteSelected(HWND List) {
  const int n = static_cast<int>(SendMessageA(List, LVM_GETSELECTEDCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    const int first = static_cast<int>(SendMessageA(List, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (first < 0) break;
    SendMessageA(List, LVM_DELETEITEM, static_cast<WPARAM>(first), 0);
  }
}

void TForm1::DeleteAll(HWND List) { SendMessageA(List, LVM_DELETEALLITEMS, 0, 0); }

// ---- drops ----

// The paths of a drop, each whole however long it is. The block is read once
// from start to end (asking the shell for the paths one by one walks the
// block from its start each time: slow for thousands of files). Wide paths
// are converted to the program's code page (UTF-8 carries any name).
std::vector<std::string> TForm1::DroppedPaths(HDROP Drop) {
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

void TForm1::HandleDroppedFiles(HDROP Drop) {
  struct TFinish {
    HDROP Drop;
    ~TFinish() { DragFinish(Drop); }
  } finish{Drop};
  if (FBusy) return;
  const std::vector<std::string> paths = DroppedPaths(Drop);
  if (ArchivePageShowing())
    AddPathsToList(ListView1, paths, TIconRule::Archive, true);
  else
    AddPathsToList(ListView2, paths, TIconRule::None);
}

void TForm1::AddPaths(const std::vector<std::string>& Paths) {
  if (FBusy) return;
  // The run is cut at its first duplicate (in either list) first, then each
  // list takes its share at once.
  std::unordered_set<std::string> listed[2];
  for (int k = 0; k < 2; ++k)
    for (const std::string& caption : ItemCaptions(k == 0 ? ListView1 : ListView2)) listed[k].insert(caption);
  std::vector<std::string> share[2];
  int firstPage = -1;
  for (const std::string& path : Paths) {
    const int k = ArchiveKindOf(path) != TArchiveKind::None ? 0 : 1;
    if (!listed[k].insert(path).second) break;
    share[k].push_back(path);
    if (firstPage < 0) firstPage = k;
  }
  if (firstPage < 0) return;
  AddPathsToList(ListView1, share[0], TIconRule::Archive);
  AddPathsToList(ListView2, share[1], TIconRule::File);
  SendMessageA(PageControl1, TCM_SETCURSEL, static_cast<WPARAM>(firstPage), 0);
  PageControl1Change();  // also shows the count of the list in view
}
