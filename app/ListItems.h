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

// The size of the file at Path in whole kilobytes, truncated; 0 for a folder
// or for a path that names nothing.
int64_t GetFileSizeKB(const std::string& Path);

// The file-system path of a shell special folder (CSIDL_...), empty when the
// shell has none.
std::string GetSpecialFolderPath(int Folder);

// The paths of a drop, each whole however long it is, in the program's code
// page.
std::vector<std::string> DroppedPaths(HDROP Drop);
