#include "DriverSupport.h"

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>

namespace e2e {

namespace {

// ---------------------------------------------------------------- state of the running case
std::string g_caseName;
std::vector<std::string> g_failures;
std::vector<std::string> g_notes;
std::string g_exchange;
bool g_hostAlive = true;  // false after a screenshot request went unanswered
unsigned g_requestNumber = 0;

std::string VFormat(const char* fmt, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  const int n = vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string s(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(&s[0], s.size(), fmt, ap);
  s.resize(static_cast<size_t>(n));
  return s;
}

void AddFailure(const std::string& msg) {
  g_failures.push_back(msg);
  if (g_failures.size() == 1 && !g_caseName.empty()) RequestScreenshot(g_caseName);
}

void Print(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

}  // namespace

// ---------------------------------------------------------------- case framework

void Fail(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string msg = VFormat(fmt, ap);
  va_end(ap);
  AddFailure(msg);
}

bool Check(bool cond, const char* fmt, ...) {
  if (cond) return true;
  va_list ap;
  va_start(ap, fmt);
  std::string msg = VFormat(fmt, ap);
  va_end(ap);
  AddFailure(msg);
  return false;
}

void Require(bool cond, const char* fmt, ...) {
  if (cond) return;
  va_list ap;
  va_start(ap, fmt);
  std::string msg = VFormat(fmt, ap);
  va_end(ap);
  AddFailure(msg);
  throw CaseAbort{};
}

void SkipCase(const std::string& why) { throw CaseSkip{why}; }

void Note(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  g_notes.push_back(VFormat(fmt, ap));
  va_end(ap);
}

std::string Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = VFormat(fmt, ap);
  va_end(ap);
  return s;
}

std::string Visible(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c < 0x20)
      out += Format("\\x%02x", c);
    else
      out += static_cast<char>(c);
  }
  return out;
}

bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (pred()) return true;
    if (GetTickCount() - start >= timeoutMs) return pred();
    Sleep(25);
  }
}

void WaitOrAbort(const std::function<bool()>& pred, DWORD timeoutMs, const std::string& what) {
  if (!WaitUntil(pred, timeoutMs)) Require(false, "timed out after %lu ms: %s", timeoutMs, what.c_str());
}

// ---------------------------------------------------------------- windows

std::string ClassOf(HWND h) {
  char buf[256] = "";
  GetClassNameA(h, buf, sizeof buf);
  return buf;
}

DWORD PidOf(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  return pid;
}

LRESULT Send(HWND h, UINT msg, WPARAM w, LPARAM l, bool* ok, UINT timeoutMs) {
  DWORD_PTR result = 0;
  const LRESULT delivered = SendMessageTimeoutA(h, msg, w, l, SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs, &result);
  if (ok) *ok = delivered != 0;
  return static_cast<LRESULT>(result);
}

std::string TextOf(HWND h) {
  bool ok = false;
  const LRESULT len = Send(h, WM_GETTEXTLENGTH, 0, 0, &ok);
  if (!ok || len < 0) return std::string();
  std::string s(static_cast<size_t>(len) + 2, '\0');
  const LRESULT got = Send(h, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(&s[0]), &ok);
  if (!ok) return std::string();
  s.resize(std::min(static_cast<size_t>(got), strlen(s.c_str())));
  return s;
}

