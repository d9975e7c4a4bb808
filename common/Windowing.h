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

// The object behind a window of the program: its handle, its screen's dots
// per inch, and where its messages go. A window class of such windows is
// registered with ObjectWindowProc, and each window is created with its
// object (as a TObjectWindow*) for the creation parameter.
class TObjectWindow {
 public:
  TObjectWindow(const TObjectWindow&) = delete;
  TObjectWindow& operator=(const TObjectWindow&) = delete;
  HWND Handle() const { return FHandle; }

 protected:
  TObjectWindow() : FDpi(ScreenDpi()) {}
  virtual ~TObjectWindow() = default;
  // Every message of the window, from WM_NCCREATE's next on.
  virtual LRESULT Dispatch(UINT Message, WPARAM wParam, LPARAM lParam) = 0;
  // What a message's handler raised (nothing crosses into the window system).
  virtual void HandleException(const std::exception& E) = 0;
  // A length at 96 dots per inch, on this screen.
  int Scale(int Value) const { return MulDiv(Value, FDpi, 96); }

  HWND FHandle = nullptr;  // null before WM_NCCREATE and after WM_NCDESTROY
  int FDpi;

 private:
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
};

// The window procedure of a class whose windows belong to TObjectWindow
// objects: the object is remembered at WM_NCCREATE and given its handle, and
// every message then goes to its Dispatch; an exception goes to its
// HandleException.
LRESULT CALLBACK ObjectWindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam);
