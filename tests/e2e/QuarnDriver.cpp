// End-to-end cases for quarn.exe. Started by run-e2e.sh under Wine, in the same
// Wine prefix as the program: it starts quarn.exe afresh for each case and works
// it from outside as a user would (buttons, menu commands, drops, the real open,
// save and folder dialogs, keys), then checks what the window shows and what
// landed on disk.
//
//   quarn_e2e_driver.exe <quarn.exe> <scratch folder> [--exchange=<folder>]
//                        [--kinds=zip,7z,rar] [--only=case1,case2]
//
// The scratch folder holds the fixtures that run-e2e.sh made (see there);
// --exchange names the folder shared with the host helper (screenshots, checks
// with Linux tools, real X11 drags); --kinds lists the archive kinds whose
// extraction this build is expected to do.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "DriverSupport.h"

using namespace e2e;

namespace {

struct Settings {
  std::string exe;
  std::string scratch;
  std::string desktop;
  std::set<std::string> kinds;
} g;

std::string S(const std::string& rel) { return JoinPath(g.scratch, rel); }

// A list of paths for messages, the scratch folder written as <scratch>.
std::string Joined(const std::vector<std::string>& items) {
  std::string s = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    std::string item = items[i];
    if (item.compare(0, g.scratch.size() + 1, g.scratch + "\\") == 0)
      item = "<scratch>" + item.substr(g.scratch.size());
    s += (i ? ", \"" : "\"") + item + "\"";
  }
  return s + "]";
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The size column: the file's size in whole kilobytes.
std::string KbText(const std::string& path) {
  const int64_t size = FileSize(path);
  return std::to_string(size < 0 ? 0 : size / 1024);
}

// A zip member's name for a listed file: its full path without the drive, with "/".
std::string MemberName(const std::string& path) {
  std::string rest = path;
  if (rest.size() >= 2 && rest[1] == ':') rest.erase(0, 2);
  while (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
  for (char& c : rest)
    if (c == '\\') c = '/';
  return rest;
}

struct FindId {
  int id;
  HWND found;
};

BOOL CALLBACK FindIdProc(HWND h, LPARAM l) {
  FindId* f = reinterpret_cast<FindId*>(l);
  if (GetDlgCtrlID(h) == f->id) {
    f->found = h;
    return FALSE;
  }
  return TRUE;
}

// A child or deeper descendant of parent with the given id.
HWND FindById(HWND parent, int id) {
  FindId f{id, nullptr};
  EnumChildWindows(parent, FindIdProc, reinterpret_cast<LPARAM>(&f));
  return f.found;
}

RECT WindowRect(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  return r;
}

void ExpectCaptions(const QuarnApp& app, int listId, const std::vector<std::string>& want, const char* what) {
  std::vector<std::string> got;
  WaitUntil(
      [&] {
        got = app.Captions(listId);
        return got == want;
      },
      3000);
  Check(got == want, "%s: list holds %s, expected %s", what, Joined(got).c_str(), Joined(want).c_str());
}

void ExpectSizes(const QuarnApp& app, int listId, const std::vector<std::string>& paths) {
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string got = app.ItemText(listId, static_cast<int>(i), 1);
    Check(got == KbText(paths[i]), "size column of %s shows \"%s\", expected \"%s\"", BaseName(paths[i]).c_str(),
          got.c_str(), KbText(paths[i]).c_str());
  }
}

void ExpectIcons(const QuarnApp& app, int listId, const std::vector<int>& want) {
  for (size_t i = 0; i < want.size(); ++i) {
    const int got = app.ItemImage(listId, static_cast<int>(i));
    Check(got == want[i], "item %u of list %d has icon %d, expected %d", static_cast<unsigned>(i), listId, got,
          want[i]);
  }
}

void ExpectStatus(const QuarnApp& app, const std::string& want) {
  std::string got;
  WaitUntil([&] { return (got = app.StatusText(0)) == want; }, 2000);
  Check(got == want, "status panel 0 shows \"%s\", expected \"%s\"", got.c_str(), want.c_str());
}

// Fails when a message box is up or comes within half a second (a command may
// show one just after it emptied its list), reporting and closing it.
void ExpectNoBox(const QuarnApp& app, const char* when) {
  HWND box = nullptr;
  if (WaitUntil([&] { return (box = app.MessageBoxWindow()) != nullptr; }, 500)) {
    Fail("%s: unexpected box \"%s\": \"%s\"", when, TextOf(box).c_str(), Visible(app.BoxText(box)).c_str());
    app.CloseBox(box);
  }
}

// Information boxes sit at the main window's top + 150 and left + this.
const int kInfoBoxLeft = 160;

// Waits for a message box and checks its caption and text, then presses OK.
// An information box's place is checked against the main window's.
void ExpectBox(const QuarnApp& app, const char* caption, const std::string& text, const char* when) {
  HWND box = app.WaitMessageBox(10000, when);
  Check(TextOf(box) == caption, "%s: box caption \"%s\", expected \"%s\"", when, TextOf(box).c_str(), caption);
  const std::string got = app.BoxText(box);
  Check(got == text, "%s: box says \"%s\", expected \"%s\"", when, Visible(got).c_str(), Visible(text).c_str());
  if (strcmp(caption, "Information") == 0) {
    const RECT m = WindowRect(app.main()), b = WindowRect(box);
    Check(b.left == m.left + kInfoBoxLeft && b.top == m.top + 150,
          "%s: box at %ld, %ld; expected %ld, %ld (the window's left + %d, top + 150)", when, b.left, b.top,
          m.left + kInfoBoxLeft, m.top + 150, kInfoBoxLeft);
  }
  app.CloseBox(box);
}

// Waits until a command that empties list listId has ended: the list is empty
// and no box is up. A box that comes instead fails the case with its text.
void WaitCommandEnd(const QuarnApp& app, int listId, DWORD timeoutMs, const char* what) {
  HWND box = nullptr;
  WaitOrAbort(
      [&] {
        box = app.MessageBoxWindow();
        return box != nullptr || app.ItemCount(listId) == 0 || !app.Running();
      },
      timeoutMs, what);
  Require(app.Running(), "quarn.exe ended during %s", what);
  if (box) {
    const std::string caption = TextOf(box), text = app.BoxText(box);
    app.CloseBox(box);
    Require(false, "%s: a box \"%s\" said \"%s\"", what, caption.c_str(), Visible(text).c_str());
  }
}

void ChooseDestination(const QuarnApp& app, const std::string& folder) {
  CreateDirectoryA(folder.c_str(), nullptr);
  Require(DirExists(folder), "cannot create %s", folder.c_str());
  app.Click(IDC_BITBTN5);
  HWND dlg = nullptr;
  WaitOrAbort([&] { return (dlg = app.FolderBrowser()) != nullptr; }, 10000, "the folder browser to open after Select");
  app.ChooseFolder(dlg, folder);
  std::string got;
  WaitUntil([&] { return (got = TextOf(app.Control(IDC_EDIT1))) == folder; }, 3000);
  Require(got == folder, "after choosing %s in the folder browser the destination shows \"%s\"", folder.c_str(),
          got.c_str());
}

void ExpectTree(const std::string& expected, const std::string& actual) {
  Require(!ListTree(expected).empty(), "fixture %s is missing or empty", expected.c_str());
  for (const std::string& d : CompareTrees(expected, actual)) Fail("%s: %s", actual.c_str(), d.c_str());
}

// Asks the host to test an archive with Info-ZIP's unzip and Python's zipfile:
// members in this order, with the bytes of these files.
void ExpectZip(const std::string& archive, const std::vector<std::string>& files) {
  Require(FileExists(archive), "no archive was written at %s", archive.c_str());
  std::string request = "zipcheck\n" + archive + "\n";
  for (const std::string& f : files) request += MemberName(f) + "\t" + f + "\n";
  std::string reply;
  Require(HostRequest(request, &reply, 30000), "the host helper did not answer the archive check of %s",
          archive.c_str());
  if (reply.compare(0, 2, "OK") != 0) Fail("archive check of %s: %s", archive.c_str(), Visible(reply).c_str());
}

bool RegistryKeyExists() {
  HKEY k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quarn", 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// Reads a REG_DWORD of HKCU\Software\Quarn; false when missing or of another type.
bool RegistryDword(const char* name, DWORD* value) {
  HKEY k;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Quarn", 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = sizeof(DWORD);
  const LONG r = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(k);
  return r == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD);
}

// A further start of quarn.exe while one runs, with args as the rest of its
// command line and dir as its working folder; ended by force if still running
// at the end of the case.
struct LaterStart {
  PROCESS_INFORMATION pi{};
  bool sawWindow = false;  // a window of its own showed while it was watched
  LaterStart(const std::string& args, const std::string& dir = "") {
    Require(StartProgram(g.exe, &pi, args, dir), "cannot start a further quarn.exe");
  }
  ~LaterStart() {
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 97);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  LaterStart(const LaterStart&) = delete;
  LaterStart& operator=(const LaterStart&) = delete;
  // Waits until the process ended; false when it still runs after timeoutMs.
  bool WaitExit(DWORD timeoutMs) {
    return WaitUntil(
        [&] {
          if (!TopWindows(pi.dwProcessId, nullptr, true).empty()) sawWindow = true;
          return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0;
        },
        timeoutMs);
  }
};

// ====================================================================== cases

// --- start-up

void FirstStart() {
  Require(!RegistryKeyExists(), "HKCU\\Software\\Quarn exists before the first start: the Wine prefix is not fresh");
  QuarnApp app(g.exe);
  app.Start();
  HWND w = app.main();
  const RECT r = WindowRect(w);
  Check(r.left == 100 && r.top == 100, "window opened at left %ld, top %ld; expected 100, 100", r.left, r.top);
  Check(TextOf(w) == "Quarn 1.00", "caption \"%s\", expected \"Quarn 1.00\"", TextOf(w).c_str());
  RECT c{};
  GetClientRect(w, &c);
  Check(c.right == 531 && c.bottom == 419, "client area %ld x %ld, expected 531 x 419", c.right, c.bottom);
  const LONG style = GetWindowLongA(w, GWL_STYLE);
  Check(!(style & WS_MAXIMIZEBOX) && (style & WS_MINIMIZEBOX) && !(style & WS_THICKFRAME),
        "window style 0x%08lx: expected a minimise box, no maximise box, no sizing border", style);
  HWND owner = GetWindow(w, GW_OWNER);
  Check(owner && ClassOf(owner) == QUARN_APP_CLASS, "the main window's owner is \"%s\", expected the %s window",
        owner ? ClassOf(owner).c_str() : "none", QUARN_APP_CLASS);

  // The defaults come with the first activation.
  const std::string wantDest = g.desktop, wantSave = g.desktop + "\\quarn.zip";
  WaitUntil([&] { return TextOf(app.Control(IDC_EDIT1)) == wantDest; }, 5000);
  Check(TextOf(app.Control(IDC_EDIT1)) == wantDest, "destination shows \"%s\", expected the desktop \"%s\"",
        TextOf(app.Control(IDC_EDIT1)).c_str(), wantDest.c_str());
  Check(TextOf(app.Control(IDC_EDIT2)) == wantSave, "save-as shows \"%s\", expected \"%s\"",
        TextOf(app.Control(IDC_EDIT2)).c_str(), wantSave.c_str());
  Check(GetWindowLongA(app.Control(IDC_EDIT1), GWL_STYLE) & ES_READONLY, "the destination field is not read-only");
  Check(GetWindowLongA(app.Control(IDC_EDIT2), GWL_STYLE) & ES_READONLY, "the save-as field is not read-only");
  Check(app.StatusText(0).empty(), "status panel 0 shows \"%s\" at start, expected nothing", app.StatusText(0).c_str());

  // First page in view, with the Unzip button.
  HWND tab = app.Control(IDC_PAGECONTROL1);
  Check(ClassOf(tab) == WC_TABCONTROLA, "page control is a %s", ClassOf(tab).c_str());
  Check(app.TabCount(tab) == 2 && app.TabText(tab, 0) == "Archives to extract" && app.TabText(tab, 1) == "Files to Zip",
        "pages are %d: \"%s\", \"%s\"", app.TabCount(tab), app.TabText(tab, 0).c_str(), app.TabText(tab, 1).c_str());
  Check(Send(tab, TCM_GETCURSEL, 0, 0) == 0, "the first page is not the selected one at start");
  Check(IsWindowVisible(app.Control(IDC_LISTVIEW1)) && !IsWindowVisible(app.Control(IDC_LISTVIEW2)),
        "at start the archive list should show and the file list not");
  Check(IsWindowVisible(app.Control(IDC_BITBTN1)) && !IsWindowVisible(app.Control(IDC_BITBTN6)),
        "at start the Unzip button should show and the Zip button not");
  for (int id : {IDC_LISTVIEW1, IDC_LISTVIEW2}) {
    HWND lv = app.Control(id);
    Check(ClassOf(lv) == WC_LISTVIEWA, "list %d is a %s", id, ClassOf(lv).c_str());
    Check((GetWindowLongA(lv, GWL_STYLE) & LVS_TYPEMASK) == LVS_REPORT, "list %d is not a report view", id);
    Check(app.ColumnText(id, 0) == "Files" && app.ColumnText(id, 1) == "Size(kbytes)",
          "list %d has the columns \"%s\", \"%s\"", id, app.ColumnText(id, 0).c_str(), app.ColumnText(id, 1).c_str());
    Check(app.ItemCount(id) == 0, "list %d is not empty at start", id);
  }
  Check(ClassOf(app.Control(IDC_STATUSBAR1)) == STATUSCLASSNAMEA, "status bar is a %s",
        ClassOf(app.Control(IDC_STATUSBAR1)).c_str());
}

void SecondInstance() {
  QuarnApp first(g.exe);
  first.Start();
  const RECT before = WindowRect(first.main());
  first.Drop({S("drop\\a.zip")});

  LaterStart second("");
  Check(second.WaitExit(10000), "the second quarn.exe was still running after 10 s");
  Check(!second.sawWindow, "the second quarn.exe showed a window");

  Check(first.Running(), "the first quarn.exe ended");
  Check(TopWindows(0, QUARN_MAIN_CLASS).size() == 1, "%u main windows are open, expected 1",
        static_cast<unsigned>(TopWindows(0, QUARN_MAIN_CLASS).size()));
  const RECT after = WindowRect(first.main());
  Check(memcmp(&before, &after, sizeof before) == 0 && IsWindowVisible(first.main()),
        "the first window moved or was hidden by the second start");
  // Still at work: a drop lands in its list.
  first.Drop({S("drop\\b.zip")});
  ExpectCaptions(first, IDC_LISTVIEW1, {S("drop\\a.zip"), S("drop\\b.zip")}, "first instance after the second start");
}

void PageSwitchStatus() {
  QuarnApp app(g.exe);
  app.Start();
  app.Drop({S("drop\\a.zip")});
  ExpectStatus(app, "1 archive(s)");
  app.SwitchPage(1);
  ExpectStatus(app, "0 file(s)");
  Check(IsWindowVisible(app.Control(IDC_BITBTN6)) && !IsWindowVisible(app.Control(IDC_BITBTN1)),
        "on \"Files to Zip\" the Zip button should show and the Unzip button not");
  Check(IsWindowVisible(app.Control(IDC_EDIT2)) && !IsWindowVisible(app.Control(IDC_EDIT1)),
        "on \"Files to Zip\" the save-as field should show and the destination not");
  app.Drop({S("drop\\notes.txt"), S("drop\\a.zip")});
  ExpectStatus(app, "2 file(s)");
  app.SwitchPage(0);
  ExpectStatus(app, "1 archive(s)");
  Check(IsWindowVisible(app.Control(IDC_BITBTN1)) && !IsWindowVisible(app.Control(IDC_BITBTN6)),
        "back on \"Archives to extract\" the Unzip button should show and the Zip button not");
}

// --- drops

void DropOnArchivePage() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string a = S("drop\\a.zip"), txt = S("drop\\notes.txt"), b = S("drop\\b.zip");
  app.Drop({a, txt, b});
  ExpectCaptions(app, IDC_LISTVIEW1, {a, b}, "two zip archives and a text file dropped on the archive page");
  ExpectSizes(app, IDC_LISTVIEW1, {a, b});
  ExpectIcons(app, IDC_LISTVIEW1, {0, 0});
  ExpectStatus(app, "2 archive(s)");
  Check(app.ItemCount(IDC_LISTVIEW2) == 0, "the drop reached the file list too");