namespace {
struct EnumTop {
  DWORD pid;
  const char* cls;
  bool visibleOnly;
  std::vector<HWND> found;
};
BOOL CALLBACK EnumTopProc(HWND h, LPARAM l) {
  EnumTop* e = reinterpret_cast<EnumTop*>(l);
  if (e->pid && PidOf(h) != e->pid) return TRUE;
  if (e->visibleOnly && !IsWindowVisible(h)) return TRUE;
  if (e->cls && ClassOf(h) != e->cls) return TRUE;
  e->found.push_back(h);
  return TRUE;
}
struct EnumChild {
  const char* cls;
  HWND found;
};
BOOL CALLBACK EnumChildProc(HWND h, LPARAM l) {
  EnumChild* e = reinterpret_cast<EnumChild*>(l);
  if (ClassOf(h) == e->cls) {
    e->found = h;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

std::vector<HWND> TopWindows(DWORD pid, const char* cls, bool visibleOnly) {
  EnumTop e{pid, cls, visibleOnly, {}};
  EnumWindows(EnumTopProc, reinterpret_cast<LPARAM>(&e));
  return e.found;
}

HWND FindDescendant(HWND parent, const char* cls) {
  EnumChild e{cls, nullptr};
  EnumChildWindows(parent, EnumChildProc, reinterpret_cast<LPARAM>(&e));
  return e.found;
}

// ---------------------------------------------------------------- remote memory

Remote::Remote(HANDLE process, size_t size) : process_(process) {
  base_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

Remote::~Remote() {
  if (base_) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
}

bool Remote::Write(const void* data, size_t size, size_t offset) {
  SIZE_T done = 0;
  return base_ && WriteProcessMemory(process_, static_cast<char*>(base_) + offset, data, size, &done) && done == size;
}

bool Remote::Read(void* data, size_t size, size_t offset) const {
  SIZE_T done = 0;
  return base_ && ReadProcessMemory(process_, static_cast<char*>(base_) + offset, data, size, &done) && done == size;
}

std::string Remote::ReadString(size_t offset, size_t maxLen) const {
  std::string s(maxLen, '\0');
  if (!Read(&s[0], maxLen, offset)) return std::string();
  s.resize(strnlen(s.c_str(), maxLen));
  return s;
}

// ---------------------------------------------------------------- the program under test

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

namespace {
HWND FindMain(DWORD pid) {
  for (HWND h : TopWindows(pid, QUARN_MAIN_CLASS)) return h;
  return nullptr;
}

// The static that holds a message box's text: id 0xFFFF.
HWND BoxStatic(HWND box) {
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if ((static_cast<unsigned>(GetDlgCtrlID(c)) & 0xFFFFu) == 0xFFFFu && _stricmp(ClassOf(c).c_str(), "Static") == 0)
      return c;
  }
  return nullptr;
}
}  // namespace

bool StartProgram(const std::string& exe, PROCESS_INFORMATION* pi, const std::string& args, const std::string& dir) {
  // The program's standard output and error (Wine's own messages among them)
  // go to a log beside the exchange files, not into the driver's report.
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  const std::string logPath = JoinPath(g_exchange.empty() ? std::string(".") : g_exchange, "quarn-output.log");
  HANDLE log = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  if (log != INVALID_HANDLE_VALUE) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = log;
    si.hStdError = log;
  }
  std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
  const std::string folder = dir.empty() ? FolderOf(exe) : dir;
  const BOOL ok = CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, log != INVALID_HANDLE_VALUE, 0, nullptr,
                                 folder.c_str(), &si, pi);
  const DWORD err = GetLastError();
  if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
  SetLastError(err);
  return ok != 0;
}

void QuarnApp::Start(const std::string& args) {
  Kill();
  // A program left over from an earlier case would hold the mutex and answer for this one.
  for (HWND h : TopWindows(0, QUARN_MAIN_CLASS, false)) {
    Note("a Quarn window of process %lu was still open before the start; ended it", PidOf(h));
    if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, PidOf(h))) {
      TerminateProcess(p, 98);
      WaitForSingleObject(p, 5000);
      CloseHandle(p);
    }
  }
  Require(StartProgram(exe_, &pi_, args), "cannot start %s (error %lu)", exe_.c_str(), GetLastError());
  WaitOrAbort(
      [&] {
        main_ = FindMain(pi_.dwProcessId);
        return main_ != nullptr || !Running();
      },
      20000, "the main window of quarn.exe to appear");
  Require(main_ != nullptr, "quarn.exe ended without showing its main window");
}

bool QuarnApp::Attach(HWND main) {
  Kill();
  pi_ = PROCESS_INFORMATION{};
  DWORD pid = 0;
  const DWORD tid = GetWindowThreadProcessId(main, &pid);
  pi_.hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION |
                                 PROCESS_TERMINATE | SYNCHRONIZE,
                             FALSE, pid);
  if (pi_.hProcess == nullptr) return false;
  pi_.dwProcessId = pid;
  pi_.dwThreadId = tid;
  main_ = main;
  return true;
}

bool QuarnApp::Running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

