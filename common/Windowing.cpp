#include "Windowing.h"

#include <set>
#include <string>
#include <vector>

int WindowsMajorVersion() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return 0;
#pragma GCC diagnostic pop
  return static_cast<int>(info.dwMajorVersion);
}

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
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

HWND CreateChild(HWND Parent, HFONT Font, DWORD ExStyle, const char* ClassName, const char* Text, DWORD Style, int Id,
                 const RECT& Place) {
  HWND child = CreateWindowExA(ExStyle, ClassName, Text, WS_CHILD | WS_CLIPSIBLINGS | Style, Place.left, Place.top,
                               Place.right - Place.left, Place.bottom - Place.top, Parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  return child;
}

namespace {
BOOL CALLBACK CollectEnabled(HWND Window, LPARAM List) {
  if (IsWindowVisible(Window) && IsWindowEnabled(Window)) reinterpret_cast<std::vector<HWND>*>(List)->push_back(Window);
  return TRUE;
}
}  // namespace

bool RunModalLoop(HWND Dialog, const bool& Done, const std::function<bool(MSG&)>& Preview) {
  // Activation goes back to the dialog's owner, or else to the window that
  // was active before the dialog.
  HWND active = GetWindow(Dialog, GW_OWNER);
  if (active == nullptr) active = GetActiveWindow();
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&disabled));
  for (HWND w : disabled)
    if (w != Dialog) EnableWindow(w, FALSE);

  bool quit = false;
  MSG msg;
  while (!Done) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
      quit = true;
      break;
    }
    if (msg.hwnd == Dialog || IsChild(Dialog, msg.hwnd)) {
      if (Preview && Preview(msg)) continue;
      if (IsDialogMessageA(Dialog, &msg)) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }

  for (HWND w : disabled)
    if (w != Dialog && IsWindow(w)) EnableWindow(w, TRUE);
  if (active != nullptr && active != Dialog && IsWindow(active)) SetActiveWindow(active);
  return !quit;
}

LRESULT CALLBACK ObjectWindowProc(HWND Window, UINT Message, WPARAM wParam, LPARAM lParam) {
  TObjectWindow* self = reinterpret_cast<TObjectWindow*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
  if (Message == WM_NCCREATE) {
    self = static_cast<TObjectWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->FHandle = Window;
    SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return DefWindowProcA(Window, Message, wParam, lParam);
  if (Message == WM_NCDESTROY) {
    SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
    self->FHandle = nullptr;
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
