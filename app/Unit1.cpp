#include "Unit1.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "CommandLine.h"
#include "Engines.h"
#include "Exception.h"
#include "Files.h"
#include "ListItems.h"
#include "ShellPaths.h"
#include "Text.h"
#include "Unit5.h"
#include "UnzipCommand.h"
#include "Win32Window.h"
#include "WindowPosition.h"
#include "ZipCommand.h"
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
const char kStopQuestion[] = "Stop after the current file?";
const char kZipStopped[] =
    "The Zip command was stopped: the archive holds the %d file(s) added before.\r\n%d file(s) stay in the list.";
const char kZipStoppedFirst[] =
    "The Zip command was stopped before its first file: no archive was made.\r\n%d file(s) stay in the list.";
const char kZipRenamed[] =
    "These files had the name of another file in the archive and were stored under one of their own:";
const char kProgressText[] = "%d/%d  %d %%";

constexpr int kDefaultPosition = 100;

// Posted to the main window: the queue of archives to extract has work.
constexpr UINT QM_SERVEQUEUE = WM_APP + 1;
// The timer that tries the queue again while the window is not free.
constexpr UINT_PTR kQueueTimer = 1;
constexpr UINT kQueueRetryMs = 250;

}  // namespace

// ---- creation ----

TForm1::TForm1(HWND Application, std::unique_ptr<IUserInterface> UI)
    : LaterStarts(LaterStartsUnderWay), FApplication(Application), FUI(std::move(UI)) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  INITCOMMONCONTROLSEX icc = {sizeof icc,
                              ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  RegisterWindowClass(QUARN_MAIN_CLASS, ObjectWindowProc, LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUARN)));

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
  RECT r = {0, 0, Scale(531), Scale(419)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  FHandle = CreateWindowExA(exStyle, QUARN_MAIN_CLASS, kCaption, style, Scale(kDefaultPosition),
                            Scale(kDefaultPosition), r.right - r.left, r.bottom - r.top, Application, nullptr, instance,
                            static_cast<TObjectWindow*>(this));
  if (FHandle == nullptr)
    throw Exception(Format("Cannot create the main window (error %lu).", static_cast<unsigned long>(GetLastError())));
}

TForm1::~TForm1() {
  // The controls go before the fonts, pictures and menus they use.
  if (FHandle != nullptr) DestroyWindow(FHandle);
}

class TForm1::TBusy {
 public:
  explicit TBusy(TForm1& Form) : FForm(Form) {
    FForm.FBusy = true;
    FForm.FStopRequested = false;
    SetCursor(LoadCursor(nullptr, IDC_WAIT));
  }
  ~TBusy() {
    FForm.FBusy = false;
    FForm.FStopRequested = false;
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    // Archives handed over meanwhile are taken next.
    if (!FForm.FQueue.Empty() && FForm.FHandle != nullptr) PostMessageA(FForm.FHandle, QM_SERVEQUEUE, 0, 0);
  }
  TBusy(const TBusy&) = delete;
  TBusy& operator=(const TBusy&) = delete;

 private:
  TForm1& FForm;
};

class TForm1::TCloseAfter {
 public:
  explicit TCloseAfter(TForm1& Form) : FForm(Form) {}
  ~TCloseAfter() {
    if (FForm.FCloseRequested && FForm.FHandle != nullptr) PostMessageA(FForm.FHandle, WM_CLOSE, 0, 0);
    FForm.FCloseRequested = false;
  }
  TCloseAfter(const TCloseAfter&) = delete;
  TCloseAfter& operator=(const TCloseAfter&) = delete;

 private:
  TForm1& FForm;
};