bool QuarnApp::WaitExit(DWORD timeoutMs) {
  return !pi_.hProcess || WaitForSingleObject(pi_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

void QuarnApp::Kill() {
  if (pi_.hProcess) {
    if (Running()) {
      TerminateProcess(pi_.hProcess, 99);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hProcess);
    if (pi_.hThread) CloseHandle(pi_.hThread);
  }
  pi_ = PROCESS_INFORMATION{};
  main_ = nullptr;
}

HWND QuarnApp::Control(int id) const {
  HWND h = GetDlgItem(main_, id);
  Require(h != nullptr, "the main window has no child control with id %d", id);
  return h;
}

int QuarnApp::ItemCount(int listId) const {
  bool ok = false;
  const LRESULT n = Send(Control(listId), LVM_GETITEMCOUNT, 0, 0, &ok);
  Require(ok, "list %d does not answer LVM_GETITEMCOUNT", listId);
  return static_cast<int>(n);
}

std::string QuarnApp::ItemText(int listId, int item, int sub) const {
  const size_t textMax = 1024;
  Remote mem(pi_.hProcess, sizeof(LVITEMA) + textMax);
  Require(mem.ok(), "cannot allocate memory in quarn.exe");
  LVITEMA it{};
  it.iSubItem = sub;
  it.pszText = reinterpret_cast<char*>(mem.at(sizeof(LVITEMA)));
  it.cchTextMax = static_cast<int>(textMax);
  mem.Write(&it, sizeof it);
  bool ok = false;
  Send(Control(listId), LVM_GETITEMTEXTA, static_cast<WPARAM>(item), mem.at(), &ok);
  Require(ok, "list %d does not answer LVM_GETITEMTEXTA", listId);
  return mem.ReadString(sizeof(LVITEMA), textMax);
}

int QuarnApp::ItemImage(int listId, int item) const {
  Remote mem(pi_.hProcess, sizeof(LVITEMA));
  LVITEMA it{};
  it.mask = LVIF_IMAGE;
  it.iItem = item;
  it.iImage = -12345;
  mem.Write(&it, sizeof it);
  bool ok = false;
  Send(Control(listId), LVM_GETITEMA, 0, mem.at(), &ok);
  Require(ok, "list %d does not answer LVM_GETITEMA", listId);
  mem.Read(&it, sizeof it);
  return it.iImage;
}

std::vector<std::string> QuarnApp::Captions(int listId) const {
  std::vector<std::string> out;
  const int n = ItemCount(listId);
  for (int i = 0; i < n; ++i) out.push_back(ItemText(listId, i));
  return out;
}

void QuarnApp::SelectItem(int listId, int item, bool selected) const {
  Remote mem(pi_.hProcess, sizeof(LVITEMA));
  LVITEMA it{};
  it.stateMask = LVIS_SELECTED;
  it.state = selected ? LVIS_SELECTED : 0;
  mem.Write(&it, sizeof it);
  bool ok = false;
  Send(Control(listId), LVM_SETITEMSTATE, static_cast<WPARAM>(item), mem.at(), &ok);
  Require(ok, "list %d does not answer LVM_SETITEMSTATE", listId);
}

std::string QuarnApp::ColumnText(int listId, int column) const {
  const size_t textMax = 256;
  Remote mem(pi_.hProcess, sizeof(LVCOLUMNA) + textMax);
  LVCOLUMNA c{};
  c.mask = LVCF_TEXT;
  c.pszText = reinterpret_cast<char*>(mem.at(sizeof(LVCOLUMNA)));
  c.cchTextMax = static_cast<int>(textMax);
  mem.Write(&c, sizeof c);
  bool ok = false;
  const LRESULT r = Send(Control(listId), LVM_GETCOLUMNA, static_cast<WPARAM>(column), mem.at(), &ok);
  if (!ok || !r) return std::string("<no column>");
  return mem.ReadString(sizeof(LVCOLUMNA), textMax);
}

std::string QuarnApp::StatusText(int panel) const {
  HWND sb = Control(IDC_STATUSBAR1);
  Remote mem(pi_.hProcess, 1024);
  mem.Write("", 1);
  bool ok = false;
  const LRESULT len = Send(sb, SB_GETTEXTLENGTHA, static_cast<WPARAM>(panel), 0, &ok);
  Require(ok && LOWORD(len) < 1000, "status bar does not answer SB_GETTEXTLENGTHA");
  Send(sb, SB_GETTEXTA, static_cast<WPARAM>(panel), mem.at(), &ok);
  Require(ok, "status bar does not answer SB_GETTEXTA");
  // Leading tabs are the panel's alignment codes (centred, right-aligned), not text.
  std::string text = mem.ReadString(0, 1023);
  text.erase(0, std::min<size_t>(text.find_first_not_of('\t'), text.size()));
  return text;
}

int QuarnApp::TabCount(HWND tab) const { return static_cast<int>(Send(tab, TCM_GETITEMCOUNT, 0, 0)); }

std::string QuarnApp::TabText(HWND tab, int index) const {
  const size_t textMax = 256;
  Remote mem(pi_.hProcess, sizeof(TCITEMA) + textMax);
  TCITEMA t{};
  t.mask = TCIF_TEXT;
  t.pszText = reinterpret_cast<char*>(mem.at(sizeof(TCITEMA)));
  t.cchTextMax = static_cast<int>(textMax);
  mem.Write(&t, sizeof t);
  bool ok = false;
  const LRESULT r = Send(tab, TCM_GETITEMA, static_cast<WPARAM>(index), mem.at(), &ok);
  if (!ok || !r) return std::string("<no tab>");
  return mem.ReadString(sizeof(TCITEMA), textMax);
}

void QuarnApp::SwitchPage(int page) const {
  HWND tab = Control(IDC_PAGECONTROL1);
  Send(tab, TCM_SETCURFOCUS, static_cast<WPARAM>(page), 0);
  HWND shown = Control(page == 0 ? IDC_LISTVIEW1 : IDC_LISTVIEW2);
  HWND hidden = Control(page == 0 ? IDC_LISTVIEW2 : IDC_LISTVIEW1);
  WaitOrAbort([&] { return IsWindowVisible(shown) && !IsWindowVisible(hidden); }, 5000,
              Format("page %d to show its list after TCM_SETCURFOCUS", page));
  Check(Send(tab, TCM_GETCURSEL, 0, 0) == page, "the tab control's selection is not page %d after the switch", page);
}

void QuarnApp::Click(int id) const { PostMessageA(Control(id), BM_CLICK, 0, 0); }

void QuarnApp::Command(int id) const { PostMessageA(main_, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

void QuarnApp::Drop(const std::vector<std::string>& paths) const {
  // As the shell makes it: the paths in UTF-16.
  std::string block(sizeof(DROPFILES), '\0');
  DROPFILES df{};
  df.pFiles = sizeof(DROPFILES);
  df.pt.x = 300;
  df.pt.y = 150;
  df.fNC = FALSE;
  df.fWide = TRUE;
  memcpy(&block[0], &df, sizeof df);
  for (const std::string& p : paths) {
    std::wstring wide(p.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, p.data(), static_cast<int>(p.size()), &wide[0],
                                                        static_cast<int>(wide.size()))));
    wide += L'\0';
    block.append(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
  }
  block.append(sizeof(wchar_t), '\0');
  // The program releases the drop with DragFinish, so this block is left to it
  // and never freed here.
  void* mem = VirtualAllocEx(pi_.hProcess, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  Require(mem != nullptr, "cannot allocate the drop block in quarn.exe");
  SIZE_T done = 0;
  Require(WriteProcessMemory(pi_.hProcess, mem, block.data(), block.size(), &done) && done == block.size(),
          "cannot write the drop block into quarn.exe");
  bool ok = false;
  Send(main_, WM_DROPFILES, reinterpret_cast<WPARAM>(mem), 0, &ok, 10000);
  Require(ok, "WM_DROPFILES was not handled within 10 s");
}

HWND QuarnApp::FocusWindow() const {
  GUITHREADINFO gti{};
  gti.cbSize = sizeof gti;
  if (!GetGUIThreadInfo(pi_.dwThreadId, &gti)) return nullptr;
  return gti.hwndFocus;
}

void QuarnApp::PressKey(UINT vk, HWND fallback) const {
  HWND target = FocusWindow();
  if (!target) target = fallback;
  const UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
  const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
  PostMessageA(target, WM_KEYDOWN, vk, down);
  PostMessageA(target, WM_KEYUP, vk, down | 0xC0000000);
}

HWND QuarnApp::MessageBoxWindow() const {
  for (HWND h : TopWindows(pi_.dwProcessId, "#32770"))
    if (BoxStatic(h)) return h;
  return nullptr;
}

HWND QuarnApp::WaitMessageBox(DWORD timeoutMs, const char* what) const {
  HWND box = nullptr;
  WaitOrAbort([&] { return (box = MessageBoxWindow()) != nullptr; }, timeoutMs, Format("a message box (%s)", what));
  return box;
}

std::string QuarnApp::BoxText(HWND box) const {
  HWND s = BoxStatic(box);
  return s ? TextOf(s) : std::string();
}

void QuarnApp::CloseBox(HWND box, int buttonId) const {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
  WaitOrAbort([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000, "the message box to close after OK");
}

HWND QuarnApp::FileDialog() const {
  for (HWND h : TopWindows(pi_.dwProcessId, "#32770"))
    if (GetDlgItem(h, 0x47c)) return h;
  return nullptr;
}

HWND QuarnApp::WaitFileDialog(DWORD timeoutMs, const char* what) const {
  HWND dlg = nullptr;
  WaitOrAbort([&] { return (dlg = FileDialog()) != nullptr; }, timeoutMs, Format("the %s dialog to open", what));
  return dlg;
}

void QuarnApp::AnswerFileDialog(HWND dlg, const std::string& text, bool expectClose) const {
  HWND combo = GetDlgItem(dlg, 0x47c);
  HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
  if (!edit) edit = combo;
  bool ok = false;
  Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &ok);
  Require(ok, "cannot type into the file dialog's name field");
  Require(TextOf(edit) == text, "the file dialog's name field shows \"%s\" after typing \"%s\"", TextOf(edit).c_str(),
          text.c_str());
  const WPARAM cmd = MAKEWPARAM(IDOK, BN_CLICKED);
  const LPARAM btn = reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK));
  if (!expectClose) {
    // A folder: the dialog changes folder inside the handler and stays open.
    Send(dlg, WM_COMMAND, cmd, btn, &ok, 10000);
    Require(ok && IsWindowVisible(dlg), "the file dialog did not stay open after OK with the folder %s", text.c_str());
    return;
  }
  PostMessageA(dlg, WM_COMMAND, cmd, btn);
  if (!WaitUntil([&] { return !IsWindow(dlg) || !IsWindowVisible(dlg); }, 10000)) {
    std::string extra;
    for (HWND h : TopWindows(pi_.dwProcessId, "#32770"))
      if (h != dlg && BoxStatic(h)) extra = " (the dialog shows: \"" + Visible(BoxText(h)) + "\")";
    Require(false, "the file dialog stayed open after OK with \"%s\"%s", text.c_str(), extra.c_str());
  }
}

HWND QuarnApp::FolderBrowser() const {
  for (HWND h : TopWindows(pi_.dwProcessId, "#32770"))
    if (FindDescendant(h, "SysTreeView32")) return h;
  return nullptr;
}

std::string QuarnApp::TreeSelection(HWND tree) const {
  return TreeItemText(tree, reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)));
}