  // The other kinds get their icons.
  const std::string rar = S("drop\\d.rar"), sev = S("drop\\e.7z");
  app.Drop({rar, sev});
  ExpectCaptions(app, IDC_LISTVIEW1, {a, b, rar, sev}, "a .rar and a .7z dropped");
  ExpectIcons(app, IDC_LISTVIEW1, {0, 0, 1, 3});
  ExpectStatus(app, "4 archive(s)");

  // The kind does not depend on the case of the extension: UPPER.ZIP is a zip
  // archive, as cameras and old tools name them.
  const std::string upper = S("drop\\UPPER.ZIP");
  app.Drop({upper});
  ExpectCaptions(app, IDC_LISTVIEW1, {a, b, rar, sev, upper}, "UPPER.ZIP dropped");
  ExpectIcons(app, IDC_LISTVIEW1, {0, 0, 1, 3, 0});
}

void DropOnFilePage() {
  QuarnApp app(g.exe);
  app.Start();
  app.SwitchPage(1);
  const std::string a = S("drop\\a.zip"), txt = S("drop\\notes.txt"), b = S("drop\\b.zip");
  app.Drop({a, txt, b});
  ExpectCaptions(app, IDC_LISTVIEW2, {a, txt, b}, "the same drop on \"Files to Zip\"");
  ExpectSizes(app, IDC_LISTVIEW2, {a, txt, b});
  ExpectIcons(app, IDC_LISTVIEW2, {0, 0, 0});
  ExpectStatus(app, "3 file(s)");
  Check(app.ItemCount(IDC_LISTVIEW1) == 0, "the drop reached the archive list too");
}

