#pragma once
// The list model shared by the archive list and the file list: each item a
// caption (the full path as it came), one sub-item (the size in kilobytes) and
// an icon. Also the two routines that fill the model: the size text and the
// desktop folder, and the paths of a drop.

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

int ItemCount(HWND List);
std::vector<std::string> ItemCaptions(HWND List);
std::string ItemCaption(HWND List, int Index);
std::string ItemSubText(HWND List, int Index);
int ItemImage(HWND List, int Index);
void DeleteSelected(HWND List);
void DeleteAll(HWND List);
// Deletes every item of List but those at Indices (in any order).
void KeepOnly(HWND List, const std::vector<size_t>& Indices);

// What AddPathsToList does about the icon of a new item: the icon of the
// path's archive kind, the file icon, or none.
enum class TIconRule { Archive, File, None };

// Appends Paths to List in order, each with its size text, unless an item
// with exactly that caption exists: the run ends at the first duplicate (the
// paths after it are not added). Paths of no archive kind are passed over
// when SkipOthers is set. Fast for thousands of paths: one scan of the list,
// one redraw. Returns the number added.
size_t AddPathsToList(HWND List, const std::vector<std::string>& Paths, TIconRule Rule, bool SkipOthers);

// Where each of the paths given to the program (its command line, a later
// start's hand-over) goes: Lists[0] the archive list, Lists[1] the file list,
// in order. Archives go by their kind's extension (a program only when it
// carries an archive), anything else to the files. The run ends at its first
// path already in the list it goes to (Listed[k]: the captions of list k) or
// given twice. FirstList: the list of the first path taken, -1 for none.
struct TRoutedPaths {
  std::vector<std::string> Lists[2];
  int FirstList = -1;
};
TRoutedPaths RoutePaths(const std::vector<std::string>& Paths, const std::vector<std::string> (&Listed)[2]);

// The size of the file at Path in whole kilobytes, truncated; 0 for a folder
// or for a path that names nothing.
int64_t GetFileSizeKB(const std::string& Path);

// The file-system path of a shell special folder (CSIDL_...), empty when the
// shell has none.
std::string GetSpecialFolderPath(int Folder);

// The paths of a drop, each whole however long it is, in the program's code
// page.
std::vector<std::string> DroppedPaths(HDROP Drop);
