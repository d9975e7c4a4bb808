#pragma once
// Plumbing of the end-to-end driver: the case framework, a started quarn.exe,
// memory inside that process for the controls' pointer messages, window
// look-ups, bounded waits, and requests to the host-side helper (screenshots,
// archive checks with Linux tools, real X11 drags).
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "resource.h"

namespace e2e {

// ---------------------------------------------------------------- case framework

// Thrown by Require() and by failed waits: ends the running case.
struct CaseAbort {};
// Thrown by SkipCase(): the case could not be run here, and says why.
struct CaseSkip {
  std::string why;
};

// Records a failure of the running case and goes on.
void Fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Records a failure when cond is false; returns cond.
bool Check(bool cond, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Records a failure and ends the case when cond is false.
void Require(bool cond, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void SkipCase(const std::string& why);
// A line of detail printed under the case's result when it fails.
void Note(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Text with CR, LF and other control characters shown as escapes, for messages.
std::string Visible(const std::string& s);

// Polls pred every 25 ms until it holds or timeoutMs passed.
bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs);
// Same, but a timeout fails and ends the case with "timed out after N ms: what".
void WaitOrAbort(const std::function<bool()>& pred, DWORD timeoutMs, const std::string& what);

// ---------------------------------------------------------------- windows

std::string ClassOf(HWND h);
DWORD PidOf(HWND h);
// WM_GETTEXT through SendMessageTimeout (works across processes, marshalled).
std::string TextOf(HWND h);
// Top-level windows of a process (any process for pid 0), optionally of one class.
std::vector<HWND> TopWindows(DWORD pid, const char* cls = nullptr, bool visibleOnly = true);
// Direct or deeper child of parent with the given class, or nullptr.
HWND FindDescendant(HWND parent, const char* cls);
// SendMessageTimeoutA with a 5 s limit; *ok (if given) tells whether it was delivered.
LRESULT Send(HWND h, UINT msg, WPARAM w, LPARAM l, bool* ok = nullptr, UINT timeoutMs = 5000);

// ---------------------------------------------------------------- the program under test

// Memory inside another process, for messages whose lParam points to data.
class Remote {
 public:
  Remote(HANDLE process, size_t size);
  ~Remote();
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;
  bool ok() const { return base_ != nullptr; }
  LPARAM at(size_t offset = 0) const { return reinterpret_cast<LPARAM>(static_cast<char*>(base_) + offset); }
  bool Write(const void* data, size_t size, size_t offset = 0);
  bool Read(void* data, size_t size, size_t offset = 0) const;
  std::string ReadString(size_t offset, size_t maxLen) const;

 private:
  HANDLE process_;
  void* base_;
};

// Starts a program with its output to the exchange folder's quarn-output.log.
// Args is the rest of its command line, as it would be typed; the working
// folder is dir, or the program's own folder when dir is empty.
bool StartProgram(const std::string& exe, PROCESS_INFORMATION* pi, const std::string& args = "",
                  const std::string& dir = "");

class QuarnApp {
 public:
  explicit QuarnApp(const std::string& exe) : exe_(exe) {}
  ~QuarnApp() { Kill(); }
  QuarnApp(const QuarnApp&) = delete;
  QuarnApp& operator=(const QuarnApp&) = delete;

  // Starts the program (args: the rest of its command line) and waits for its
  // visible main window (ends the case on failure).
  void Start(const std::string& args = "");
  // Takes on the program that shows the main window main, started by some
  // other way (a start among many), to read its controls and end it at the
  // end of the case; false when its process cannot be opened.
  bool Attach(HWND main);
  bool Running() const;
  bool WaitExit(DWORD timeoutMs);
  // Terminates the program (its boxes and dialogs go with it).
  void Kill();

  HANDLE process() const { return pi_.hProcess; }
  DWORD pid() const { return pi_.dwProcessId; }
  DWORD tid() const { return pi_.dwThreadId; }
  HWND main() const { return main_; }
  // A direct child of the main window by id; ends the case if it is missing.
  HWND Control(int id) const;

  // --- list views (cross-process)
  int ItemCount(int listId) const;
  std::string ItemText(int listId, int item, int sub = 0) const;
  int ItemImage(int listId, int item) const;
  std::vector<std::string> Captions(int listId) const;
  void SelectItem(int listId, int item, bool selected) const;
  std::string ColumnText(int listId, int column) const;
  // --- status bar
  std::string StatusText(int panel) const;
  // --- tab controls
  int TabCount(HWND tab) const;
  std::string TabText(HWND tab, int index) const;
  void SwitchPage(int page) const;  // TCM_SETCURFOCUS, then waits for the page's list to show

  // Posts BM_CLICK to a button of the main window.
  void Click(int id) const;
  // Posts WM_COMMAND(id) to the main window, as a context-menu item does.
  void Command(int id) const;
  // Hands the program a shell drop: a DROPFILES block (ANSI) written into its
  // memory, sent as WM_DROPFILES to the main window; returns when handled.
  void Drop(const std::vector<std::string>& paths) const;
  // Posts a key press (WM_KEYDOWN, WM_KEYUP) to the window that has the focus in
  // the program's thread, or to fallback when none has.
  void PressKey(UINT vk, HWND fallback) const;
  HWND FocusWindow() const;

  // --- the program's boxes and dialogs
  // A visible message box (a #32770 with the static text 0xFFFF), or nullptr.
  HWND MessageBoxWindow() const;
  HWND WaitMessageBox(DWORD timeoutMs, const char* what) const;
  // Text of a message box's static; caption via TextOf.
  std::string BoxText(HWND box) const;
  void CloseBox(HWND box, int buttonId = IDOK) const;
  // The open/save dialog (a #32770 holding the file-name combo 0x47c), or nullptr.
  HWND FileDialog() const;
  HWND WaitFileDialog(DWORD timeoutMs, const char* what) const;
  // Types text into the file dialog's name field and presses OK. With
  // expectClose the dialog must close; otherwise the dialog stays (folder change).
  void AnswerFileDialog(HWND dlg, const std::string& text, bool expectClose) const;
  // The folder browser (a #32770 holding a SysTreeView32), or nullptr.
  HWND FolderBrowser() const;
  // Selects path in the folder browser (its drive through BFFM_SETSELECTIONA,
  // then folder by folder in the tree), then presses OK.
  void ChooseFolder(HWND dlg, const std::string& path) const;
  // Text of the tree view's selected item.
  std::string TreeSelection(HWND tree) const;
  std::string TreeItemText(HWND tree, HTREEITEM item) const;

 private:
  std::string exe_;
  PROCESS_INFORMATION pi_{};
  HWND main_ = nullptr;
};

// ---------------------------------------------------------------- files

bool FileExists(const std::string& path);
bool DirExists(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string* data);
bool WriteWholeFile(const std::string& path, const std::string& data);
// Removes a folder tree (or a file); true when nothing is left.
bool RemoveTree(const std::string& path);
int64_t FileSize(const std::string& path);
// Relative paths of everything below root ("a\b\" for folders, "a\b\c.txt" for files).
std::vector<std::string> ListTree(const std::string& root);
// Compares two trees: same folders, same files, same bytes. Differences are
// returned as readable lines (empty when equal).
std::vector<std::string> CompareTrees(const std::string& expected, const std::string& actual);
std::string JoinPath(const std::string& a, const std::string& b);
// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

// ---------------------------------------------------------------- host helper

// Sends one request to the host-side helper (e2e_host.py) through files in the
// exchange folder and waits for its reply. Returns false on timeout.
bool HostRequest(const std::string& request, std::string* reply, DWORD timeoutMs);
void SetExchangeFolder(const std::string& folder);

// ---------------------------------------------------------------- running cases

struct CaseInfo {
  const char* name;
  void (*run)();
  bool whenNamed = false;  // runs only when named in only (it needs an installed Quarn)
};

// Runs every case in order (or those named in only, comma-separated), prints
// one result line each and the closing "N passed, N failed" line; returns the
// number of failed cases.
int RunCases(const std::vector<CaseInfo>& cases, const std::string& only);

// The first failure of a case asks the host for a screenshot named after the
// case, while the program is still on the screen.
void RequestScreenshot(const std::string& caseName);

}  // namespace e2e