void DropDuplicateStops() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string a = S("drop\\a.zip"), b = S("drop\\b.zip"), c = S("drop\\c.zip");
  app.Drop({a});
  app.Drop({b, a, c});
  ExpectCaptions(app, IDC_LISTVIEW1, {a, b}, "dropping b, a (listed already), c");
  ExpectStatus(app, "2 archive(s)");
  app.SwitchPage(1);
  const std::string txt = S("drop\\notes.txt");
  app.Drop({txt, txt, a});
  ExpectCaptions(app, IDC_LISTVIEW2, {txt}, "a drop that names the same file twice on \"Files to Zip\"");
}

// A real drag through the X server: the host helper plays the XDND source.
void XdndDrag() {
  QuarnApp app(g.exe);
  app.Start();
  app.SwitchPage(1);
  const RECT r = WindowRect(app.Control(IDC_LISTVIEW2));
  const std::string txt = S("drop\\notes.txt"), three = S("zipin\\three 3.txt");
  std::string reply;
  Require(HostRequest(Format("xdnd %ld %ld\n%s\n%s\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2, txt.c_str(),
                             three.c_str()),
                      &reply, 20000),
          "the host helper did not answer the drag request");
  if (reply.compare(0, 4, "SKIP") == 0) SkipCase(reply.substr(5, reply.find('\n') - 5));
  Check(reply.compare(0, 2, "OK") == 0, "the drag did not complete: %s", Visible(reply).c_str());
  ExpectCaptions(app, IDC_LISTVIEW2, {txt, three}, "two files dragged onto \"Files to Zip\" through XDND");
  ExpectStatus(app, "2 file(s)");
}

// A real right click on the archive list, then a click on the menu's first item.
void RightClickMenu() {
  QuarnApp app(g.exe);
  app.Start();
  const RECT r = WindowRect(app.Control(IDC_LISTVIEW1));
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  auto click = [&](int x, int y, DWORD down, DWORD up) {
    INPUT in[3] = {};
    for (INPUT& i : in) {
      i.type = INPUT_MOUSE;
      i.mi.dx = (x * 65535) / (sw - 1);
      i.mi.dy = (y * 65535) / (sh - 1);
    }
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags = down | MOUSEEVENTF_ABSOLUTE;
    in[2].mi.dwFlags = up | MOUSEEVENTF_ABSOLUTE;
    return SendInput(3, in, sizeof(INPUT)) == 3;
  };
  // Wine under Xvfb now and then loses a synthetic click on a menu: the menu
  // stays open, or closes as if clicked outside. Either is tried once more; a
  // menu whose item opens no dialog twice is a failure.
  HWND dlg = nullptr;
  for (int attempt = 1; dlg == nullptr; ++attempt) {
    Require(click((r.left + r.right) / 2, (r.top + r.bottom) / 2, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP),
            "SendInput refused the right click");
    // The menu window shows before its thread starts tracking the mouse; a click
    // that comes between the two closes the menu. Tracking has begun once the
    // thread is in menu mode (it has a menu owner).
    HWND menu = nullptr;
    WaitOrAbort(
        [&] {
          const std::vector<HWND> m = TopWindows(app.pid(), "#32768");
          menu = m.empty() ? nullptr : m[0];
          GUITHREADINFO gti{};
          gti.cbSize = sizeof gti;
          return menu != nullptr && GetGUIThreadInfo(GetWindowThreadProcessId(menu, nullptr), &gti) &&
                 gti.hwndMenuOwner != nullptr;
        },
        5000, "a context menu after a right click on the archive list, tracking the mouse");
    const RECT mr = WindowRect(menu);
    Require(click(mr.left + 25, mr.top + 10, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP),
            "SendInput refused the click on the menu");
    const auto menuShown = [&] { return IsWindow(menu) && IsWindowVisible(menu); };
    WaitUntil([&] { return (dlg = app.FileDialog()) != nullptr || !menuShown(); }, 3000);
    if (dlg == nullptr && menuShown()) {
      Require(attempt < 2, "the context menu stayed open after two clicks on its first item");
      Note("the first click on the menu's item was lost; clicked again");
      Require(click(mr.left + 25, mr.top + 10, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP),
              "SendInput refused the click on the menu");
      WaitUntil([&] { return !menuShown(); }, 3000);
    }
    WaitUntil([&] { return (dlg = app.FileDialog()) != nullptr; }, 10000);
    if (dlg == nullptr) {
      Require(attempt < 2, "no file dialog after the context menu's first item was clicked, twice");
      Note("the context menu closed without opening the dialog; right-clicked again");
    }
  }
  const std::string archive = S("arch\\nested1.zip");
  app.AnswerFileDialog(dlg, archive, true);
  ExpectCaptions(app, IDC_LISTVIEW1, {archive}, "an archive added through the context menu's first item");
  ExpectIcons(app, IDC_LISTVIEW1, {0});
}

// --- unzip

void UnzipIntoChosenFolder() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string out = S("out\\chosen");
  RemoveTree(out);
  const std::string n1 = S("arch\\nested1.zip"), n2 = S("arch\\nested2.zip");
  app.Drop({n1, n2});
  ExpectCaptions(app, IDC_LISTVIEW1, {n1, n2}, "two archives dropped");
  ChooseDestination(app, out);
  app.Click(IDC_BITBTN1);
  WaitCommandEnd(app, IDC_LISTVIEW1, 30000, "Unzip of two archives");
  ExpectNoBox(app, "after Unzip");
  ExpectTree(S("src\\nested1"), JoinPath(out, "nested1"));
  ExpectTree(S("src\\nested2"), JoinPath(out, "nested2"));
  const std::vector<std::string> top = ListTree(out);
  size_t topLevel = 0;
  for (const std::string& p : top)
    if (p.find('\\') == p.size() - 1 || p.find('\\') == std::string::npos) ++topLevel;
  Check(topLevel == 2, "the destination holds %u entries at its top, expected the 2 archive folders",
        static_cast<unsigned>(topLevel));
  Check(TextOf(app.Control(IDC_EDIT1)) == out, "the destination changed to \"%s\" during Unzip",
        TextOf(app.Control(IDC_EDIT1)).c_str());
}

void UnzipEmptyListAsks() {
  QuarnApp app(g.exe);
  app.Start();
  WaitUntil([&] { return TextOf(app.Control(IDC_EDIT1)) == g.desktop; }, 5000);
  const std::string out = JoinPath(g.desktop, "nested2");
  RemoveTree(out);
  app.Click(IDC_BITBTN1);
  HWND dlg = app.WaitFileDialog(10000, "add archives (Unzip with an empty list)");
  app.AnswerFileDialog(dlg, S("arch\\nested2.zip"), true);
  WaitOrAbort([&] { return DirExists(out); }, 20000, "the archive chosen in the add dialog to be extracted");
  WaitCommandEnd(app, IDC_LISTVIEW1, 30000, "Unzip of the archive chosen in the add dialog");
  ExpectTree(S("src\\nested2"), out);
  RemoveTree(out);
}

