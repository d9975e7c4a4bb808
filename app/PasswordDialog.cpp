#include "PasswordDialog.h"

#include "Text.h"
#include "Win32Window.h"
#include "resource.h"

namespace {
const char kCaption[] = "Password";
const char kPrompt[] = "Enter the password for the archive:";
const char kRetry[] = "The password was wrong. Please try again.";
const char kShowPassword[] = "&Show password";
const char kOk[] = "OK";
const char kCancel[] = "Cancel";

constexpr int kWidth = 340, kHeight = 150;  // client area at 96 DPI

}  // namespace

TPasswordDialog::TPasswordDialog(HWND Owner, const std::string& Archive, bool Retry)
    : FArchive(Archive), FRetry(Retry) {
  RegisterWindowClass(QUARN_PASSWORD_CLASS, ObjectWindowProc, nullptr);
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT r = {0, 0, Scale(kWidth), Scale(kHeight)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  const int w = r.right - r.left, h = r.bottom - r.top;
  // Centred over the owner (or the screen without one).
  RECT over = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (Owner != nullptr) GetWindowRect(Owner, &over);
  const int x = over.left + ((over.right - over.left) - w) / 2;
  const int y = over.top + ((over.bottom - over.top) - h) / 2;
  FHandle = CreateWindowExA(exStyle, QUARN_PASSWORD_CLASS, kCaption, style, x, y, w, h, Owner, nullptr,
                            GetModuleHandleA(nullptr), static_cast<TObjectWindow*>(this));
}

TPasswordDialog::~TPasswordDialog() {
  // The controls go before the font they use.
  if (FHandle != nullptr) DestroyWindow(FHandle);
}

void TPasswordDialog::FormCreate() {
  FFont.Reset(CreateProgramFont(FDpi));
  auto child = [&](DWORD exStyle, const char* cls, const char* text, DWORD style, int id, int x, int y, int w, int h) {
    return CreateChild(FHandle, FFont.Get(), exStyle, cls, text, WS_VISIBLE | style, id,
                       {Scale(x), Scale(y), Scale(x + w), Scale(y + h)});
  };
  Prompt = child(0, "STATIC", kPrompt, SS_LEFT | SS_NOPREFIX, IDC_PASSWORD_PROMPT, 12, 10, 316, 16);
  ArchiveLabel = child(0, "STATIC", FArchive.c_str(), SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, IDC_PASSWORD_ARCHIVE, 12,
                       28, 316, 16);
  Hint = child(0, "STATIC", FRetry ? kRetry : "", SS_LEFT | SS_NOPREFIX, IDC_PASSWORD_HINT, 12, 48, 316, 16);
  PasswordEdit = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, IDC_PASSWORD_EDIT, 12,
                       68, 316, 22);
  ShowPassword = child(0, "BUTTON", kShowPassword, WS_TABSTOP | BS_AUTOCHECKBOX, IDC_PASSWORD_SHOW, 12, 96, 150, 18);
  OkButton = child(0, "BUTTON", kOk, WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, 172, 116, 75, 25);
  CancelButton = child(0, "BUTTON", kCancel, WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, 253, 116, 75, 25);
  FMask = static_cast<wchar_t>(SendMessageW(PasswordEdit, EM_GETPASSWORDCHAR, 0, 0));
}

LRESULT TPasswordDialog::Dispatch(UINT Message, WPARAM wParam, LPARAM lParam) {
  switch (Message) {
    case WM_CREATE: FormCreate(); return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: Close(true); return 0;
        case IDCANCEL: Close(false); return 0;
        case IDC_PASSWORD_SHOW:
          if (HIWORD(wParam) == BN_CLICKED) ShowPasswordClick();
          return 0;
      }
      break;
    case WM_CLOSE: Close(false); return 0;
  }
  return DefWindowProcA(FHandle, Message, wParam, lParam);
}

void TPasswordDialog::HandleException(const std::exception&) { Close(false); }

void TPasswordDialog::ShowPasswordClick() {
  const bool show = SendMessageA(ShowPassword, BM_GETCHECK, 0, 0) == BST_CHECKED;
  SendMessageW(PasswordEdit, EM_SETPASSWORDCHAR, show ? 0 : FMask, 0);
  InvalidateRect(PasswordEdit, nullptr, TRUE);
}

void TPasswordDialog::Close(bool Accepted) {
  FAccepted = Accepted;
  FDone = true;
  ShowWindow(FHandle, SW_HIDE);
}

bool TPasswordDialog::ShowModal(std::string& Password) {
  FDone = false;
  FAccepted = false;
  ShowWindow(FHandle, SW_SHOW);
  SetForegroundWindow(FHandle);
  SetFocus(PasswordEdit);
  RunModalLoop(FHandle, FDone);
  if (FAccepted) {
    const int n = GetWindowTextLengthA(PasswordEdit);
    std::string typed(static_cast<size_t>(n) + 1, '\0');
    GetWindowTextA(PasswordEdit, &typed[0], n + 1);
    Password.assign(typed.c_str());
    Wipe(typed);
  }
  SetWindowTextA(PasswordEdit, "");
  return FAccepted;
}
