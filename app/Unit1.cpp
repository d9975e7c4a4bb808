#include "Unit1.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CommandLine.h"
#include "Exception.h"
#include "SevenZip.h"
#include "SevenZipPaths.h"
#include "ShellPaths.h"
#include "Streams.h"
#include "UnRar.h"
#include "Unit5.h"
#include "ZipFile.h"
#include "Zippit.h"
#include "Win32Window.h"
#include "resource.h"

TForm1* Form1 = nullptr;

namespace {

// The program's texts.
const char kCaption[] = "Quarn 1.00";
const char kArchivesPage[] = "Archives to extract";
const char kFilesPage[] = "Files to Zip";
const char kFilesColumn[] = "Files";
const char kSizeColumn[] = "Size(kbytes)";
const char kDestinationLabel[] = "Destination directory :";
const char kSaveAsLabel[] = "Save archive as :";
const char kSelect[] = "Select";
const char kArchivesSuffix[] = " archive(s)";
const char kFilesSuffix[] = " file(s)";
const char kStatusNotice[] = "v1.00";
const char kUnzipHint[] = "Unzip";
const char kZipHint[] = "Zip";
const char kHelpHint[] = "Help/License";
const char kExitHint[] = "Exit";
const char kAddFiles[] = "&Add File(s) ...";
const char kRemoveFiles[] = "&Remove File(s)";
const char kRemoveAll[] = "Re&move All";
const char kArchiveFilter[] =
    "Zip Files (*.zip)|*.zip|7-Zip Files (*.7z) |*.7z|Rar Files (*.rar)|*.rar|"
    "Zip, 7-Zip, Rar Files (*.zip;*.7z;*.rar)|*.zip;*.7z;*.rar";
const char kAllFilesFilter[] = "All Files (*.*)|*.*";
const char kZipFilter[] = "Zip Files (*.zip)|*.zip";
const char kZipDefaultExt[] = "*.zip";
const char kQuarnZip[] = "\\quarn.zip";
const char kBrowseTitle[] = "Select a destination directory :";
const char kSelectDirectory[] = "Please select a directory first !";
const char kSelectFilename[] = "Please select a filename first !";
const char kSelectFile[] = "Please select at least one file first !";
const char kFileExists[] = "File already exists !\r\nPlease choose another filename .";
const char kNoArchive[] = "No archive was created !";
const char kErrorTitle[] = "Error";
const char kCantExtract[] = "Can't extract files from %s .\r\nPlease try again .";
const char kReportHead[] = "These archives were not extracted completely:";
const char kNotAnArchive[] = "not a zip, 7z or rar archive; skipped.";
const char kExtractResult[] = "extraction failed (result %d).";
const char kMoreProblems[] = "... and %d more problems.";
const char kRegistryKey[] = "Software\\Quarn";

constexpr int kDefaultPosition = 100;
constexpr size_t kProblemsShown = 5;  // per archive, in the report after the walk

bool FileExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Creates a folder with all missing parents; failures pass silently (a file
// below a folder that could not be made fails loudly on its own).
void ForceDirectories(const std::string& folder) {
  std::string path = folder;
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (path.empty() || path.back() == ':') return;
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) return;
  const size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0) ForceDirectories(path.substr(0, cut));
  CreateDirectoryA(path.c_str(), nullptr);
}

// Reads a REG_DWORD value; false when it is missing or of another type.
bool ReadDword(HKEY key, const char* name, int& value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS) return false;
  if (type != REG_DWORD || size != sizeof data) return false;
  value = static_cast<int>(data);
  return true;
}

// Puts a path where the text has %s (paths may hold "%" themselves).
std::string WithPath(const char* text, const std::string& path) {
  std::string result = text;
  const size_t at = result.find("%s");
  if (at != std::string::npos) result.replace(at, 2, path);
  return result;
}

std::string ExceptionText(const std::exception& e) {
  if (auto* own = dynamic_cast<const Exception*>(&e)) return own->Message;
  if (dynamic_cast<const std::bad_alloc*>(&e)) return "Out of memory";
  return e.what();
}

}  // namespace

// ---- creation ----

TForm1::TForm1(HWND Application, std::unique_ptr<IUserInterface> UI) : FApplication(Application), FUI(std::move(UI)) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof icc,
                              ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  RegisterWindowClass(QUARN_MAIN_CLASS, ObjectWindowProc<TForm1>, LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUARN)));
  FDpi = ScreenDpi();

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
  RECT r = {0, 0, Scale(531), Scale(419)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  FHandle =
      CreateWindowExA(exStyle, QUARN_MAIN_CLASS, kCaption, style, Scale(kDefaultPosition), Scale(kDefaultPosition),
                      r.right - r.left, r.bottom - r.top, Application, nullptr, instance, this);
  if (FHandle == nullptr)
    throw Exception(Format("Cannot create the main window (error %lu).", static_cast<unsigned long>(GetLastError())));
}