void UnzipFailureNamesArchive() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string out = S("out\\failing");
  RemoveTree(out);
  const std::string good = S("arch\\good.zip"), broken = S("arch\\broken.zip"), after = S("arch\\after.zip");
  app.Drop({good, broken, after});
  ExpectCaptions(app, IDC_LISTVIEW1, {good, broken, after}, "three archives dropped");
  ChooseDestination(app, out);
  app.Click(IDC_BITBTN1);
  // One box after the walk names every archive that failed, with the reason.
  HWND report = app.WaitMessageBox(30000, "the report after the walk");
  const std::string reportText = app.BoxText(report), reportCaption = TextOf(report);
  const RECT boxRect = WindowRect(report);
  app.CloseBox(report);
  Check(reportCaption == "Error", "report caption \"%s\", expected \"Error\"", reportCaption.c_str());
  const int cx = (boxRect.left + boxRect.right) / 2, cy = (boxRect.top + boxRect.bottom) / 2;
  const int sx = GetSystemMetrics(SM_CXSCREEN) / 2, sy = GetSystemMetrics(SM_CYSCREEN) / 2;
  Check(abs(cx - sx) <= 2 && abs(cy - sy) <= 2, "the error box's centre is at %d, %d; expected the screen's %d, %d", cx,
        cy, sx, sy);
  Check(reportText.find(broken + ": CRC Error in \"second.txt\".") != std::string::npos,
        "the report does not name %s with its reason: \"%s\"", broken.c_str(), Visible(reportText).c_str());
  Check(reportText.find(good) == std::string::npos && reportText.find(after) == std::string::npos,
        "the report names archives that did not fail: \"%s\"", Visible(reportText).c_str());
  WaitOrAbort([&] { return app.ItemCount(IDC_LISTVIEW1) == 0; }, 10000,
              "the archive list to be emptied after the error");
  ExpectNoBox(app, "after the report");
  ExpectTree(S("src\\good"), JoinPath(out, "good"));
  // The corrupt archive's first member comes before the damage.
  std::string want1, got1;
  ReadWholeFile(S("src\\broken\\first.txt"), &want1);
  Check(ReadWholeFile(JoinPath(out, "broken\\first.txt"), &got1) && got1 == want1,
        "the member before the damaged one was not extracted intact");
  Check(!FileExists(JoinPath(out, "broken\\third.txt")), "a member after the damaged one was extracted");
  ExpectTree(S("src\\after"), JoinPath(out, "after"));  // the walk went on
}

// 7z and RAR extraction: on once the build does them (--kinds).
void UnzipOtherKind(const char* kind, const std::string& archive, const std::string& source) {
  if (!g.kinds.count(kind)) SkipCase(std::string(kind) + " extraction is not enabled for this run (--kinds)");
  Require(FileExists(archive), "fixture %s is missing", archive.c_str());
  QuarnApp app(g.exe);
  app.Start();
  const std::string out = S(std::string("out\\") + kind);
  RemoveTree(out);
  app.Drop({archive});
  ExpectCaptions(app, IDC_LISTVIEW1, {archive}, "archive dropped");
  ChooseDestination(app, out);
  app.Click(IDC_BITBTN1);
  WaitCommandEnd(app, IDC_LISTVIEW1, 30000, "Unzip");
  ExpectNoBox(app, "after Unzip");
  std::string base = BaseName(archive);
  base = base.substr(0, base.rfind('.'));
  ExpectTree(source, JoinPath(out, base));
}
// Any name: archives named in Cyrillic and Japanese, dropped, listed and
// extracted into a destination with accents, their members (Latin with
// accents, Greek, Cyrillic, Japanese, Chinese, Hebrew, an emoji outside the
// BMP, a combining accent) each under its exact name.
void UnzipAnyName() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string out = S("out\\Déjà vu");
  RemoveTree(out);
  // Copied to a short folder, so that the list shows the names whole.
  CreateDirectoryA("C:\\q", nullptr);
  const std::string photos = "C:\\q\\Фото 2024.zip", japanese = "C:\\q\\日本の写真.zip";
  Require(CopyFileA(S("arch\\Фото 2024.zip").c_str(), photos.c_str(), FALSE) &&
              CopyFileA(S("arch\\日本の写真.zip").c_str(), japanese.c_str(), FALSE),
          "the Unicode fixtures are missing");
  app.Drop({photos, japanese});
  ExpectCaptions(app, IDC_LISTVIEW1, {photos, japanese}, "archives with Cyrillic and Japanese names dropped");
  ExpectSizes(app, IDC_LISTVIEW1, {photos, japanese});
  RequestScreenshot("unicode_archive_list");
  ChooseDestination(app, out);
  app.Click(IDC_BITBTN1);
  WaitCommandEnd(app, IDC_LISTVIEW1, 30000, "Unzip of the Unicode archives");
  ExpectNoBox(app, "after Unzip");
  ExpectTree(S("src\\unicode"), JoinPath(out, "Фото 2024"));
  ExpectTree(S("src\\unicode"), JoinPath(out, "日本の写真"));
}

// An encrypted 7z and an encrypted RAR (names encrypted too) in one walk: the
// password dialog asks once, masked; the password typed there opens both.
void UnzipEncrypted() {
  if (!g.kinds.count("7z") || !g.kinds.count("rar")) SkipCase("7z and RAR extraction are not enabled for this run");
  QuarnApp app(g.exe);
  app.Start();
  const std::string out = S("out\\locked");
  RemoveTree(out);
  const std::string sev = S("arch\\locked-7z.7z"), rar = S("arch\\locked-rar.rar");
  app.Drop({sev, rar});
  ChooseDestination(app, out);
  app.Click(IDC_BITBTN1);
  HWND dlg = nullptr;
  WaitOrAbort([&] { return !(TopWindows(app.pid(), QUARN_PASSWORD_CLASS).empty()); }, 20000, "the password dialog");
  dlg = TopWindows(app.pid(), QUARN_PASSWORD_CLASS)[0];
  HWND edit = GetDlgItem(dlg, IDC_PASSWORD_EDIT);
  Require(edit != nullptr, "the password dialog has no edit");
  Check(GetWindowLongA(edit, GWL_STYLE) & ES_PASSWORD, "the password is shown as typed, not masked");
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Quarn-2026"));
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
  WaitCommandEnd(app, IDC_LISTVIEW1, 30000, "Unzip of the encrypted archives");
  ExpectNoBox(app, "after Unzip");
  Check(TopWindows(app.pid(), QUARN_PASSWORD_CLASS).empty(), "the password was asked for more than once");
  ExpectTree(S("src\\nested2"), JoinPath(out, "locked-7z"));
  ExpectTree(S("src\\nested2"), JoinPath(out, "locked-rar"));
}

// Archives of every engine in one walk (zip, RAR with a volume set, 7z, and of
// the all-format library a tar.gz, a tar.xz, an ISO, a CAB and a compressed
// file), with a damaged RAR and 7z: the good ones land in their folders, the
// damaged ones are named in one report after the walk, which went on past them.
void UnzipAllKinds() {
  if (!g.kinds.count("7z") || !g.kinds.count("rar")) SkipCase("7z and RAR extraction are not enabled for this run");
  QuarnApp app(g.exe);
  app.Start();
  const std::string out = S("out\\all");
  RemoveTree(out);
  const std::string zip = S("arch\\nested2.zip"), rar = S("arch\\rarred.rar"), sev = S("arch\\seven.7z");
  const std::string badRar = S("arch\\rar-broken.rar"), bad7z = S("arch\\seven-broken.7z");
  const std::string volume = S("arch\\spread.part1.rar");
  const std::string tgz = S("arch\\tarred.tar.gz"), txz = S("arch\\tarred2.tar.xz"), iso = S("arch\\disc.iso");
  const std::string cab = S("arch\\driver.cab"), gz = S("arch\\notes.txt.gz");
  // A set of pieces dropped with its second part, and a zip of another method.
  const std::string parted = S("arch\\parted.7z.001"), parted2 = S("arch\\parted.7z.002");
  const std::string zipx = S("arch\\bzipped.zipx");
  const std::vector<std::string> all = {badRar, zip, bad7z, rar, volume,  sev,    tgz,
                                        txz,    iso, cab,   gz,  parted2, parted, zipx};
  app.Drop(all);
  ExpectCaptions(app, IDC_LISTVIEW1, all, "the archives of every family dropped");
  ChooseDestination(app, out);
  app.Click(IDC_BITBTN1);
  HWND report = app.WaitMessageBox(60000, "the report after the walk");
  const std::string text = app.BoxText(report);
  app.CloseBox(report);
  Check(text.find(badRar + ": ") != std::string::npos, "the report does not name %s: \"%s\"", badRar.c_str(),
        Visible(text).c_str());
  Check(text.find(bad7z + ": ") != std::string::npos, "the report does not name %s: \"%s\"", bad7z.c_str(),
        Visible(text).c_str());
  for (const std::string& fine : {zip, rar, volume, sev, tgz, txz, iso, cab, gz, parted2, parted, zipx})
    Check(text.find(fine + ":") == std::string::npos, "the report names %s, which extracted fine", fine.c_str());
  WaitCommandEnd(app, IDC_LISTVIEW1, 30000, "Unzip of the archives of every family");
  ExpectNoBox(app, "after the report");
  ExpectTree(S("src\\nested2"), JoinPath(out, "nested2"));
  ExpectTree(S("src\\nested2"), JoinPath(out, "rarred"));
  ExpectTree(S("src\\nested1"), JoinPath(out, "seven"));
  ExpectTree(S("src\\volume"), JoinPath(out, "spread"));  // a set is named after the set
  ExpectTree(S("src\\nested1"), JoinPath(out, "parted"));
  ExpectTree(S("src\\nested2"), JoinPath(out, "bzipped"));
  // A compressed tarball lands in one step, a compressed file as its file.
  ExpectTree(S("src\\nested1"), JoinPath(out, "tarred"));
  ExpectTree(S("src\\nested2"), JoinPath(out, "tarred2"));
  ExpectTree(S("src\\nested2"), JoinPath(out, "disc"));
  ExpectTree(S("src\\nested2"), JoinPath(out, "driver"));
  ExpectTree(S("src\\single"), JoinPath(out, "notes.txt"));
}

