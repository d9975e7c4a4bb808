#include "WindowPosition.h"

#include "Win32Kit.h"

namespace {
const char kRegistryKey[] = "Software\\Quarn";

// Reads a REG_DWORD value; false when it is missing or of another type.
bool ReadDword(HKEY key, const char* name, int& value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) return false;
  if (type != REG_DWORD || size != sizeof data) return false;
  value = static_cast<int>(data);
  return true;
}
}  // namespace

void ApplyStoredPosition(HWND Window, int Default) {
  int top = Default;
  int left = Default;
  HKEY opened = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &opened,
                      nullptr) == ERROR_SUCCESS) {
    const TRegKey key(opened);
    if (!ReadDword(key.Get(), "top", top)) top = Default;
    if (!ReadDword(key.Get(), "left", left)) left = Default;
  }
  // A stored place on no screen (after a monitor change) would hide the window.
  RECT r;
  GetWindowRect(Window, &r);
  RECT placed = {left, top, left + (r.right - r.left), top + (r.bottom - r.top)};
  if (MonitorFromRect(&placed, MONITOR_DEFAULTTONULL) == nullptr) {
    left = Default;
    top = Default;
  }
  SetWindowPos(Window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void StorePosition(HWND Window) {
  // A minimised window reports a place far off screen; its normal place is meant.
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  RECT r;
  GetWindowRect(Window, &r);
  if (IsIconic(Window) && GetWindowPlacement(Window, &placement)) r = placement.rcNormalPosition;
  HKEY opened = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_WRITE, nullptr, &opened, nullptr) !=
      ERROR_SUCCESS)
    return;
  const TRegKey key(opened);
  const DWORD top = static_cast<DWORD>(r.top);
  const DWORD left = static_cast<DWORD>(r.left);
  RegSetValueExA(key.Get(), "top", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&top), sizeof top);
  RegSetValueExA(key.Get(), "left", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&left), sizeof left);
}
