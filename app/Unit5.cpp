#include "Unit5.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

#include "ShellPaths.h"
#include "Win32Window.h"
#include "resource.h"

namespace {
const char kCaption[] = "License";
const char kHelpPage[] = "Help";
const char kLicensePage[] = "License";
const char kOk[] = "&OK";
const char kHelpBefore[] =
    "Quarn is a very user friendly,and easy to use, yet powerful, program\r\n"
    "with drag and drop capabilities. This allows the user to work with \r\n";
// The kinds sentence: these words, the extensions of every kind, the end.
const char kKindsLead[] = "multiple files at one time with";
const char kKindsLast[] = "and";
const char kKindsEnd[] = "file type support.";
const char kHelpAfter[] =
    "\r\n"
    "A program (.exe) is never run: the archive in it is extracted.\r\n"
    "\r\n"
    "To unzip files:\r\n"
    "Simply drag and drop files, select a destination directory and\r\n"
    "click 'unzip' button.\r\n"
    "\r\n"
    "To zip files:\r\n"
    "Simply switch tabs, add files to be zipped, and select the\r\n"
    "destination directory where the zipped file is to be created.\r\n"
    "By default, files are zipped or unzipped to the desktop directory,\r\n"
    "each zipped file is unzipped to its own folder.\r\n"
    "\r\n"
    "Make life easier and unzip with Quarn.";

// The lines that name the kinds are no longer than the lines of the text
// that the page shows whole.
constexpr size_t kHelpWidth = 60;

// The end-user agreement shipped in the program's resources, with CR LF line
// ends (a multi-line edit breaks lines only there).
std::string LicenseText() {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_LICENSE), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (found == nullptr) return "";
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (data == nullptr) return "";
  const std::string raw(data, SizeofResource(module, found));
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r') continue;
    if (raw[i] == '\n') text += '\r';
    text += raw[i];
  }
  return text;
}
}  // namespace

std::string TForm5::HelpText() {
  // Every kind Quarn takes, as the kinds table lists them.
  std::vector<std::string> words = {kKindsLead};
  std::vector<std::string> extensions;
  for (size_t i = 0; i < kArchiveKindCount; ++i)
    for (const std::string& ext : ExtensionsOf(kArchiveKinds[i])) extensions.push_back(ext);
  for (size_t i = 0; i < extensions.size(); ++i) {
    if (i + 1 == extensions.size() && i > 0) words.push_back(kKindsLast);
    words.push_back(extensions[i] + (i + 2 < extensions.size() ? "," : ""));
  }
  words.push_back(kKindsEnd);
  std::string text = kHelpBefore, line;
  for (const std::string& word : words) {
    if (!line.empty() && line.size() + 1 + word.size() > kHelpWidth) {
      text += line + "\r\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return text + line + kHelpAfter;
}

TForm5::TForm5(HWND Owner) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterWindowClass(QUARN_HELP_CLASS, ObjectWindowProc, nullptr);

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT r = {0, 0, Scale(385), Scale(384)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  // Centred over the owner (or the screen without one).
  RECT over = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (Owner != nullptr) GetWindowRect(Owner, &over);
  const int x = over.left + ((over.right - over.left) - w) / 2;
  const int y = over.top + ((over.bottom - over.top) - h) / 2;
  FHandle = CreateWindowExA(exStyle, QUARN_HELP_CLASS, kCaption, style, x, y, w, h, Owner, nullptr, instance,
                            static_cast<TObjectWindow*>(this));
}

TForm5::~TForm5() {
  // The controls go before the font they use.
  if (FHandle != nullptr) DestroyWindow(FHandle);
}

LRESULT TForm5::Dispatch(UINT Message, WPARAM wParam, LPARAM lParam) {
  switch (Message) {
    case WM_CREATE: FormCreate(); return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_FORM5_BUTTON1 || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
        Button1Click();
        return 0;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom == PageControl1 && header->code == TCN_SELCHANGE) PageControl1Change();
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == Label1)
        return PageBackground(PageControl1, reinterpret_cast<HDC>(wParam), Label1);
      break;
    case WM_CLOSE: Close(); return 0;
  }
  return DefWindowProcA(FHandle, Message, wParam, lParam);
}