// A copy of quarn.exe without the engine DLLs beside it: the RAR and the 7z
// archive are named in the one report after the walk, which went on.
void UnzipWithoutEngines() {
  const std::string alone = S("alone\\quarn.exe");
  CreateDirectoryA(S("alone").c_str(), nullptr);
  Require(CopyFileA(g.exe.c_str(), alone.c_str(), FALSE) != 0, "cannot copy quarn.exe to %s", alone.c_str());
  Require(!FileExists(S("alone\\7za.dll")) && !FileExists(S("alone\\unrar.dll")), "engine DLLs beside the copy");
  QuarnApp app(alone);
  app.Start();
  const std::string out = S("out\\alone");
  RemoveTree(out);
  const std::string rar = S("arch\\rarred.rar"), sev = S("arch\\seven.7z"), after = S("arch\\after.zip");
  app.Drop({rar, sev, after});
  ChooseDestination(app, out);
  app.Click(IDC_BITBTN1);
  HWND report = app.WaitMessageBox(30000, "the report after the walk");
  const std::string reportText = app.BoxText(report);
  app.CloseBox(report);
  Check(reportText.find(rar + ": UnRar.Dll not loaded") != std::string::npos,
        "the report does not say that unrar.dll is missing: \"%s\"", Visible(reportText).c_str());
  Check(reportText.find(sev + ": Could not load CreateObject function from 7za.dll") != std::string::npos,
        "the report does not say that 7za.dll is missing: \"%s\"", Visible(reportText).c_str());
  WaitCommandEnd(app, IDC_LISTVIEW1, 30000, "Unzip without engines");
  // Nothing was written for them: no empty folder stays behind.
  Check(!DirExists(JoinPath(out, "rarred")) && !DirExists(JoinPath(out, "seven")),
        "an empty output folder of an archive that yielded nothing stayed");
  ExpectTree(S("src\\after"), JoinPath(out, "after"));
}

void Unzip7z() { UnzipOtherKind("7z", S("arch\\seven.7z"), S("src\\nested1")); }
void UnzipRar() { UnzipOtherKind("rar", S("arch\\rarred.rar"), S("src\\nested2")); }

// --- extraction beside the archives

// One start of quarn.exe, made on a thread of its own once go is set.
struct TStart {
  std::string args;
  HANDLE go;
  PROCESS_INFORMATION pi;
  bool ok;
  DWORD error;
  int retried;  // starts Wine itself failed to create, made again
};

DWORD WINAPI StartWhenReleased(void* p) {
  TStart& s = *static_cast<TStart*>(p);
  WaitForSingleObject(s.go, INFINITE);
  // Wine, starting many processes at once, now and then fails to create one
  // (ERROR_INTERNAL_ERROR) before any of the program has run: such a start
  // is made again, as a user would click again; it is counted, not hidden.
  for (int attempt = 0; attempt < 5; ++attempt) {
    s.ok = StartProgram(g.exe, &s.pi, s.args, FolderOf(g.exe));
    s.error = s.ok ? 0 : GetLastError();
    if (s.ok || s.error != ERROR_INTERNAL_ERROR) break;
    ++s.retried;
    Sleep(200);
  }
  return 0;
}

// Many starts of "quarn.exe /extract-here <archive>" at once, as Explorer
// makes them for a selection (one process per file): the first becomes the
// window, the others hand their archive over to it. Every archive lands once
// in a folder beside it (a folder of the user's there already: the next free
// name), one window serves them all and answers throughout, every start ends
// by itself, and so does the window when all went well. The burst is repeated
// (QUARN_E2E_BURSTS times, 2 unless said): a hand-over lost to a race shows
// as an archive without its folder.
void ExtractHereBurstOnce(int Round, int kStarts);
void ExtractHereBurst() {
  char text[16] = "";
  const int rounds = GetEnvironmentVariableA("QUARN_E2E_BURSTS", text, sizeof text) > 0 ? atoi(text) : 2;
  for (int round = 0; round < rounds; ++round) ExtractHereBurstOnce(round, 30);
}

void ExtractHereBurstOnce(int Round, int kStarts) {
  const std::string dir = S(Format("out\\burst%d", Round));
  RemoveTree(dir);
  CreateDirectoryA(S("out").c_str(), nullptr);
  Require(CreateDirectoryA(dir.c_str(), nullptr) != 0, "cannot make %s", dir.c_str());
  std::vector<std::string> archives, folders;
  for (int i = 0; i < kStarts; ++i) {
    const std::string name = Format("burst-%02d", i);
    std::string from;
    for (const char* ext : {".zip", ".7z", ".rar"})
      if (FileExists(S("burst\\" + name + ext))) from = S("burst\\" + name + ext);
    Require(!from.empty(), "fixture %s is missing", name.c_str());
    archives.push_back(JoinPath(dir, BaseName(from)));
    Require(CopyFileA(from.c_str(), archives.back().c_str(), FALSE) != 0, "cannot copy %s", from.c_str());
    folders.push_back(JoinPath(dir, i == 0 ? name + " (2)" : name));
  }
  // A folder of the user's where the first archive's folder would go.
  const std::string mine = JoinPath(dir, "burst-00\\mine.txt");
  CreateDirectoryA(JoinPath(dir, "burst-00").c_str(), nullptr);
  Require(WriteWholeFile(mine, "the user's own"), "cannot write %s", mine.c_str());
  Require(TopWindows(0, QUARN_MAIN_CLASS, false).empty(), "a Quarn window is open before the starts");

  // The starts, from threads released at once.
  std::vector<TStart> starts(kStarts);
  const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> threads;
  for (int i = 0; i < kStarts; ++i) {
    starts[i] = TStart{"/extract-here \"" + archives[i] + "\"", go, {}, false, 0, 0};
    threads.push_back(CreateThread(nullptr, 0, StartWhenReleased, &starts[i], 0, nullptr));
  }
  SetEvent(go);
  WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 30000);
  for (HANDLE t : threads) CloseHandle(t);
  CloseHandle(go);
  // How close together the starts were: their processes' creation times.
  uint64_t first = UINT64_MAX, last = 0;
  std::vector<HANDLE> processes;
  int retried = 0;
  for (const TStart& st : starts) {
    retried += st.retried;
    Check(st.ok, "a start of quarn.exe failed (error %lu)", static_cast<unsigned long>(st.error));
    if (!st.ok) continue;
    processes.push_back(st.pi.hProcess);
    CloseHandle(st.pi.hThread);
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(st.pi.hProcess, &created, &exited, &kernel, &user)) {
      const uint64_t t = (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
      first = std::min(first, t);
      last = std::max(last, t);
    }
  }
  printf("      %u starts released at once, their processes created within %lu ms%s\n",
         static_cast<unsigned>(processes.size()),
         static_cast<unsigned long>(last >= first ? (last - first) / 10000 : 0),
         retried == 0 ? "" : Format(" (%d refused by Wine and made again)", retried).c_str());
  fflush(stdout);

  // Watched until every start and the window have ended: never a second
  // window, and the one there answers every time it is asked.
  std::set<DWORD> windows;
  bool shot = false, answered = true;
  QuarnApp window(g.exe);
  const bool ended = WaitUntil(
      [&] {
        const std::vector<HWND> mains = TopWindows(0, QUARN_MAIN_CLASS, false);
        Check(mains.size() <= 1, "%u main windows are open at once", static_cast<unsigned>(mains.size()));
        for (HWND main : mains) {
          windows.insert(PidOf(main));
          bool ok = false;
          Send(main, WM_NULL, 0, 0, &ok, 5000);
          if (!ok && IsWindow(main)) answered = false;
          // A picture of the window at work, once.
          if (!shot && window.main() != main) window.Attach(main);
          // A walk is on while the last panel names the folder it fills;
          // asked so that a window closing meanwhile is no failure.
          bool told = false;
          const LRESULT notice = !shot && window.main() == main
                                     ? Send(window.Control(IDC_STATUSBAR1), SB_GETTEXTLENGTHA, 2, 0, &told, 5000)
                                     : 0;
          if (told && LOWORD(notice) > 0) {
            RequestScreenshot("extract_here_batch");
            shot = true;
          }
        }
        for (HANDLE p : processes)
          if (WaitForSingleObject(p, 0) != WAIT_OBJECT_0) return false;
        return mains.empty();
      },
      120000);
  Check(answered, "the window did not answer within 5 s while it extracted");
  Check(ended, "the starts or the window still run after 120 s (%u windows seen)",
        static_cast<unsigned>(windows.size()));
  // Mostly one window serves the burst; a start that Wine was slow to list
  // as a running copy of the program can come after that window closed, and
  // then serves itself (never two windows at once, checked above).
  if (windows.size() > 1)
    printf("      served by %u windows, one after another\n", static_cast<unsigned>(windows.size()));
  int failedStarts = 0;
  for (HANDLE p : processes) {
    DWORD code = 1;
    if (!GetExitCodeProcess(p, &code) || code != 0) ++failedStarts;
    CloseHandle(p);
  }
  Check(failedStarts == 0, "%d start(s) of quarn.exe ended with an error", failedStarts);
  if (!ended) {
    if (HWND box = window.MessageBoxWindow()) Note("a box says \"%s\"", Visible(window.BoxText(box)).c_str());
    return;
  }

  // Each archive once, in its own folder; the user's folder as it was.
  for (int i = 0; i < kStarts; ++i) {
    ExpectTree(S("src\\good"), folders[i]);
    Check(!DirExists(folders[i] + (i == 0 ? " (3)" : " (2)")), "%s was extracted twice", BaseName(archives[i]).c_str());
  }
  Check(ListTree(JoinPath(dir, "burst-00")) == std::vector<std::string>{"mine.txt"},
        "the user's folder burst-00 was changed");
  Check(
      ListTree(dir).size() > 0 &&
          [&] {
            size_t top = 0;
            for (const std::string& p : ListTree(dir))
              if (p.find('\\') == std::string::npos || p.find('\\') == p.size() - 1) ++top;
            return top == static_cast<size_t>(2 * kStarts + 1);
          }(),
      "the folder holds other things than the archives, their folders and the user's folder");
}

