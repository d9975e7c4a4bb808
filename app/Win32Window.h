#pragma once
// Pieces the program's two windows share beyond the common window kit: the
// two pages of a tab control and the background of a label on such a page.

#include <windows.h>

#include "Windowing.h"

// Gives a tab control its two pages and returns the area the pages' controls
// stand in, in the coordinates of the tab control's parent. Bounds is the tab
// control's own place there.
RECT AddTwoPages(HWND Tabs, const char* First, const char* Second, const RECT& Bounds);

// Answers WM_CTLCOLORSTATIC for a label standing on a page of PageControl:
// the page control paints the part under the label into the label's DC, and
// the label draws its text transparently on it (themed pages are not
// button-face grey). Returns the brush to answer with.
LRESULT PageBackground(HWND PageControl, HDC Dc, HWND Label);

// The program's font: Segoe UI 9 pt from Windows Vista on, Tahoma 8 pt before.
struct TProgramFont {
  const char* Name;
  int Points;
};
TProgramFont ProgramFont();
// That font for a screen of Dpi dots per inch; the caller owns it.
HFONT CreateProgramFont(int Dpi);