std::string QuarnApp::TreeItemText(HWND tree, HTREEITEM item) const {
  if (!item) return std::string();
  const size_t textMax = 512;
  Remote mem(pi_.hProcess, sizeof(TVITEMA) + textMax);
  TVITEMA it{};
  it.mask = TVIF_TEXT | TVIF_HANDLE;
  it.hItem = item;
  it.pszText = reinterpret_cast<char*>(mem.at(sizeof(TVITEMA)));
  it.cchTextMax = static_cast<int>(textMax);
  mem.Write(&it, sizeof it);
  bool ok = false;
  Send(tree, TVM_GETITEMA, 0, mem.at(), &ok);
  return ok ? mem.ReadString(sizeof(TVITEMA), textMax) : std::string();
}

void QuarnApp::ChooseFolder(HWND dlg, const std::string& path) const {
  // The path's levels below its drive: "Z:\\a\\b" gives the drive "Z:\\", then "a", "b".
  std::vector<std::string> names;
  for (size_t i = 3, j; i < path.size(); i = j + 1) {
    j = path.find('\\', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) names.push_back(path.substr(i, j - i));
  }
  Require(path.size() >= 3 && path[1] == ':' && path[2] == '\\', "not a full path: %s", path.c_str());
  HWND tree = FindDescendant(dlg, "SysTreeView32");
  Require(tree != nullptr, "the folder browser has no tree");
  // The drive through the browser's own selection message...
  const std::string drive = path.substr(0, 3);
  Remote mem(pi_.hProcess, 16);
  Require(mem.ok() && mem.Write(drive.c_str(), drive.size() + 1), "cannot write into quarn.exe");
  bool ok = false;
  Send(dlg, BFFM_SETSELECTIONA, TRUE, mem.at(), &ok, 10000);
  Require(ok, "the folder browser did not answer BFFM_SETSELECTIONA");
  const std::string driveText = "(" + path.substr(0, 2) + ")";
  const std::string got = TreeSelection(tree);
  Require(got.find(driveText) != std::string::npos, "BFFM_SETSELECTIONA %s selected \"%s\"", drive.c_str(),
          got.c_str());
  // ...then folder by folder, as a user opens and clicks them. (Selecting
  // deeper levels with BFFM_SETSELECTIONA fails now and then under Wine.)
  for (const std::string& name : names) {
    const HTREEITEM cur = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    Send(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(cur));
    HTREEITEM next = nullptr;
    for (HTREEITEM item =
             reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(cur)));
         item && !next;
         item = reinterpret_cast<HTREEITEM>(Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
      if (_stricmp(TreeItemText(tree, item).c_str(), name.c_str()) == 0) next = item;
    }
    Require(next != nullptr, "the folder browser shows no folder \"%s\" below \"%s\"", name.c_str(),
            TreeItemText(tree, cur).c_str());
    Send(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(next));
    Send(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(next));
    Require(TreeSelection(tree) == TreeItemText(tree, next), "the folder browser did not select \"%s\"", name.c_str());
  }
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
  WaitOrAbort([&] { return !IsWindow(dlg) || !IsWindowVisible(dlg); }, 10000, "the folder browser to close after OK");
}