// The shell verbs the installer registered, run as Explorer runs them: the
// command of the verb, "%1" replaced by the archive's path, started as it
// stands. "Extract each to its own folder" puts each kind's archive into a
// folder beside it (in a folder whose name has a blank), "Add to Quarn's list"
// hands an archive to the running window's list. Needs an installed Quarn.
void ShellVerbs() {
  auto command = [](const std::string& ext, const char* verb) {
    const std::string key = "Software\\Classes\\SystemFileAssociations\\" + ext + "\\shell\\" + verb + "\\command";
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      char value[2048] = "";
      DWORD size = sizeof value;
      if (RegGetValueA(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS)
        return std::string(value);
    }
    Fail("no command for %s of %s files is registered", verb, ext.c_str());
    throw CaseAbort();
  };
  auto run = [](const std::string& registered, const std::string& archive) {
    std::string line = registered;
    const size_t at = line.find("%1");
    Require(at != std::string::npos, "the command \"%s\" has no %%1", registered.c_str());
    line.replace(at, 2, archive);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    Require(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, FolderOf(archive).c_str(), &si,
                           &pi) != 0,
            "cannot start \"%s\"", line.c_str());
    CloseHandle(pi.hThread);
    return pi.hProcess;
  };
  const std::string dir = S("out\\verb test");
  RemoveTree(dir);
  CreateDirectoryA(S("out").c_str(), nullptr);
  CreateDirectoryA(dir.c_str(), nullptr);
  const struct {
    const char* Kind;
    const char* Archive;
    const char* Source;
    const char* Folder;
    const char* Engine;  // the kind of this run's archives that it needs
  } kinds[] = {{".zip", "good.zip", "good", "good", "zip"},
               {".7z", "seven.7z", "nested1", "seven", "7z"},
               {".rar", "rarred.rar", "nested2", "rarred", "rar"},
               {".001", "parted.7z.001", "nested1", "parted", "7z"},
               {".zipx", "bzipped.zipx", "nested2", "bzipped", "7z"}};
  for (const auto& k : kinds) {
    if (!g.kinds.count(k.Engine)) continue;
    const std::string archive = JoinPath(dir, k.Archive);
    Require(CopyFileA(S(std::string("arch\\") + k.Archive).c_str(), archive.c_str(), FALSE) != 0,
            "fixture %s is missing", k.Archive);
    // The later parts of a set lie beside its first.
    for (int n = 2; std::string(k.Kind) == ".001"; ++n) {
      const std::string part = std::string(k.Archive).substr(0, std::strlen(k.Archive) - 3) + "00" + std::to_string(n);
      if (CopyFileA(S("arch\\" + part).c_str(), JoinPath(dir, part).c_str(), FALSE) == 0) break;
    }
    const HANDLE process = run(command(k.Kind, "Quarn.ExtractHere"), archive);
    const bool ended = WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process, 97);
    CloseHandle(process);
    Check(ended, "Quarn still runs 30 s after the extract verb on %s", k.Archive);
    ExpectTree(S(std::string("src\\") + k.Source), JoinPath(dir, k.Folder));
  }

  QuarnApp app(g.exe);
  app.Start();
  const std::string archive = JoinPath(dir, "good.zip");
  const HANDLE process = run(command(".zip", "Quarn.AddToList"), archive);
  Check(WaitForSingleObject(process, 30000) == WAIT_OBJECT_0, "the start of the list verb did not end");
  CloseHandle(process);
  ExpectCaptions(app, IDC_LISTVIEW1, {archive}, "the archive list after the verb \"Add to Quarn's list\"");
}

// --- zip

void ZipFilesFromDialog() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string archive = JoinPath(g.desktop, "quarn.zip");
  RemoveTree(archive);
  WaitUntil([&] { return TextOf(app.Control(IDC_EDIT2)) == archive; }, 5000);
  app.SwitchPage(1);
  app.Command(IDM_MENUITEM1);
  HWND dlg = app.WaitFileDialog(10000, "add files");
  app.AnswerFileDialog(dlg, S("zipin"), false);
  app.AnswerFileDialog(dlg, "\"one.txt\" \"two.bin\" \"three 3.txt\" \"empty.txt\"", true);
  const std::vector<std::string> files = {S("zipin\\one.txt"), S("zipin\\two.bin"), S("zipin\\three 3.txt"),
                                          S("zipin\\empty.txt")};
  ExpectCaptions(app, IDC_LISTVIEW2, files, "four files chosen in the add dialog");
  ExpectSizes(app, IDC_LISTVIEW2, files);
  ExpectIcons(app, IDC_LISTVIEW2, {2, 2, 2, 2});
  ExpectStatus(app, "4 file(s)");
  app.Click(IDC_BITBTN6);
  WaitCommandEnd(app, IDC_LISTVIEW2, 30000, "Zip of four files");
  ExpectNoBox(app, "after Zip");
  ExpectZip(archive, files);
  Check(TextOf(app.Control(IDC_EDIT2)) == archive, "the save-as field changed to \"%s\"",
        TextOf(app.Control(IDC_EDIT2)).c_str());
  RemoveTree(archive);
}

void ZipEmptyListMessage() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string archive = JoinPath(g.desktop, "quarn.zip");
  RemoveTree(archive);
  app.SwitchPage(1);
  app.Click(IDC_BITBTN6);
  ExpectBox(app, "Information", "Please select at least one file first !", "Zip with an empty list");
  Check(app.FileDialog() == nullptr, "Zip with an empty list opened a file dialog");
  Check(!FileExists(archive), "Zip with an empty list wrote %s", archive.c_str());
}