void TForm1::Show() {
  FShown = true;
  ShowWindow(FHandle, SW_SHOW);
  UpdateWindow(FHandle);
  SetFocus(PageControl1);
}

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
    return CreateChild(FHandle, FFont.Get(), exStyle, cls, text, style, id);
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
    FBitmaps[i].Reset(static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(bitmapIds[i]), IMAGE_BITMAP,
                                                      Scale(bitmapSizes[i][0]), Scale(bitmapSizes[i][1]), 0)));
    if (FBitmaps[i]) SendMessageA(images[i], STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(FBitmaps[i].Get()));
    Place(images[i], i == 0 ? 0 : 66, i == 0 ? 0 : 48, bitmapSizes[i][0], bitmapSizes[i][1]);
  }
  const int iconIds[4] = {IDI_UNZIP, IDI_ZIP, IDI_HELP, IDI_EXIT};
  HWND buttons[4] = {BitBtn1, BitBtn6, BitBtn3, BitBtn4};
  for (int i = 0; i < 4; ++i) {
    FButtonIcons[i].Reset(
        static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(iconIds[i]), IMAGE_ICON, Scale(32), Scale(32), 0)));
    if (FButtonIcons[i])
      SendMessageA(buttons[i], BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(FButtonIcons[i].Get()));
  }

  // The page control and the controls of its two pages.
  PageControl1 = child(0, WC_TABCONTROLA, "", WS_VISIBLE | WS_TABSTOP, IDC_PAGECONTROL1);
  Place(PageControl1, 207, 8, 318, 386);
  const RECT bounds = {Scale(207), Scale(8), Scale(207 + 318), Scale(8 + 386)};
  FPageArea = AddTwoPages(PageControl1, kArchivesPage, kFilesPage, bounds);

  // In the order of TListIcon.
  const int listIcons[] = {IDI_LIST_ZIP,    IDI_LIST_RAR,  IDI_LIST_FILE,   IDI_LIST_7Z,
                           IDI_LIST_BUNDLE, IDI_LIST_DISC, IDI_LIST_PACKAGE};
  FImageList.Reset(
      ImageList_Create(Scale(16), Scale(16), ILC_COLOR32 | ILC_MASK, sizeof listIcons / sizeof *listIcons, 0));
  for (int id : listIcons) {
    const TIcon icon(
        static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, Scale(16), Scale(16), 0)));
    if (icon) ImageList_AddIcon(FImageList.Get(), icon.Get());
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
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(FImageList.Get()));
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
  // The last panel, borderless and empty but while archives are extracted
  // beside themselves, takes the rest of the bar.
  int parts[3] = {Scale(93), Scale(93 + 50), -1};
  SendMessageA(StatusBar1, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
  SetStatus(1, kStatusNotice);
  SetNotice("");

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
  const struct {
    TMenu& Menu;
    int Add, Remove, RemoveAll;
  } menus[2] = {{PopupMenu1, IDM_ADDFILES1, IDM_DELETEFILES1, IDM_REMOVEALL1},
                {PopupMenu2, IDM_MENUITEM1, IDM_MENUITEM2, IDM_MENUITEM5}};
  for (const auto& m : menus) {
    m.Menu.Reset(CreatePopupMenu());
    AppendMenuA(m.Menu.Get(), MF_STRING, m.Add, kAddFiles);
    AppendMenuA(m.Menu.Get(), MF_STRING, m.Remove, kRemoveFiles);
    AppendMenuA(m.Menu.Get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuA(m.Menu.Get(), MF_STRING, m.RemoveAll, kRemoveAll);
  }
}

class TForm1::TWindowProgress : public IProgressSink {
 public:
  explicit TWindowProgress(TForm1& Form) : FForm(Form), FCountText(Form.StatusText(0)) {
    FForm.FUI->TaskbarProgress(FForm.FHandle, TTaskbarState::Normal, 0, 0);
  }
  // The count panel shows again what it showed before the command.
  ~TWindowProgress() {
    FForm.SetStatus(0, FCountText);
    FForm.SetNotice("");
  }
  TWindowProgress(const TWindowProgress&) = delete;
  TWindowProgress& operator=(const TWindowProgress&) = delete;

  void BeginItem(int Index, int Count, const std::string&) override {
    FIndex = Index;
    FCount = Count;
  }
  void Progress(uint64_t Done, uint64_t Total) override {
    const int percent = Total == 0 ? 0 : static_cast<int>(Done * 100 / Total);
    const std::string text = Format(kProgressText, FIndex + 1, FCount, percent);
    if (text != FShown) FForm.SetStatus(0, FShown = text);
    FForm.FUI->TaskbarProgress(FForm.FHandle, TTaskbarState::Normal, Done, Total);
  }
  void Notice(const std::string& Text) override { FForm.SetNotice(Text); }
  void Pump() override { TForm1::ProcessMessages(); }
  bool Cancelled() override { return FForm.FStopRequested; }

 private:
  TForm1& FForm;
  std::string FCountText;
  int FIndex = 0, FCount = 0;
  std::string FShown;
};

bool TForm1::AskStop() {
  if (!FBusy || FStopRequested) return FStopRequested;
  FStopRequested = FUI->Confirm(FHandle, kStopQuestion);
  return FStopRequested;
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
      // The window never goes while a command works on its lists: the user
      // is asked whether to stop it, and the close happens when it has ended.
      if (FBusy) {
        if (AskStop()) FCloseRequested = true;
        return 0;
      }
      // Archives handed over just before are extracted first: their starts
      // have ended, trusting that they would be.
      if (!FQueue.Empty()) {
        FCloseRequested = true;
        ServeQueue();
        return 0;
      }
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
      // Paths from a later start of the program. Archives to extract are
      // always taken, into the queue. Paths for the lists are not taken while
      // a command runs or a modal window is up: the answer is "not now", and
      // the sender tries again.
      TRequest request = TRequest::AddToLists;
      std::vector<std::string> paths;
      if (!UnpackHandOver(*reinterpret_cast<const COPYDATASTRUCT*>(lParam), request, paths)) return FALSE;
      if (request == TRequest::ExtractHere) {
        ExtractHere(paths);
        return TRUE;
      }
      if (FBusy || !IsWindowEnabled(FHandle)) return FALSE;
      AddPaths(paths);
      return TRUE;
    }
    case QM_SERVEQUEUE: ServeQueue(); return 0;
    case WM_TIMER:
      if (wParam == kQueueTimer) {
        ServeQueue();
        return 0;
      }
      break;
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
  // Key preview: the window sees every key before the focused control does,
  // with Alt held down too (Alt+Delete works like Delete).
  if (Msg.message == WM_KEYDOWN || (Msg.message == WM_SYSKEYDOWN && Msg.wParam == VK_DELETE)) FormKeyDown(Msg.wParam);
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
  // No list changes while a command runs; Exit asks to stop it.
  if (FBusy && Id != IDC_BITBTN3 && Id != IDC_BITBTN4) return;
  static const struct {
    int Id;
    void (TForm1::*Handler)();
  } handlers[] = {
      {IDC_BITBTN1, &TForm1::BitBtn1Click},
      {IDC_BITBTN6, &TForm1::BitBtn6Click},
      {IDC_BITBTN3, &TForm1::BitBtn3Click},
      {IDC_BITBTN4, &TForm1::BitBtn4Click},
      {IDC_BITBTN5, &TForm1::BitBtn5Click},
      {IDC_BITBTN7, &TForm1::BitBtn7Click},
      {IDM_ADDFILES1, &TForm1::AddFiles1Click},
      {IDM_DELETEFILES1, &TForm1::DeleteFiles1Click},
      {IDM_EXPLOREZIPFILE1, &TForm1::ExploreZipFile1Click},
      {IDM_REMOVEALL1, &TForm1::RemoveAll1Click},
      {IDM_MENUITEM1, &TForm1::MenuItem1Click},
      {IDM_MENUITEM2, &TForm1::MenuItem2Click},
      {IDM_MENUITEM5, &TForm1::MenuItem5Click},
  };
  for (const auto& h : handlers)
    if (h.Id == Id) (this->*h.Handler)();
}