void TForm5::FormCreate() {
  const TProgramFont font = ProgramFont();
  FontName = font.Name;
  FontPoints = font.Points;
  FFont.Reset(CreateProgramFont(FDpi));
  auto child = [&](DWORD exStyle, const char* cls, const char* text, DWORD style, int id) {
    return CreateChild(FHandle, FFont.Get(), exStyle, cls, text, style, id);
  };

  Button1 = child(0, "BUTTON", kOk, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDC_FORM5_BUTTON1);
  SetWindowPos(Button1, nullptr, Scale(155), Scale(347), Scale(75), Scale(25), SWP_NOZORDER);

  PageControl1 = child(0, WC_TABCONTROLA, "", WS_VISIBLE | WS_TABSTOP, IDC_FORM5_PAGECONTROL1);
  SetWindowPos(PageControl1, nullptr, 0, 0, Scale(385), Scale(330), SWP_NOZORDER);
  FPageArea = AddTwoPages(PageControl1, kHelpPage, kLicensePage, RECT{0, 0, Scale(385), Scale(330)});

  // The help text, in a label sized to it.
  const std::string help = HelpText();
  Label1 = child(0, "STATIC", help.c_str(), WS_VISIBLE | SS_LEFT | SS_NOPREFIX, IDC_FORM5_LABEL1);
  HDC dc = GetDC(Label1);
  HGDIOBJ old = SelectObject(dc, FFont.Get());
  RECT text = {0, 0, 0, 0};
  DrawTextA(dc, help.c_str(), -1, &text, DT_CALCRECT | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(Label1, dc);
  const bool modern = WindowsMajorVersion() >= 6;
  const int labelX = modern ? 10 : 24;
  const int labelY = modern ? 5 : 19;
  SetWindowPos(Label1, nullptr, FPageArea.left + Scale(labelX), FPageArea.top + Scale(labelY), text.right - text.left,
               text.bottom - text.top, SWP_NOZORDER);

  // The agreement: read-only, wrapped at the box's width, vertical scroll bar only.
  Memo1 = child(WS_EX_CLIENTEDGE, "EDIT", "",
                WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_LEFT, IDC_FORM5_MEMO1);
  SetWindowPos(Memo1, nullptr, FPageArea.left, FPageArea.top + Scale(3), Scale(374), Scale(296), SWP_NOZORDER);
  SetWindowTextA(Memo1, LicenseText().c_str());

  SetWindowPos(PageControl1, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TForm5::PageControl1Change() {
  const bool help = SendMessageA(PageControl1, TCM_GETCURSEL, 0, 0) == 0;
  ShowWindow(Label1, help ? SW_SHOW : SW_HIDE);
  ShowWindow(Memo1, help ? SW_HIDE : SW_SHOW);
}

// Nothing the dialog does can fail in a way worth telling the user.
void TForm5::HandleException(const std::exception&) {}

void TForm5::Button1Click() { Close(); }

void TForm5::Close() {
  FClosed = true;
  ShowWindow(FHandle, SW_HIDE);
}

bool TForm5::FormKeyDown(WPARAM Key) {
  if (Key != VK_ESCAPE) return false;
  Close();
  return true;
}

void TForm5::ShowModal() {
  FClosed = false;
  ShowWindow(FHandle, SW_SHOW);
  SetFocus(Button1);
  // Key preview: Escape closes the dialog from any of its controls.
  RunModalLoop(FHandle, FClosed, [this](MSG& Msg) { return Msg.message == WM_KEYDOWN && FormKeyDown(Msg.wParam); });
}