void ZipExistingNameNewName() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string existing = JoinPath(g.desktop, "quarn.zip"), marker = "an archive the user already has";
  Require(WriteWholeFile(existing, marker), "cannot write %s", existing.c_str());
  const std::string renamed = S("out\\renamed.zip");
  RemoveTree(renamed);
  CreateDirectoryA(S("out").c_str(), nullptr);
  WaitUntil([&] { return TextOf(app.Control(IDC_EDIT2)) == existing; }, 5000);
  app.SwitchPage(1);
  const std::vector<std::string> files = {S("zipin\\one.txt"), S("zipin\\two.bin")};
  app.Drop(files);
  ExpectCaptions(app, IDC_LISTVIEW2, files, "two files dropped");
  app.Click(IDC_BITBTN6);
  ExpectBox(app, "Information", "File already exists !\r\nPlease choose another filename .",
            "Zip onto an existing file");
  HWND dlg = app.WaitFileDialog(10000, "save-as (after \"File already exists !\")");
  app.AnswerFileDialog(dlg, renamed, true);
  WaitCommandEnd(app, IDC_LISTVIEW2, 30000, "Zip under the new name");
  ExpectZip(renamed, files);
  Check(TextOf(app.Control(IDC_EDIT2)) == renamed, "the save-as field shows \"%s\", expected \"%s\"",
        TextOf(app.Control(IDC_EDIT2)).c_str(), renamed.c_str());
  std::string now;
  Check(ReadWholeFile(existing, &now) && now == marker, "the existing %s was changed", existing.c_str());
  RemoveTree(existing);
}

void ZipExistingNameTwice() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string existing = JoinPath(g.desktop, "quarn.zip"), marker = "an archive the user already has";
  const std::string taken = S("out\\taken.zip"), marker2 = "another one";
  CreateDirectoryA(S("out").c_str(), nullptr);
  Require(WriteWholeFile(existing, marker) && WriteWholeFile(taken, marker2), "cannot write the existing archives");
  app.SwitchPage(1);
  const std::vector<std::string> files = {S("zipin\\one.txt")};
  app.Drop(files);
  ExpectCaptions(app, IDC_LISTVIEW2, files, "one file dropped");

  // Another existing name chosen in the dialog.
  app.Click(IDC_BITBTN6);
  ExpectBox(app, "Information", "File already exists !\r\nPlease choose another filename .",
            "Zip onto an existing file");
  HWND dlg = app.WaitFileDialog(10000, "save-as");
  app.AnswerFileDialog(dlg, taken, true);
  ExpectBox(app, "Information", "No archive was created !", "a second existing name chosen");
  ExpectCaptions(app, IDC_LISTVIEW2, files, "after \"No archive was created !\"");

  // The dialog cancelled.
  app.Click(IDC_BITBTN6);
  ExpectBox(app, "Information", "File already exists !\r\nPlease choose another filename .", "Zip again");
  dlg = app.WaitFileDialog(10000, "save-as");
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)));
  ExpectBox(app, "Information", "No archive was created !", "the save dialog cancelled");
  ExpectCaptions(app, IDC_LISTVIEW2, files, "after the cancelled save dialog");

  std::string now;
  Check(ReadWholeFile(existing, &now) && now == marker, "%s was changed", existing.c_str());
  Check(ReadWholeFile(taken, &now) && now == marker2, "%s was changed", taken.c_str());
  RemoveTree(existing);
  RemoveTree(taken);
}

// --- registry, help, keys