void TForm1::OnNotify(NMHDR* Header) {
  if (Header->hwndFrom == PageControl1 && Header->code == TCN_SELCHANGE) {
    PageControl1Change();
  } else if ((Header->code == LVN_INSERTITEM || Header->code == LVN_ITEMCHANGED) && !FAdding) {
    if (Header->hwndFrom == ListView1) ListView1Change();
    if (Header->hwndFrom == ListView2) ListView2Change();
  }
}

void TForm1::OnContextMenu(HWND From, int X, int Y) {
  HMENU menu = From == ListView1 ? PopupMenu1.Get() : From == ListView2 ? PopupMenu2.Get() : nullptr;
  if (menu == nullptr) return;
  if (X == -1 && Y == -1) {  // from the keyboard: at the list's top-left corner
    RECT r;
    GetWindowRect(From, &r);
    X = r.left;
    Y = r.top;
  }
  FInMenu = true;
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, X, Y, 0, FHandle, nullptr);
  FInMenu = false;
}

// ---- start, activation, close ----

void TForm1::FormCreate() {
  FFont.Reset(CreateProgramFont(FDpi));
  SendMessageA(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);

  // The taskbar button belongs to the main window, not to the hidden owner.
  if (FApplication != nullptr) {
    ShowWindow(FApplication, SW_HIDE);
    const LONG ex = GetWindowLongA(FApplication, GWL_EXSTYLE);
    SetWindowLongA(FApplication, GWL_EXSTYLE, (ex & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
    ShowWindow(FApplication, SW_SHOW);
  }

  CreateControls();
  DragAcceptFiles(FHandle, TRUE);
  ApplyStoredPosition(FHandle, kDefaultPosition);
}

void TForm1::FormActivate() {
  OpenDialog1FilterIndex = 4;
  const std::string desktop = GetSpecialFolderPath(CSIDL_DESKTOP);
  SetWindowTextA(Edit1, desktop.c_str());
  SetWindowTextA(Edit2, (desktop + kQuarnZip).c_str());
}

void TForm1::FormClose() { StorePosition(FHandle); }

bool TForm1::HandleSystemCommand(WPARAM Command) {
  switch (Command & 0xFFF0) {
    case SC_MINIMIZE: ShowWindow(FHandle, SW_MINIMIZE); return true;
    case SC_RESTORE: ShowWindow(FHandle, SW_RESTORE); return true;
  }
  return false;
}

bool TForm1::FormKeyDown(WPARAM Key) {
  if (Key == VK_ESCAPE && FBusy) {
    AskStop();
    return true;
  }
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

void TForm1::SetNotice(const std::string& Text) {
  SendMessageA(StatusBar1, SB_SETTEXTA, 2 | SBT_NOBORDERS, reinterpret_cast<LPARAM>(Text.c_str()));
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

void TForm1::InformationBox(const std::string& Text, int LeftOffset) {
  RECT r;
  GetWindowRect(FHandle, &r);
  FUI->ShowInformation(FHandle, Text, r.left + LeftOffset, r.top + 150);
}

void TForm1::HandleException(const std::exception& E) { ShowException(E); }

void TForm1::ShowException(const std::exception& E) {
  FUI->ShowError(FHandle, kCaption, GenericErrorText(ExceptionText(E)));
}

// ---- archive list commands ----

void TForm1::AddFiles1Click() {
  std::vector<std::string> files;
  int index = OpenDialog1FilterIndex;
  if (!FUI->OpenFiles(FHandle, ArchiveFilter(), index, files)) return;
  OpenDialog1FilterIndex = index;
  AddPathsToList(ListView1, files, TIconRule::Archive);
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
  const TCloseAfter closeAfter(*this);
  const std::string destination = WindowText(Edit1);
  if (destination.empty()) {
    InformationBox(kSelectDirectory, 170);
    return;
  }
  if (ItemCount(ListView1) == 0) AddFiles1Click();
  TUnzipResult result;
  {
    TBusy busy(*this);
    TWindowProgress progress(*this);
    TUnzipCommand command(FHandle, *FUI, progress, Engines());
    result = command.Run(ItemCaptions(ListView1), destination);
  }
  // A stopped walk leaves the archives it did not finish in the list.
  if (result.Stopped) {
    KeepOnly(ListView1, result.Unfinished);
    ListView1Change();
  } else {
    DeleteAll(ListView1);
  }
  ShowReport(result);
}

TEngines& TForm1::Engines() {
  if (!FEngines) FEngines = std::make_unique<TEngines>();
  return *FEngines;
}

void TForm1::ShowReport(const TUnzipResult& Result, bool ShowNotes) {
  const TReportBox box = ReportBoxOf(Result);
  if (!box.Error) {
    FUI->TaskbarProgress(FHandle, TTaskbarState::None, 0, 0);
    if (ShowNotes && !box.Text.empty()) InformationBox(box.Text, 160);
    return;
  }
  FUI->TaskbarProgress(FHandle, TTaskbarState::Error, 1, 1);
  FUI->ShowError(FHandle, kErrorTitle, box.Text);
  FUI->TaskbarProgress(FHandle, TTaskbarState::None, 0, 0);
}

// ---- file list commands ----

void TForm1::MenuItem1Click() {
  std::vector<std::string> files;
  int index = 1;
  if (!FUI->OpenFiles(FHandle, kAllFilesFilter, index, files)) return;
  AddPathsToList(ListView2, files, TIconRule::File);
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
  const TCloseAfter closeAfter(*this);
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
  const std::vector<std::string> files = ItemCaptions(ListView2);
  TZipResult result;
  {
    TBusy busy(*this);
    TWindowProgress progress(*this);
    try {
      result = RunZipCommand(files, WindowText(Edit2), progress);
    } catch (...) {
      DeleteAll(ListView2);
      FUI->TaskbarProgress(FHandle, TTaskbarState::None, 0, 0);
      throw;  // shown by the generic error box
    }
  }
  FUI->TaskbarProgress(FHandle, TTaskbarState::None, 0, 0);
  std::string renamed;
  for (const auto& r : result.Renamed) renamed += "\r\n" + r.first + " as \"" + r.second + "\"";
  if (!renamed.empty()) InformationBox(kZipRenamed + ("\r\n" + renamed), 160);
  if (!result.Stopped) {
    DeleteAll(ListView2);
    return;
  }
  // A stopped command leaves the files it did not add in the list.
  for (size_t i = 0; i < result.Added; ++i) SendMessageA(ListView2, LVM_DELETEITEM, 0, 0);
  const int left = static_cast<int>(files.size() - result.Added);
  InformationBox(
      result.Added == 0 ? Format(kZipStoppedFirst, left) : Format(kZipStopped, static_cast<int>(result.Added), left),
      160);
}

// ---- the lists ----

bool TForm1::AddPathToList(HWND List, const std::string& Path, TIconRule Rule) {
  return AddPathsToList(List, {Path}, Rule) == 1;
}

size_t TForm1::AddPathsToList(HWND List, const std::vector<std::string>& Paths, TIconRule Rule, bool SkipOthers) {
  // One status update for the whole run, not one per item.
  FAdding = true;
  const size_t added = ::AddPathsToList(List, Paths, Rule, SkipOthers);
  FAdding = false;
  if (added > 0) (List == ListView1) ? ListView1Change() : ListView2Change();
  return added;
}

// ---- drops and the paths given to the program ----

void TForm1::HandleDroppedFiles(HDROP Drop) {
  const TDrop finished(Drop);
  if (FBusy) return;
  const std::vector<std::string> paths = DroppedPaths(Drop);
  if (ArchivePageShowing())
    AddPathsToList(ListView1, paths, TIconRule::Archive, true);
  else
    AddPathsToList(ListView2, paths, TIconRule::None);
}

void TForm1::AddPaths(const std::vector<std::string>& Paths) {
  if (FBusy) return;
  const std::vector<std::string> listed[2] = {ItemCaptions(ListView1), ItemCaptions(ListView2)};
  const TRoutedPaths routed = RoutePaths(Paths, listed);
  if (routed.FirstList < 0) return;
  AddPathsToList(ListView1, routed.Lists[0], TIconRule::Archive);
  AddPathsToList(ListView2, routed.Lists[1], TIconRule::File);
  SendMessageA(PageControl1, TCM_SETCURSEL, static_cast<WPARAM>(routed.FirstList), 0);
  PageControl1Change();  // also shows the count of the list in view
}

// ---- extraction beside the archives ----

void TForm1::ExtractHere(const std::vector<std::string>& Archives, bool CloseWhenDone) {
  if (CloseWhenDone) FQueue.CloseWhenDone = true;
  FQueue.Add(Archives);
  // Not run here: a hand-over's sender waits for this message's answer.
  PostMessageA(FHandle, QM_SERVEQUEUE, 0, 0);
}

bool TForm1::Free() const { return !FBusy && !FInMenu && IsWindowEnabled(FHandle); }

void TForm1::ServeQueue() {
  KillTimer(FHandle, kQueueTimer);
  if (!FQueue.Empty()) {
    if (!Free()) {
      SetTimer(FHandle, kQueueTimer, kQueueRetryMs, nullptr);
      return;
    }
    RunQueue();
  }
  switch (FQueue.Closing(Free() && (LaterStarts == nullptr || !LaterStarts()),
                         ItemCount(ListView1) == 0 && ItemCount(ListView2) == 0)) {
    case TExtractQueue::TClosing::No: return;
    case TExtractQueue::TClosing::LookAgain: SetTimer(FHandle, kQueueTimer, kQueueRetryMs, nullptr); return;
    case TExtractQueue::TClosing::Now: PostMessageA(FHandle, WM_CLOSE, 0, 0); return;
  }
}

void TForm1::RunQueue() {
  const TCloseAfter closeAfter(*this);
  TUnzipResult result;
  {
    TBusy busy(*this);
    TWindowProgress progress(*this);
    result = FQueue.Run([&](const std::vector<std::string>& Archives) {
      TUnzipCommand command(FHandle, *FUI, progress, Engines());
      return command.RunHere(Archives);
    });
  }
  if (!result.Report.empty()) FQueue.CloseWhenDone = false;  // the window stays with the report
  // Notes alone do not keep a window that closes by itself.
  ShowReport(result, !FQueue.CloseWhenDone);
}
