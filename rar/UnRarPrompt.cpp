// The two prompt dialogs of TUnRar: "Mot de passe : ..." and
// "Archive suivante : ...". Each is a small window built at run time, shown
// modally from inside a library callback, and destroyed afterwards.

#include <vector>

#include "UnRar.h"

namespace {

// Client area and controls, in pixels.
constexpr int ClientWidth = 168, ClientHeight = 69;
constexpr int MaxTypedChars = 120;

struct PromptState {
  HWND Ok = nullptr;
  bool Done = false;
  bool Accepted = false;
};

PromptState* StateOf(HWND hwnd) { return reinterpret_cast<PromptState*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

// The click handler both buttons share: OK for the button named "btnOk",
// Cancel for the other.
void ButtonClick(PromptState* state, HWND button) {
  state->Accepted = button == state->Ok;
  state->Done = true;
}

LRESULT CALLBACK PromptProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE: {
      const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_COMMAND: {
      PromptState* state = StateOf(hwnd);
      const int id = LOWORD(wParam);
      // Escape arrives as IDCANCEL and is deliberately not bound to a button.
      if (state != nullptr && (id == UnRarPromptOkId || id == UnRarPromptCancelId) && HIWORD(wParam) == BN_CLICKED)
        ButtonClick(state, GetDlgItem(hwnd, id));
      return 0;
    }
    case WM_CLOSE: {
      // Closing by the frame counts as Cancel.
      if (PromptState* state = StateOf(hwnd)) {
        state->Accepted = false;
        state->Done = true;
      }
      return 0;
    }
    default: break;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void RegisterPromptClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = PromptProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = UnRarPromptClassName;
  registered = RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

BOOL CALLBACK CollectEnabled(HWND hwnd, LPARAM lParam) {
  if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
  return TRUE;
}

HWND CreateChild(HWND parent, DWORD exStyle, const char* cls, const char* text, DWORD style, int x, int y, int w, int h,
                 int id, HFONT font) {
  HWND child = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

// Shows one prompt modally. Text holds the edit's starting text and, on
// return, its final text whichever way the dialog was closed. Returns true
// when it was closed with OK.
bool RunPrompt(const char* caption, bool masked, std::string& text, HWND& shown) {
  RegisterPromptClass();
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME;
  RECT frame = {0, 0, ClientWidth, ClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  PromptState state;
  HWND dlg = CreateWindowExA(exStyle, UnRarPromptClassName, caption, style, left, top, width, height, nullptr, nullptr,
                             GetModuleHandleA(nullptr), &state);
  if (dlg == nullptr) return false;
  const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  // Tab order follows creation order: edit, "Ok", "Annuler".
  HWND edit =
      CreateChild(dlg, WS_EX_CLIENTEDGE, "EDIT", text.c_str(), WS_TABSTOP | ES_AUTOHSCROLL | (masked ? ES_PASSWORD : 0),
                  8, 8, 153, 21, UnRarPromptEditId, font);
  SendMessageA(edit, EM_LIMITTEXT, MaxTypedChars, 0);
  if (masked) SendMessageA(edit, EM_SETPASSWORDCHAR, '*', 0);
  state.Ok = CreateChild(dlg, 0, "BUTTON", "Ok", WS_TABSTOP | BS_DEFPUSHBUTTON, 7, 37, 75, 25, UnRarPromptOkId, font);
  CreateChild(dlg, 0, "BUTTON", "Annuler", WS_TABSTOP | BS_PUSHBUTTON, 87, 37, 75, 25, UnRarPromptCancelId, font);

  // Modal: the thread's other windows are disabled while the prompt shows.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&disabled));
  for (HWND w : disabled)
    if (w != dlg) EnableWindow(w, FALSE);
  shown = dlg;
  ShowWindow(dlg, SW_SHOWNORMAL);
  SetForegroundWindow(dlg);
  SetFocus(edit);

  MSG msg;
  while (!state.Done) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // Keep the quit request for the outer loop; the prompt ends as Cancel.
      PostQuitMessage(static_cast<int>(msg.wParam));
      state.Accepted = false;
      break;
    }
    if (got < 0) break;
    if (!IsDialogMessageA(dlg, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

  const int length = GetWindowTextLengthA(edit);
  std::string typed(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(edit, &typed[0], length + 1);
  typed.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  text = typed;

  for (HWND w : disabled)
    if (w != dlg && IsWindow(w)) EnableWindow(w, TRUE);
  shown = nullptr;
  DestroyWindow(dlg);
  return state.Accepted;
}

}  // namespace

std::string TUnRar::AskPassword() {
  std::string text;
  RunPrompt("Mot de passe : ...", true, text, FDialog);
  return text;
}

bool TUnRar::AskNextVolume(const std::string& CurrentName, char* Buffer, size_t BufferSize) {
  std::string text = CurrentName;
  const bool ok = RunPrompt("Archive suivante : ...", false, text, FDialog);
  if (Buffer != nullptr && BufferSize > 0) {
    const size_t n = text.size() < BufferSize - 1 ? text.size() : BufferSize - 1;
    text.copy(Buffer, n);
    Buffer[n] = '\0';
  }
  return ok;
}
