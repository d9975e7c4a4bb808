#pragma once
// Pieces shared by Quarn's windows: the window procedure that hands messages
// to the object behind a window, child control creation, the Windows version.

#include <windows.h>

#include <exception>
#include <stdexcept>

// The major version of Windows (6 from Vista on); 0 when it cannot be read.
int WindowsMajorVersion();

// Registers a window class of this program once (later calls do nothing):
// arrow cursor, button-face background, the given procedure and icon.
void RegisterWindowClass(const char* ClassName, WNDPROC Procedure, HICON Icon);

// The screen's dots per inch (96 when it cannot be read).
int ScreenDpi();

// A child control of Parent with the given font, placed later.
HWND CreateChild(HWND Parent, HFONT Font, DWORD ExStyle, const char* ClassName, const char* Text, DWORD Style, int Id);

// Gives a tab control its two pages and returns the area the pages' controls
// stand in, in the coordinates of the tab control's parent. Bounds is the tab
// control's own place there.
RECT AddTwoPages(HWND Tabs, const char* First, const char* Second, const RECT& Bounds);

// Answers WM_CTLCOLORSTATIC for a label standing on a page of PageControl:
// the page control paints the part under the label into the label's DC, and
// the label draws its text transparently on it (themed pages are not
// button-face grey). Returns the brush to answer with.
LRESULT PageBackground(HWND PageControl, HDC Dc, HWND Label);

// The window procedure of a class whose windows belong to objects of type T.
// The object is the creation parameter; it is remembered at WM_NCCREATE and
// told its handle (T::AttachHandle), and every message then goes to
// T::Dispatch. No exception crosses into the window system: it goes to
// T::HandleException.
template <typename T>
LRESULT CALLBACK ObjectWindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
  T* self = reinterpret_cast<T*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
  if (Message == WM_NCCREATE) {
    self = static_cast<T*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->AttachHandle(Window);
    SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return DefWindowProcA(Window, Message, wParam, lParam);
  if (Message == WM_NCDESTROY) {
    SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
    self->AttachHandle(nullptr);
    return DefWindowProcA(Window, Message, wParam, lParam);
  }
  try {
    return self->Dispatch(Message, wParam, lParam);
  } catch (const std::exception& e) {
    self->HandleException(e);
  } catch (...) {
    self->HandleException(std::runtime_error("Unknown error"));
  }
  return 0;
}