void WindowPositionKept() {
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quarn");
  {
    QuarnApp app(g.exe);
    app.Start();
    const RECT r0 = WindowRect(app.main());
    Check(r0.left == 100 && r0.top == 100, "without stored values the window opened at %ld, %ld", r0.left, r0.top);
    SetWindowPos(app.main(), nullptr, 240, 160, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    WaitOrAbort([&] { return WindowRect(app.main()).left == 240 && WindowRect(app.main()).top == 160; }, 5000,
                "the window to move to 240, 160");
    app.Click(IDC_BITBTN4);
    Require(app.WaitExit(10000), "quarn.exe still runs 10 s after Exit");
  }
  DWORD top = 0, left = 0;
  const bool haveTop = RegistryDword("top", &top), haveLeft = RegistryDword("left", &left);
  Check(haveTop && top == 160, "HKCU\\Software\\Quarn top is %s, expected the REG_DWORD 160",
        haveTop ? std::to_string(top).c_str() : "missing or not a REG_DWORD");
  Check(haveLeft && left == 240, "HKCU\\Software\\Quarn left is %s, expected the REG_DWORD 240",
        haveLeft ? std::to_string(left).c_str() : "missing or not a REG_DWORD");
  {
    QuarnApp app(g.exe);
    app.Start();
    const RECT r = WindowRect(app.main());
    Check(r.left == 240 && r.top == 160, "the next start opened at %ld, %ld, expected the stored 240, 160", r.left,
          r.top);
    // Closing through the system menu stores the position as well.
    SetWindowPos(app.main(), nullptr, 120, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageA(app.main(), WM_SYSCOMMAND, SC_CLOSE, 0);
    Require(app.WaitExit(10000), "quarn.exe still runs 10 s after the system menu's Close");
  }
  Check(RegistryDword("top", &top) && top == 90 && RegistryDword("left", &left) && left == 120,
        "after a close from the system menu the stored position is %lu, %lu, expected left 120, top 90", left, top);
  // Later cases expect the default position.
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quarn");
}

HWND WaitHelpDialog(const QuarnApp& app) {
  HWND dlg = nullptr;
  WaitOrAbort(
      [&] {
        const std::vector<HWND> d = TopWindows(app.pid(), QUARN_HELP_CLASS);
        dlg = d.empty() ? nullptr : d[0];
        return dlg != nullptr;
      },
      10000, "the help dialog to open after Help");
  return dlg;
}

void HelpDialog() {
  QuarnApp app(g.exe);
  app.Start();
  app.Click(IDC_BITBTN3);
  HWND dlg = WaitHelpDialog(app);
  Check(TextOf(dlg) == "License", "help dialog caption \"%s\", expected \"License\"", TextOf(dlg).c_str());
  Check(GetWindow(dlg, GW_OWNER) == app.main(), "the help dialog is not owned by the main window");
  Check(!IsWindowEnabled(app.main()), "the main window stays enabled while the help dialog is up (not modal)");
  HWND tab = FindById(dlg, IDC_FORM5_PAGECONTROL1);
  Require(tab != nullptr, "the help dialog has no page control");
  Check(ClassOf(tab) == WC_TABCONTROLA, "the help dialog's page control is a %s", ClassOf(tab).c_str());
  Check(app.TabCount(tab) == 2 && app.TabText(tab, 0) == "Help" && app.TabText(tab, 1) == "License",
        "help pages are %d: \"%s\", \"%s\"", app.TabCount(tab), app.TabText(tab, 0).c_str(),
        app.TabText(tab, 1).c_str());
  HWND label = FindById(dlg, IDC_FORM5_LABEL1);
  Require(label != nullptr, "the help dialog has no help text label");
  const std::string help = TextOf(label);
  const std::string first = help.substr(0, help.find("\r\n"));
  Check(first == "Quarn is a very user friendly,and easy to use, yet powerful, program", "the help text begins \"%s\"",
        Visible(first).c_str());
  Check(help.find("\r\n") != std::string::npos, "the help text is one line: \"%s\"", Visible(help).c_str());
  HWND memo = FindById(dlg, IDC_FORM5_MEMO1);
  Require(memo != nullptr, "the help dialog has no licence text box");
  const LONG ms = GetWindowLongA(memo, GWL_STYLE);
  Check(ClassOf(memo) == "Edit" && (ms & ES_READONLY) && (ms & ES_MULTILINE),
        "the licence box is a %s with style 0x%08lx, expected a read-only multi-line edit", ClassOf(memo).c_str(), ms);
  Check((ms & WS_VSCROLL) && !(ms & WS_HSCROLL), "the licence box should scroll vertically only (style 0x%08lx)", ms);
  Check(TextOf(memo).size() > 200, "the licence text is %u characters long",
        static_cast<unsigned>(TextOf(memo).size()));
  HWND ok = FindById(dlg, IDC_FORM5_BUTTON1);
  Check(ok && TextOf(ok) == "&OK", "the help dialog's button says \"%s\"", ok ? TextOf(ok).c_str() : "(missing)");

  // Escape closes it.
  app.PressKey(VK_ESCAPE, dlg);
  WaitOrAbort([&] { return !IsWindow(dlg); }, 5000, "the help dialog to close on Escape");
  WaitUntil([&] { return IsWindowEnabled(app.main()) != 0; }, 2000);
  Check(IsWindowEnabled(app.main()), "the main window stays disabled after the help dialog closed");

  // Again, from the License page; then the OK button closes it.
  app.Click(IDC_BITBTN3);
  dlg = WaitHelpDialog(app);
  tab = FindById(dlg, IDC_FORM5_PAGECONTROL1);
  Require(tab != nullptr, "the second help dialog has no page control");
  Send(tab, TCM_SETCURFOCUS, 1, 0);
  memo = FindById(dlg, IDC_FORM5_MEMO1);
  WaitUntil([&] { return memo && IsWindowVisible(memo); }, 3000);
  Check(memo && IsWindowVisible(memo), "the licence text does not show on the License page");
  app.PressKey(VK_ESCAPE, dlg);
  WaitOrAbort([&] { return !IsWindow(dlg); }, 5000, "the help dialog to close on Escape from the License page");
  app.Click(IDC_BITBTN3);
  dlg = WaitHelpDialog(app);
  PostMessageA(FindById(dlg, IDC_FORM5_BUTTON1), BM_CLICK, 0, 0);
  WaitOrAbort([&] { return !IsWindow(dlg); }, 5000, "the help dialog to close on OK");
  Check(app.Running(), "quarn.exe ended with the help dialog");
}

// Paths on the command line go to the lists by their kind, as "Open with" and
// "Send to" give them. A later start with paths hands them to the running
// window (relative ones resolved in its own folder), brings it back from the
// taskbar and ends; while the help dialog is up they wait until it closes.
void CommandLineAndHandOver() {
  const std::string a = S("drop\\a.zip"), txt = S("drop\\notes.txt"), rar = S("drop\\d.rar");
  QuarnApp app(g.exe);
  app.Start("\"" + a + "\" \"" + txt + "\" \"" + rar + "\"");
  ExpectCaptions(app, IDC_LISTVIEW1, {a, rar}, "archives on the command line");
  ExpectIcons(app, IDC_LISTVIEW1, {0, 1});
  ExpectCaptions(app, IDC_LISTVIEW2, {txt}, "a text file on the command line");
  Check(Send(app.Control(IDC_PAGECONTROL1), TCM_GETCURSEL, 0, 0) == 0 && IsWindowVisible(app.Control(IDC_LISTVIEW1)),
        "the archive page, which received the first path, is not the one in view");
  ExpectStatus(app, "2 archive(s)");

  PostMessageA(app.main(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Require(WaitUntil([&] { return IsIconic(app.main()) != 0; }, 5000), "the main window did not minimise");
  const std::string three = S("zipin\\three 3.txt"), b = S("drop\\b.zip");
  {
    LaterStart second("\"..\\zipin\\three 3.txt\" b.zip", S("drop"));
    Check(second.WaitExit(10000), "the second quarn.exe was still running after 10 s");
    Check(!second.sawWindow, "the second quarn.exe showed a window");
  }
  ExpectCaptions(app, IDC_LISTVIEW1, {a, rar, b}, "the archive list after the hand-over");
  ExpectCaptions(app, IDC_LISTVIEW2, {txt, three}, "the file list after the hand-over");
  Check(Send(app.Control(IDC_PAGECONTROL1), TCM_GETCURSEL, 0, 0) == 1 && IsWindowVisible(app.Control(IDC_LISTVIEW2)),
        "after a hand-over whose first path is a file, \"Files to Zip\" is not in view");
  ExpectStatus(app, "2 file(s)");
  Check(WaitUntil([&] { return !IsIconic(app.main()); }, 3000), "the hand-over left the main window minimised");

  app.Click(IDC_BITBTN3);
  HWND help = WaitHelpDialog(app);
  const std::string c = S("drop\\c.zip");
  LaterStart third("\"" + c + "\"");
  Check(!third.WaitExit(1500), "the third quarn.exe ended while the help dialog was up");
  Check(app.ItemCount(IDC_LISTVIEW1) == 3, "a path was added behind the help dialog");
  PostMessageA(FindById(help, IDC_FORM5_BUTTON1), BM_CLICK, 0, 0);
  Check(third.WaitExit(10000), "the third quarn.exe did not end after the help dialog closed");
  ExpectCaptions(app, IDC_LISTVIEW1, {a, rar, b, c}, "the archive list after the help dialog closed");
}

void DeleteKeyOnFilePage() {
  QuarnApp app(g.exe);
  app.Start();
  const std::string a = S("drop\\a.zip"), b = S("drop\\b.zip"), c = S("drop\\c.zip"), txt = S("drop\\notes.txt");
  app.Drop({a, b, c});
  app.SwitchPage(1);
  app.Drop({txt, a});
  ExpectCaptions(app, IDC_LISTVIEW2, {txt, a}, "two files dropped on \"Files to Zip\"");
  app.SelectItem(IDC_LISTVIEW1, 0, true);
  app.SelectItem(IDC_LISTVIEW1, 2, true);
  app.SelectItem(IDC_LISTVIEW2, 0, true);
  Require(Send(app.Control(IDC_LISTVIEW1), LVM_GETSELECTEDCOUNT, 0, 0) == 2, "cannot select two archives");
  app.PressKey(VK_DELETE, app.main());
  ExpectCaptions(app, IDC_LISTVIEW1, {b}, "Delete on \"Files to Zip\" with archives 1 and 3 selected");
  ExpectCaptions(app, IDC_LISTVIEW2, {txt, a}, "the file list after Delete");
  ExpectStatus(app, "1 archive(s)");
}

}  // namespace

int main(int argc, char** argv) {
  // Plain "\n" line ends in the report, whatever stdout is.
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 3) {
    fprintf(stderr,
            "usage: quarn_e2e_driver <quarn.exe> <scratch folder> [--exchange=<folder>] [--kinds=zip,7z,rar] "
            "[--only=case,...]\n");
    return 2;
  }
  g.exe = argv[1];
  g.scratch = argv[2];
  std::string only, exchange = JoinPath(g.scratch, "exchange"), kinds = "zip";
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--only=", 0) == 0) only = a.substr(7);
    if (a.rfind("--exchange=", 0) == 0) exchange = a.substr(11);
    if (a.rfind("--kinds=", 0) == 0) kinds = a.substr(8);
  }
  for (size_t i = 0; i < kinds.size();) {
    size_t j = kinds.find(',', i);
    if (j == std::string::npos) j = kinds.size();
    if (j > i) g.kinds.insert(kinds.substr(i, j - i));
    i = j + 1;
  }
  SetExchangeFolder(exchange);
  char desktop[MAX_PATH] = "";
  SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOP, FALSE);
  g.desktop = desktop;
  if (!FileExists(g.exe)) {
    printf("quarn.exe not found at %s\n0 passed, 1 failed\n", g.exe.c_str());
    return 1;
  }
  printf("quarn.exe: %s\nscratch: %s\ndesktop: %s\n", g.exe.c_str(), g.scratch.c_str(), g.desktop.c_str());
  fflush(stdout);

  const std::vector<CaseInfo> cases = {
      {"first_start_defaults", FirstStart},  // must stay first: it needs the fresh prefix
      {"second_instance_exits", SecondInstance},
      {"command_line_and_hand_over", CommandLineAndHandOver},
      {"page_switch_status", PageSwitchStatus},
      {"drop_on_archive_page", DropOnArchivePage},
      {"drop_on_file_page", DropOnFilePage},
      {"drop_duplicate_stops", DropDuplicateStops},
      {"right_click_menu_adds", RightClickMenu},
      {"xdnd_real_drag", XdndDrag},
      {"unzip_into_chosen_folder", UnzipIntoChosenFolder},
      {"unzip_empty_list_asks", UnzipEmptyListAsks},
      {"unzip_failure_names_archive", UnzipFailureNamesArchive},
      {"unzip_7z", Unzip7z},
      {"unzip_rar", UnzipRar},
      {"unzip_all_kinds", UnzipAllKinds},
      {"unzip_any_name", UnzipAnyName},
      {"unzip_encrypted", UnzipEncrypted},
      {"unzip_without_engines", UnzipWithoutEngines},
      {"extract_here_burst", ExtractHereBurst},
      {"shell_verbs", ShellVerbs, true},
      {"zip_files_from_dialog", ZipFilesFromDialog},
      {"zip_empty_list_message", ZipEmptyListMessage},
      {"zip_existing_name_new_name", ZipExistingNameNewName},
      {"zip_existing_name_twice", ZipExistingNameTwice},
      {"window_position_kept", WindowPositionKept},
      {"help_dialog", HelpDialog},
      {"delete_key_on_file_page", DeleteKeyOnFilePage},
  };
  return RunCases(cases, only) == 0 ? 0 : 1;
}