// ---------------------------------------------------------------- files

bool FileExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::string& path, std::string* data) {
  HANDLE f =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  data->clear();
  char buf[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(f, buf, sizeof buf, &got, nullptr) != 0) && got > 0) data->append(buf, got);
  CloseHandle(f);
  return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const bool ok = WriteFile(f, data.data(), static_cast<DWORD>(data.size()), &done, nullptr) && done == data.size();
  CloseHandle(f);
  return ok;
}

bool RemoveTree(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return true;
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(path.c_str()) != 0;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(JoinPath(path, "*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, "..")) RemoveTree(JoinPath(path, fd.cFileName));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  return RemoveDirectoryA(path.c_str()) != 0;
}

int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d)) return -1;
  return (static_cast<int64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::string JoinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (a.back() == '\\') return a + b;
  return a + "\\" + b;
}

namespace {
void ListInto(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(JoinPath(JoinPath(root, rel), "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
    const std::string r = rel.empty() ? std::string(fd.cFileName) : rel + "\\" + fd.cFileName;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out->push_back(r + "\\");
      ListInto(root, r, out);
    } else {
      out->push_back(r);
    }
  } while (FindNextFileA(h, &fd));
  FindClose(h);
}
}  // namespace

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> out;
  ListInto(root, "", &out);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> CompareTrees(const std::string& expected, const std::string& actual) {
  std::vector<std::string> diffs;
  if (!DirExists(actual)) {
    diffs.push_back("folder " + actual + " does not exist");
    return diffs;
  }
  const std::vector<std::string> want = ListTree(expected);
  const std::vector<std::string> got = ListTree(actual);
  const std::set<std::string> gotSet(got.begin(), got.end());
  const std::set<std::string> wantSet(want.begin(), want.end());
  for (const std::string& w : want) {
    if (!gotSet.count(w)) {
      diffs.push_back("missing " + w);
      continue;
    }
    if (w.back() == '\\') continue;
    std::string a, b;
    if (!ReadWholeFile(JoinPath(expected, w), &a) || !ReadWholeFile(JoinPath(actual, w), &b)) {
      diffs.push_back("cannot read " + w);
    } else if (a != b) {
      size_t at = 0;
      while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
      diffs.push_back(Format("%s differs: %u bytes expected, %u extracted, first difference at byte %u", w.c_str(),
                             static_cast<unsigned>(a.size()), static_cast<unsigned>(b.size()),
                             static_cast<unsigned>(at)));
    }
  }
  for (const std::string& g : got)
    if (!wantSet.count(g)) diffs.push_back("unexpected " + g);
  return diffs;
}

