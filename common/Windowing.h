#pragma once
// Pieces every window of the program uses: its class registration, child
// controls, the window procedure that hands messages to the object behind a
// window, the modal loop of a dialog, and the screen's facts.

#include <windows.h>

#include <exception>
#include <functional>
#include <stdexcept>

// The major version of Windows (6 from Vista on); 0 when it cannot be read.
int WindowsMajorVersion();

// The screen's dots per inch (96 when it cannot be read).
int ScreenDpi();

// Registers a window class of this program once (later calls do nothing):
// arrow cursor, button-face background, the given procedure and icon.
void RegisterWindowClass(const char* ClassName, WNDPROC Procedure, HICON Icon);

// A visible-or-not child control of Parent with the given font and id, at the
// given place (0 x 0 at the origin when it is placed later).
HWND CreateChild(HWND Parent, HFONT Font, DWORD ExStyle, const char* ClassName, const char* Text, DWORD Style, int Id,
                 const RECT& Place = RECT{0, 0, 0, 0});

// Runs the modal loop of Dialog until Done becomes true. Meanwhile the
// thread's other windows are disabled; afterwards they are enabled again and
// the dialog's owner (or the window that was active) becomes active again. Preview sees each
// message for the dialog or one of its controls first (for key handling) and
// returns true when it took the message. A WM_QUIT ends the loop early and is
// posted again for the outer loop; the result is false then.
bool RunModalLoop(HWND Dialog, const bool& Done, const std::function<bool(MSG&)>& Preview = nullptr);

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
