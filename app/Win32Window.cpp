#include "Win32Window.h"

int WindowsMajorVersion() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
  if (!GetVersionExA(&info)) return 0;
  return static_cast<int>(info.dwMajorVersion);
}

HWND CreateChild(HWND Parent, HFONT Font, DWORD ExStyle, const char* ClassName, const char* Text, DWORD Style,
                 int Id) {
  HWND child = CreateWindowExA(ExStyle, ClassName, Text, WS_CHILD | WS_CLIPSIBLINGS | Style, 0, 0, 0, 0, Parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), GetModuleHandleA(nullptr),
                               nullptr);
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