// ---------------------------------------------------------------- host helper

void SetExchangeFolder(const std::string& folder) { g_exchange = folder; }

bool HostRequest(const std::string& request, std::string* reply, DWORD timeoutMs) {
  if (g_exchange.empty()) return false;
  const unsigned n = ++g_requestNumber;
  const std::string base = JoinPath(g_exchange, Format("request-%04u", n));
  const std::string tmp = base + ".tmp";
  const std::string req = base + ".req";
  const std::string rep = base + ".rep";
  if (!WriteWholeFile(tmp, request) || !MoveFileA(tmp.c_str(), req.c_str())) return false;
  if (!WaitUntil([&] { return FileExists(rep); }, timeoutMs)) {
    DeleteFileA(req.c_str());
    return false;
  }
  std::string data;
  const bool ok = ReadWholeFile(rep, &data);
  DeleteFileA(rep.c_str());
  if (reply) *reply = data;
  return ok;
}

void RequestScreenshot(const std::string& caseName) {
  if (!g_hostAlive) return;
  std::string reply;
  if (!HostRequest("shot " + caseName + "\n", &reply, 5000)) {
    g_hostAlive = false;
    Note("no screenshot: the host helper did not answer");
    return;
  }
  if (reply.compare(0, 2, "OK") != 0) Note("screenshot failed: %s", Visible(reply).c_str());
}

