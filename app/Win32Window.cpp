#include "Win32Window.h"

#include <commctrl.h>

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

TProgramFont ProgramFont() {
  if (WindowsMajorVersion() >= 6) return {"Segoe UI", 9};
  return {"Tahoma", 8};
}

HFONT CreateProgramFont(int Dpi) {
  const TProgramFont font = ProgramFont();
  return CreateFontA(-MulDiv(font.Points, Dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.Name);
}