TForm1::~TForm1() {
  if (FHandle != nullptr) DestroyWindow(FHandle);
  if (PopupMenu1) DestroyMenu(PopupMenu1);
  if (PopupMenu2) DestroyMenu(PopupMenu2);
  if (FImageList) ImageList_Destroy(FImageList);
  if (FFont) DeleteObject(FFont);
  for (HBITMAP b : FBitmaps)
    if (b) DeleteObject(b);
  for (HICON i : FButtonIcons)
    if (i) DestroyIcon(i);
}

void TForm1::Show() {
  FShown = true;
  ShowWindow(FHandle, SW_SHOW);
  UpdateWindow(FHandle);
}

int TForm1::Scale(int Value) const { return MulDiv(Value, FDpi, 96); }

void TForm1::Place(HWND Control, int X, int Y, int W, int H) const {
  SetWindowPos(Control, nullptr, Scale(X), Scale(Y), Scale(W), Scale(H), SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::PlaceOnPage(HWND Control, int X, int Y, int W, int H) const {
  SetWindowPos(Control, nullptr, FPageArea.left + Scale(X), FPageArea.top + Scale(Y), Scale(W), Scale(H),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::CreateControls() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  auto child = [&](DWORD exStyle, const char* cls, const char* text, DWORD style, int id) {
    return CreateChild(FHandle, FFont, exStyle, cls, text, style, id);
  };

  // Left band with the logo and the four picture buttons on it.
  BitBtn1 = child(0, "BUTTON", kUnzipHint, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, IDC_BITBTN1);
  BitBtn6 = child(0, "BUTTON", kZipHint, WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, IDC_BITBTN6);
  BitBtn3 = child(0, "BUTTON", kHelpHint, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, IDC_BITBTN3);
  BitBtn4 = child(0, "BUTTON", kExitHint, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON, IDC_BITBTN4);
  Image2 = child(0, "STATIC", "", WS_VISIBLE | SS_BITMAP, IDC_IMAGE2);
  Image1 = child(0, "STATIC", "", WS_VISIBLE | SS_BITMAP, IDC_IMAGE1);
  Place(Image1, 0, 0, 201, 401);
  Place(Image2, 66, 48, 126, 126);
  Place(BitBtn1, 136, 197, 50, 43);
  Place(BitBtn6, 136, 197, 50, 43);
  Place(BitBtn3, 136, 295, 50, 43);
  Place(BitBtn4, 136, 344, 50, 43);
  const int bitmapIds[2] = {IDB_IMAGE1, IDB_IMAGE2};
  const int bitmapSizes[2][2] = {{201, 401}, {126, 126}};
  HWND images[2] = {Image1, Image2};
  for (int i = 0; i < 2; ++i) {
    FBitmaps[i] = static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(bitmapIds[i]), IMAGE_BITMAP,
                                                  Scale(bitmapSizes[i][0]), Scale(bitmapSizes[i][1]), 0));
    if (FBitmaps[i]) SendMessageA(images[i], STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(FBitmaps[i]));
    Place(images[i], i == 0 ? 0 : 66, i == 0 ? 0 : 48, bitmapSizes[i][0], bitmapSizes[i][1]);
  }
  const int iconIds[4] = {IDI_UNZIP, IDI_ZIP, IDI_HELP, IDI_EXIT};
  HWND buttons[4] = {BitBtn1, BitBtn6, BitBtn3, BitBtn4};
  for (int i = 0; i < 4; ++i) {
    FButtonIcons[i] =
        static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(iconIds[i]), IMAGE_ICON, Scale(32), Scale(32), 0));
    if (FButtonIcons[i]) SendMessageA(buttons[i], BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(FButtonIcons[i]));
  }

  // The page control and the controls of its two pages.
  PageControl1 = child(0, WC_TABCONTROLA, "", WS_VISIBLE | WS_TABSTOP, IDC_PAGECONTROL1);
  Place(PageControl1, 207, 8, 318, 386);
  const RECT bounds = {Scale(207), Scale(8), Scale(207 + 318), Scale(8 + 386)};
  FPageArea = AddTwoPages(PageControl1, kArchivesPage, kFilesPage, bounds);

  FImageList = ImageList_Create(Scale(16), Scale(16), ILC_COLOR32 | ILC_MASK, 4, 0);
  const int listIcons[4] = {IDI_LIST_ZIP, IDI_LIST_RAR, IDI_LIST_FILE, IDI_LIST_7Z};
  for (int id : listIcons) {
    HICON icon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, Scale(16), Scale(16), 0));
    if (icon) {
      ImageList_AddIcon(FImageList, icon);
      DestroyIcon(icon);
    }
  }

  const DWORD listStyle = WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS;
  ListView1 = child(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", listStyle, IDC_LISTVIEW1);
  Label1 = child(0, "STATIC", kDestinationLabel, WS_VISIBLE, IDC_LABEL1);
  Edit1 = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_VISIBLE | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, IDC_EDIT1);
  BitBtn5 = child(0, "BUTTON", kSelect, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDC_BITBTN5);
  ListView2 = child(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", listStyle & ~WS_VISIBLE, IDC_LISTVIEW2);
  Label2 = child(0, "STATIC", kSaveAsLabel, 0, IDC_LABEL2);
  Edit2 = child(WS_EX_CLIENTEDGE, "EDIT", "", WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, IDC_EDIT2);
  BitBtn7 = child(0, "BUTTON", kSelect, WS_TABSTOP | BS_PUSHBUTTON, IDC_BITBTN7);
  for (HWND list : {ListView1, ListView2}) {
    PlaceOnPage(list, 3, 0, 302, 310);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
                 LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(FImageList));
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<char*>(kFilesColumn);
    column.cx = Scale(220);
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    column.pszText = const_cast<char*>(kSizeColumn);
    column.cx = Scale(75);
    SendMessageA(list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
  }
  for (HWND label : {Label1, Label2}) PlaceOnPage(label, 3, 316, 200, 15);
  for (HWND edit : {Edit1, Edit2}) PlaceOnPage(edit, 3, 333, 247, 21);
  for (HWND button : {BitBtn5, BitBtn7}) PlaceOnPage(button, 256, 333, 49, 21);
  // The page control lies under its pages' controls, the band under its buttons.
  SetWindowPos(PageControl1, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(Image1, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  StatusBar1 = child(0, STATUSCLASSNAMEA, "", WS_VISIBLE | CCS_BOTTOM, IDC_STATUSBAR1);
  SendMessageA(StatusBar1, SB_SETMINHEIGHT, Scale(19) - 2 * GetSystemMetrics(SM_CYBORDER), 0);
  SendMessageA(StatusBar1, WM_SIZE, 0, 0);
  int parts[2] = {Scale(93), Scale(93 + 50)};
  SendMessageA(StatusBar1, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
  SetStatus(1, kStatusNotice);

  // Tool tips of the picture buttons.
  ToolTips =
      CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, FHandle, nullptr, instance, nullptr);
  const char* hints[4] = {kUnzipHint, kZipHint, kHelpHint, kExitHint};
  for (int i = 0; i < 4; ++i) {
    TTTOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = FHandle;
    tool.uId = reinterpret_cast<UINT_PTR>(buttons[i]);
    tool.lpszText = const_cast<char*>(hints[i]);
    SendMessageA(ToolTips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  }

  // Context menus of the two lists. The explore command has no menu item: it
  // stays reachable only through its command id.
  PopupMenu1 = CreatePopupMenu();
  AppendMenuA(PopupMenu1, MF_STRING, IDM_ADDFILES1, kAddFiles);
  AppendMenuA(PopupMenu1, MF_STRING, IDM_DELETEFILES1, kRemoveFiles);
  AppendMenuA(PopupMenu1, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(PopupMenu1, MF_STRING, IDM_REMOVEALL1, kRemoveAll);
  PopupMenu2 = CreatePopupMenu();
  AppendMenuA(PopupMenu2, MF_STRING, IDM_MENUITEM1, kAddFiles);
  AppendMenuA(PopupMenu2, MF_STRING, IDM_MENUITEM2, kRemoveFiles);
  AppendMenuA(PopupMenu2, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(PopupMenu2, MF_STRING, IDM_MENUITEM5, kRemoveAll);
}

// ---- window procedure ----

LRESULT TForm1::Dispatch(UINT Message, WPARAM wParam, LPARAM lParam) {
  switch (Message) {
    case WM_CREATE: FormCreate(); return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !FActivated && FShown) {
        FActivated = true;
        FormActivate();
      }
      break;
    case WM_CLOSE:
      FormClose();
      DestroyWindow(FHandle);
      return 0;
    case WM_DESTROY:
      if (Form1 == this) PostQuitMessage(0);
      break;
    case WM_SYSCOMMAND:
      if (HandleSystemCommand(wParam)) return 0;
      break;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: OnNotify(reinterpret_cast<NMHDR*>(lParam)); return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(reinterpret_cast<HWND>(wParam), static_cast<short>(LOWORD(lParam)),
                    static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_DROPFILES: HandleDroppedFiles(reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_COPYDATA: {
      // Paths from a later start of the program. While a command runs or a
      // modal window is up the answer is "not now", and the sender tries again.
      std::vector<std::string> paths;
      if (FBusy || !IsWindowEnabled(FHandle) ||
          !UnpackHandOver(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), paths))
        return FALSE;
      AddPaths(paths);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == Label1 || reinterpret_cast<HWND>(lParam) == Label2)
        return PageBackground(PageControl1, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      break;
    case WM_SETCURSOR:
      if (FBusy) {
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
  }
  return DefWindowProcA(FHandle, Message, wParam, lParam);
}

bool TForm1::PreTranslate(MSG& Msg) {
  if (FHandle == nullptr) return false;
  if (Msg.hwnd != FHandle && !IsChild(FHandle, Msg.hwnd)) return false;
  // Key preview: the window sees every key before the focused control does.
  if (Msg.message == WM_KEYDOWN) FormKeyDown(Msg.wParam);
  return IsDialogMessageA(FHandle, &Msg) != 0;
}

void TForm1::ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave it for the main loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (Form1 != nullptr && Form1->PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

void TForm1::OnCommand(int Id, int Code) {
  if (Code != BN_CLICKED && Code != 0) return;  // 0: menu items
  if (FBusy && Id != IDC_BITBTN3) return;       // no list changes while a command runs
  switch (Id) {
    case IDC_BITBTN1: BitBtn1Click(); break;
    case IDC_BITBTN6: BitBtn6Click(); break;
    case IDC_BITBTN3: BitBtn3Click(); break;
    case IDC_BITBTN4: BitBtn4Click(); break;
    case IDC_BITBTN5: BitBtn5Click(); break;
    case IDC_BITBTN7: BitBtn7Click(); break;
    case IDM_ADDFILES1: AddFiles1Click(); break;
    case IDM_DELETEFILES1: DeleteFiles1Click(); break;
    case IDM_EXPLOREZIPFILE1: ExploreZipFile1Click(); break;
    case IDM_REMOVEALL1: RemoveAll1Click(); break;
    case IDM_MENUITEM1: MenuItem1Click(); break;
    case IDM_MENUITEM2: MenuItem2Click(); break;
    case IDM_MENUITEM5: MenuItem5Click(); break;
  }
}

void TForm1::OnNotify(NMHDR* Header) {
  if (Header->hwndFrom == PageControl1 && Header->code == TCN_SELCHANGE) {
    PageControl1Change();
  } else if (Header->code == LVN_INSERTITEM || Header->code == LVN_ITEMCHANGED) {
    if (Header->hwndFrom == ListView1) ListView1Change();
    if (Header->hwndFrom == ListView2) ListView2Change();
  }
}

void TForm1::OnContextMenu(HWND From, int X, int Y) {
  HMENU menu = From == ListView1 ? PopupMenu1 : From == ListView2 ? PopupMenu2 : nullptr;
  if (menu == nullptr) return;
  if (X == -1 && Y == -1) {  // from the keyboard: at the list's top-left corner
    RECT r;
    GetWindowRect(From, &r);
    X = r.left;
    Y = r.top;
  }
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, X, Y, 0, FHandle, nullptr);
}

// ---- start, activation, close ----

void TForm1::FormCreate() {
  // Font: Segoe UI 9 pt from Windows Vista on, Tahoma 8 pt before.
  const bool modern = WindowsMajorVersion() >= 6;
  FFont = CreateFontA(-MulDiv(modern ? 9 : 8, FDpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                      modern ? "Segoe UI" : "Tahoma");
  SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);

  // The taskbar button belongs to the main window, not to the hidden owner.
  if (FApplication != nullptr) {
    ShowWindow(FApplication, SW_HIDE);
    const LONG ex = GetWindowLongA(FApplication, GWL_EXSTYLE);
    SetWindowLongA(FApplication, GWL_EXSTYLE, (ex & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
    ShowWindow(FApplication, SW_SHOW);
  }

  CreateControls();
  DragAcceptFiles(FHandle, TRUE);
  ApplyStoredPosition();
}

void TForm1::ApplyStoredPosition() {
  int top = kDefaultPosition;
  int left = kDefaultPosition;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS) {
    if (!ReadDword(key, "top", top)) top = kDefaultPosition;
    if (!ReadDword(key, "left", left)) left = kDefaultPosition;
    RegCloseKey(key);
  }
  // A stored place on no screen (after a monitor change) would hide the window.
  RECT r;
  GetWindowRect(FHandle, &r);
  RECT placed = {left, top, left + (r.right - r.left), top + (r.bottom - r.top)};
  if (MonitorFromRect(&placed, MONITOR_DEFAULTTONULL) == nullptr) {
    left = kDefaultPosition;
    top = kDefaultPosition;
  }
  SetWindowPos(FHandle, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm1::FormActivate() {
  OpenDialog1FilterIndex = 4;
  const std::string desktop = GetSpecialFolderPath(CSIDL_DESKTOP);
  SetWindowTextA(Edit1, desktop.c_str());
  SetWindowTextA(Edit2, (desktop + kQuarnZip).c_str());
}

void TForm1::FormClose() {
  // A minimised window reports a place far off screen; its normal place is meant.
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  RECT r;
  GetWindowRect(FHandle, &r);
  if (IsIconic(FHandle) && GetWindowPlacement(FHandle, &placement)) r = placement.rcNormalPosition;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  const DWORD top = static_cast<DWORD>(r.top);
  const DWORD left = static_cast<DWORD>(r.left);
  RegSetValueExA(key, "top", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&top), sizeof top);
  RegSetValueExA(key, "left", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&left), sizeof left);
  RegCloseKey(key);
}

bool TForm1::HandleSystemCommand(WPARAM Command) {
  switch (Command & 0xFFF0) {
    case SC_MINIMIZE: ShowWindow(FHandle, SW_MINIMIZE); return true;
    case SC_RESTORE: ShowWindow(FHandle, SW_RESTORE); return true;
  }
  return false;
}

bool TForm1::FormKeyDown(WPARAM Key) {
  if (Key != VK_DELETE || FBusy) return false;
  DeleteFiles1Click();
  return true;
}

void TForm1::BitBtn3Click() {
  TForm5 help(FHandle);
  help.ShowModal();
}

void TForm1::BitBtn4Click() { SendMessageA(FHandle, WM_CLOSE, 0, 0); }

// ---- pages and status ----

bool TForm1::ArchivePageShowing() const { return FPage == 0; }

void TForm1::ShowPage(int Page) {
  FPage = Page;
  const bool first = Page == 0;
  for (HWND w : {ListView1, Label1, Edit1, BitBtn5}) ShowWindow(w, first ? SW_SHOW : SW_HIDE);
  for (HWND w : {ListView2, Label2, Edit2, BitBtn7}) ShowWindow(w, first ? SW_HIDE : SW_SHOW);
}

void TForm1::PageControl1Change() {
  const int page = static_cast<int>(SendMessageA(PageControl1, TCM_GETCURSEL, 0, 0));
  ShowPage(page);
  if (page == 0) {
    SetStatus(0, std::to_string(ItemCount(ListView1)) + kArchivesSuffix);
    ShowWindow(BitBtn6, SW_HIDE);
    ShowWindow(BitBtn1, SW_SHOW);
  } else {
    SetStatus(0, std::to_string(ItemCount(ListView2)) + kFilesSuffix);
    ShowWindow(BitBtn1, SW_HIDE);
    ShowWindow(BitBtn6, SW_SHOW);
  }
}

void TForm1::ListView1Change() { SetStatus(0, std::to_string(ItemCount(ListView1)) + kArchivesSuffix); }

void TForm1::ListView2Change() { SetStatus(0, std::to_string(ItemCount(ListView2)) + kFilesSuffix); }

void TForm1::SetStatus(int Panel, const std::string& Text) {
  // A leading tab centres the text in its panel.
  const std::string centred = "\t" + Text;
  SendMessageA(StatusBar1, SB_SETTEXTA, static_cast<WPARAM>(Panel), reinterpret_cast<LPARAM>(centred.c_str()));
}

std::string TForm1::StatusText(int Panel) const {
  const LRESULT info = SendMessageA(StatusBar1, SB_GETTEXTLENGTHA, static_cast<WPARAM>(Panel), 0);
  std::string text(LOWORD(info) + 1, '\0');
  SendMessageA(StatusBar1, SB_GETTEXTA, static_cast<WPARAM>(Panel), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(strlen(text.c_str()));
  while (!text.empty() && text[0] == '\t') text.erase(0, 1);
  return text;
}

std::string TForm1::WindowText(HWND Window) {
  const int n = GetWindowTextLengthA(Window);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  GetWindowTextA(Window, &text[0], n + 1);
  text.resize(strlen(text.c_str()));
  return text;
}

// ---- the list model ----

int TForm1::ItemCount(HWND List) { return static_cast<int>(SendMessageA(List, LVM_GETITEMCOUNT, 0, 0)); }

static std::string ItemText(HWND list, int index, int subItem) {
  std::string text(512, '\0');
  for (;;) {
    LVITEMA item = {};
    item.iSubItem = subItem;
    item.pszText = &text[0];
    item.cchTextMax = static_cast<int>(text.size());
    const LRESULT n = SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    if (n < static_cast<LRESULT>(text.size()) - 1) {
      text.resize(static_cast<size_t>(n));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

std::string TForm1::ItemCaption(HWND List, int Index) { return ItemText(List, Index, 0); }

std::string TForm1::ItemSubText(HWND List, int Index) { return ItemText(List, Index, 1); }

int TForm1::ItemImage(HWND List, int Index) {
  LVITEMA item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = Index;
  SendMessageA(List, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

bool TForm1::AddPathToList(HWND List, const std::string& Path, TIconRule Rule) {
  const int count = ItemCount(List);
  for (int i = 0; i < count; ++i)
    if (ItemCaption(List, i) == Path) return false;
  int image = 0;
  if (Rule == TIconRule::File) image = 2;
  if (Rule == TIconRule::Archive) {
    switch (ArchiveKindOf(Path)) {
      case TArchiveKind::Zip: image = 0; break;
      case TArchiveKind::Rar: image = 1; break;
      case TArchiveKind::SevenZip: image = 3; break;
      case TArchiveKind::None: image = 0; break;
    }
  }
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = count;
  item.pszText = const_cast<char*>(Path.c_str());
  item.iImage = image;
  const int index = static_cast<int>(SendMessageA(List, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  const std::string size = std::to_string(GetFileSizeKB(Path));
  LVITEMA sub = {};
  sub.iSubItem = 1;
  sub.pszText = const_cast<char*>(size.c_str());
  SendMessageA(List, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
  return true;
}

int64_t TForm1::GetFileSizeKB(const std::string& Path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(Path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return static_cast<int64_t>(std::trunc(static_cast<double>(size) / 1024.0));
}

std::string TForm1::GetSpecialFolderPath(int Folder) {
  LPITEMIDLIST list = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, Folder, &list)) || list == nullptr) return "";
  char path[MAX_PATH] = {0};
  SHGetPathFromIDListA(list, path);
  CoTaskMemFree(list);
  return path;
}

void TForm1::DeleteSelected(HWND List) {
  const int n = static_cast<int>(SendMessageA(List, LVM_GETSELECTEDCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    const int first = static_cast<int>(SendMessageA(List, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (first < 0) break;
    SendMessageA(List, LVM_DELETEITEM, static_cast<WPARAM>(first), 0);
  }
}

void TForm1::DeleteAll(HWND List) { SendMessageA(List, LVM_DELETEALLITEMS, 0, 0); }

void TForm1::InformationBox(const std::string& Text, int LeftOffset) {
  RECT r;
  GetWindowRect(FHandle, &r);
  FUI->ShowInformation(FHandle, Text, r.left + LeftOffset, r.top + 150);
}

void TForm1::BeginBusy() {
  FBusy = true;
  SetCursor(LoadCursor(nullptr, IDC_WAIT));
}

void TForm1::EndBusy() {
  FBusy = false;
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
}

void TForm1::HandleException(const std::exception& E) { ShowException(E); }

void TForm1::ShowException(const std::exception& E) {
  FUI->ShowError(FHandle, kCaption, GenericErrorText(ExceptionText(E)));
}

// ---- archive list commands ----

void TForm1::AddFiles1Click() {
  std::vector<std::string> files;
  int index = OpenDialog1FilterIndex;
  if (!FUI->OpenFiles(FHandle, kArchiveFilter, index, files)) return;
  OpenDialog1FilterIndex = index;
  for (const std::string& path : files)
    if (!AddPathToList(ListView1, path, TIconRule::Archive)) break;
}

void TForm1::DeleteFiles1Click() {
  DeleteSelected(ListView1);
  SetStatus(0, std::to_string(ItemCount(ListView1)) + kArchivesSuffix);
}

void TForm1::ExploreZipFile1Click() {
  const int n = ItemCount(ListView1);
  for (int i = 0; i < n; ++i) {
    if (SendMessageA(ListView1, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED) & LVIS_SELECTED)
      ShellExecuteA(FHandle, nullptr, "explorer.exe", ItemCaption(ListView1, i).c_str(), nullptr, SW_SHOWNORMAL);
  }
}

void TForm1::RemoveAll1Click() { DeleteAll(ListView1); }

void TForm1::BitBtn5Click() {
  std::string folder;
  if (FUI->BrowseForFolder(FHandle, kBrowseTitle, folder)) SetWindowTextA(Edit1, folder.c_str());
}

void TForm1::BitBtn1Click() {
  if (WindowText(Edit1).empty()) {
    InformationBox(kSelectDirectory, 170);
    return;
  }
  if (ItemCount(ListView1) == 0) AddFiles1Click();
  UnzipReport.clear();
  BeginBusy();
  const int n = ItemCount(ListView1);
  std::string current;
  try {
    for (int i = 0; i < n; ++i) {
      ProcessMessages();
      FMember.clear();
      current = ItemCaption(ListView1, i);
      switch (ArchiveKindOf(current)) {
        case TArchiveKind::Zip: ExtractZipArchive(current); break;
        case TArchiveKind::Rar: ExtractRarArchive(current); break;
        case TArchiveKind::SevenZip: Extract7zArchive(current); break;
        case TArchiveKind::None: UnzipReport.push_back(current + ": " + kNotAnArchive); break;
      }
    }
  } catch (const std::exception& e) {
    EndBusy();
    FUI->ShowError(FHandle, kErrorTitle, WithPath(kCantExtract, current));
    // The report names the member too when the error itself does not.
    const std::string text = GenericErrorText(ExceptionText(e));
    const bool named = FMember.empty() || text.find("\"" + FMember + "\"") != std::string::npos;
    UnzipReport.push_back(current + ": " + (named ? "" : "\"" + FMember + "\": ") + text);
  }
  DeleteAll(ListView1);
  EndBusy();
  ShowUnzipReport();
}

void TForm1::ShowUnzipReport() {
  if (UnzipReport.empty()) return;
  std::string text = kReportHead;
  text += "\r\n";
  for (const std::string& line : UnzipReport) text += "\r\n" + line;
  FUI->ShowError(FHandle, kErrorTitle, text);
}

void TForm1::ExtractZipArchive(const std::string& Archive) {
  TZipFile zip;
  zip.LoadFromFile(Archive);
  const std::string folder = OutputFolderOf(WindowText(Edit1), Archive);
  const std::string prefix = folder + "\\";
  for (int32_t i = 0; i < zip.Count(); ++i) {
    ForceDirectories(folder);
    const std::string name = zip.GetName(i);
    FMember = name;
    std::string converted = name;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    zip.SetName(i, converted);
    // Nothing is ever written outside the archive's output folder, whatever
    // the member's name says.
    const std::string safe = SafeMemberPath(name);
    if (!name.empty() && (name.back() == '/' || name.back() == '\\')) {
      ForceDirectories(prefix + safe);
      continue;
    }
    const std::string data = zip.GetUncompressed(i);
    if (safe.empty()) continue;  // a name that leads nowhere inside the folder
    const std::string target = prefix + safe;
    ForceDirectories(target.substr(0, target.find_last_of('\\') + 1));
    TFileStream file(target, fmCreate);
    file.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  }
  FMember.clear();
}

void TForm1::ExtractRarArchive(const std::string& Archive) {
  auto* component = new TUnRar(&FComponents);
  component->FileName = Archive;
  const std::string folder = OutputFolderOf(WindowText(Edit1), Archive);
  ForceDirectories(folder);
  component->Directory = folder + "\\";
  component->SetMode(UNRAR_EXTRACT);
  component->OverrideEvent = OR_ALWAYS;
  // Everything the component reports (a missing library included) goes into
  // the report after the walk, which goes on with the next archive.
  std::vector<std::string> problems;
  component->OnError = [&problems](TUnRar*, const std::string& Message, int32_t) { problems.push_back(Message); };
  component->ProcessArchive();
  delete component;
  ReportProblems(Archive, problems);
}

void TForm1::Extract7zArchive(const std::string& Archive) {
  // A missing engine raises here and ends the walk. Should the run raise, the
  // component goes away with its owner, the window.
  auto* component = new TSevenZip(&FComponents);
  const std::string folder = OutputFolderOf(WindowText(Edit1), Archive);
  ForceDirectories(folder);
  component->ExtrBaseDir = AnsiToWide(folder + "\\");
  component->ExtractOptions = ExtractOverwrite;
  component->SelectedItems.Clear();
  component->SZFileName = AnsiToWide(Archive);
  // Everything the component reports goes into the report after the walk.
  std::vector<std::string> problems;
  component->OnMessage = [&problems](TComponent*, int32_t, const std::string& Message, const std::wstring& File) {
    problems.push_back(File.empty() ? Message : Message + " (" + WideToAnsi(File) + ")");
  };
  const int32_t result = component->Extract(false);
  delete component;
  if (problems.empty() && result != 0) problems.push_back(Format(kExtractResult, static_cast<int>(result)));
  ReportProblems(Archive, problems);
}

void TForm1::ReportProblems(const std::string& Archive, const std::vector<std::string>& Problems) {
  const size_t shown = std::min<size_t>(Problems.size(), kProblemsShown);
  for (size_t i = 0; i < shown; ++i) UnzipReport.push_back(Archive + ": " + Problems[i]);
  if (Problems.size() > shown)
    UnzipReport.push_back(Archive + ": " + Format(kMoreProblems, static_cast<int>(Problems.size() - shown)));
}

// ---- file list commands ----

void TForm1::MenuItem1Click() {
  std::vector<std::string> files;
  int index = 1;
  if (!FUI->OpenFiles(FHandle, kAllFilesFilter, index, files)) return;
  for (const std::string& path : files)
    if (!AddPathToList(ListView2, path, TIconRule::File)) break;
}

void TForm1::MenuItem2Click() { DeleteSelected(ListView2); }

void TForm1::MenuItem5Click() { DeleteAll(ListView2); }

void TForm1::BitBtn7Click() {
  SaveDialog1InitialDir = GetSpecialFolderPath(CSIDL_DESKTOP);
  std::string name = SaveDialog1FileName;
  if (!FUI->SaveFile(FHandle, kZipFilter, kZipDefaultExt, SaveDialog1InitialDir, name)) return;
  SaveDialog1FileName = name;
  SetWindowTextA(Edit2, name.c_str());
}

void TForm1::BitBtn6Click() {
  if (WindowText(Edit2).empty()) {
    InformationBox(kSelectFilename, 170);
    return;
  }
  if (ItemCount(ListView2) == 0) {
    InformationBox(kSelectFile, 160);
    return;
  }
  if (FileExists(WindowText(Edit2))) {
    InformationBox(kFileExists, 160);
    std::string name = SaveDialog1FileName;
    if (!FUI->SaveFile(FHandle, kZipFilter, kZipDefaultExt, SaveDialog1InitialDir, name)) {
      InformationBox(kNoArchive, 160);
      return;
    }
    SaveDialog1FileName = name;
    SetWindowTextA(Edit2, name.c_str());
    if (FileExists(name)) {
      InformationBox(kNoArchive, 160);
      return;
    }
  }
  BeginBusy();
  try {
    TZippit zip;
    const int n = ItemCount(ListView2);
    for (int i = 0; i < n; ++i) {
      zip.AddDiskFile(ItemCaption(ListView2, i));
      zip.SaveToFile(WindowText(Edit2));
      ProcessMessages();
    }
  } catch (...) {
    DeleteAll(ListView2);
    EndBusy();
    throw;  // shown by the generic error box
  }
  DeleteAll(ListView2);
  EndBusy();
}

// ---- drops ----

void TForm1::HandleDroppedFiles(HDROP Drop) {
  struct TFinish {
    HDROP Drop;
    ~TFinish() { DragFinish(Drop); }
  } finish{Drop};
  if (FBusy) return;
  const UINT n = DragQueryFileA(Drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < n; ++i) {
    // Each path is fetched whole, however long it is.
    const UINT length = DragQueryFileA(Drop, i, nullptr, 0);
    std::string path(length + 1, '\0');
    DragQueryFileA(Drop, i, &path[0], length + 1);
    path.resize(strlen(path.c_str()));
    if (ArchivePageShowing()) {
      if (ArchiveKindOf(path) == TArchiveKind::None) continue;
      if (!AddPathToList(ListView1, path, TIconRule::Archive)) break;
    } else {
      if (!AddPathToList(ListView2, path, TIconRule::None)) break;
    }
  }
}

void TForm1::AddPaths(const std::vector<std::string>& Paths) {
  if (FBusy) return;
  int firstPage = -1;
  for (const std::string& path : Paths) {
    const bool archive = ArchiveKindOf(path) != TArchiveKind::None;
    if (!AddPathToList(archive ? ListView1 : ListView2, path, archive ? TIconRule::Archive : TIconRule::File)) break;
    if (firstPage < 0) firstPage = archive ? 0 : 1;
  }
  if (firstPage < 0) return;
  SendMessageA(PageControl1, TCM_SETCURSEL, static_cast<WPARAM>(firstPage), 0);
  PageControl1Change();  // also shows the count of the list in view
}
