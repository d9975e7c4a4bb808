// The two prompt dialogs of TUnRar: "Mot de passe : ..." and
// "Archive suivante : ...". Each is a small window built at run time, shown
// modally from inside a library callback, and destroyed afterwards.

#include "UnRar.h"
#include "Windowing.h"

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

// Shows one prompt modally. Text holds the edit's starting text and, on
// return, its final text whichever way the dialog was closed. Returns true
// when it was closed with OK.
bool RunPrompt(const char* caption, bool masked, std::string& text, HWND& shown) {
  RegisterWindowClass(UnRarPromptClassName, PromptProc, nullptr);
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
  HWND edit = CreateChild(dlg, font, WS_EX_CLIENTEDGE, "EDIT", text.c_str(),
                          WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | (masked ? ES_PASSWORD : 0), UnRarPromptEditId,
                          {8, 8, 8 + 153, 8 + 21});
  SendMessageA(edit, EM_LIMITTEXT, MaxTypedChars, 0);
  if (masked) SendMessageA(edit, EM_SETPASSWORDCHAR, '*', 0);
  state.Ok = CreateChild(dlg, font, 0, "BUTTON", "Ok", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, UnRarPromptOkId,
                         {7, 37, 7 + 75, 37 + 25});
  CreateChild(dlg, font, 0, "BUTTON", "Annuler", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, UnRarPromptCancelId,
              {87, 37, 87 + 75, 37 + 25});

  shown = dlg;
  ShowWindow(dlg, SW_SHOWNORMAL);
  SetForegroundWindow(dlg);
  SetFocus(edit);
  // Modal: the thread's other windows are disabled while the prompt shows. A
  // quit request ends the prompt as Cancel (and is kept for the outer loop).
  if (!RunModalLoop(dlg, state.Done)) state.Accepted = false;

  const int length = GetWindowTextLengthA(edit);
  std::string typed(static_cast<size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(edit, &typed[0], length + 1);
  typed.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  text = typed;
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