// ---------------------------------------------------------------- running cases

int RunCases(const std::vector<CaseInfo>& cases, const std::string& only) {
  std::set<std::string> wanted;
  for (size_t i = 0; i < only.size();) {
    size_t j = only.find(',', i);
    if (j == std::string::npos) j = only.size();
    if (j > i) wanted.insert(only.substr(i, j - i));
    i = j + 1;
  }
  int passed = 0, failed = 0;
  std::vector<std::string> skipped;
  const DWORD runStart = GetTickCount();
  for (const CaseInfo& c : cases) {
    if (wanted.empty() ? c.whenNamed : !wanted.count(c.name)) continue;
    g_caseName = c.name;
    g_failures.clear();
    g_notes.clear();
    const DWORD start = GetTickCount();
    bool skip = false;
    std::string skipWhy;
    try {
      c.run();
    } catch (const CaseAbort&) {
    } catch (const CaseSkip& s) {
      skip = true;
      skipWhy = s.why;
    } catch (const std::exception& e) {
      AddFailure(std::string("unexpected exception: ") + e.what());
    }
    const double secs = (GetTickCount() - start) / 1000.0;
    if (skip && g_failures.empty()) {
      Print(Format("SKIP  %s (%s)", c.name, skipWhy.c_str()));
      skipped.push_back(c.name);
    } else if (g_failures.empty()) {
      Print(Format("PASS  %s (%.1f s)", c.name, secs));
      for (const std::string& n : g_notes) Print("        " + n);
      ++passed;
    } else {
      Print(Format("FAIL  %s (%.1f s)", c.name, secs));
      for (const std::string& f : g_failures) Print("      - " + f);
      for (const std::string& n : g_notes) Print("        " + n);
      ++failed;
    }
    g_caseName.clear();
  }
  Print(Format("driver time %.1f s", (GetTickCount() - runStart) / 1000.0));
  if (!skipped.empty()) {
    std::string names;
    for (const std::string& s : skipped) names += (names.empty() ? "" : ", ") + s;
    Print(Format("skipped: %u (%s)", static_cast<unsigned>(skipped.size()), names.c_str()));
  }
  Print(Format("%d passed, %d failed", passed, failed));
  return failed;
}

}  // namespace e2e
