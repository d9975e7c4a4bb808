#include "Win32Window.h"

#include <commctrl.h>

#include <set>
#include <string>

int WindowsMajorVersion() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  if (!GetVersionExA(&info)) return 0;
  return static_cast<int>(info.dwMajorVersion);
}

HWND CreateChild(HWND Parent, HFONT Font, DWORD ExStyle, const char* ClassName, const char* Text, DWORD Style, int Id) {
  HWND child = CreateWindowExA(ExStyle, ClassName, Text, WS_CHILD | WS_CLIPSIBLINGS | Style, 0, 0, 0, 0, Parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  return child;
}

LRESULT PageBackground(HWND PageControl, HDC Dc, HWND Label) {
  RECT r;
  GetWindowRect(Label, &r);
  MapWindowPoints(nullptr, PageControl, reinterpret_cast<POINT*>(&r), 2);
  POINT old;
  SetWindowOrgEx(Dc, r.left, r.top, &old);
  SendMessageA(PageControl, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(Dc), PRF_CLIENT);
  SetWindowOrgEx(Dc, old.x, old.y, nullptr);
  SetBkMode(Dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void RegisterWindowClass(const char* ClassName, WNDPROC Procedure, HICON Icon) {
  static std::set<std::string> registered;
  if (!registered.insert(ClassName).second) return;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = Icon;
  wc.lpszClassName = ClassName;
  RegisterClassExA(&wc);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

RECT AddTwoPages(HWND Tabs, const char* First, const char* Second, const RECT& Bounds) {
  TCITEMA tab = {};
  tab.mask = TCIF_TEXT;
  tab.pszText = const_cast<char*>(First);
  SendMessageA(Tabs, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&tab));
  tab.pszText = const_cast<char*>(Second);
  SendMessageA(Tabs, TCM_INSERTITEMA, 1, reinterpret_cast<LPARAM>(&tab));
  RECT area = {0, 0, Bounds.right - Bounds.left, Bounds.bottom - Bounds.top};
  SendMessageA(Tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  OffsetRect(&area, Bounds.left, Bounds.top);
  return area;
}
