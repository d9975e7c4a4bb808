// Extraction beside the archives (quarn.exe /extract-here): the command's
// folder rules with the real engines, the window's queue of hand-overs, and
// the command line that asks for it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "CommandLine.h"
#include "ShellTestSupport.h"
#include "Text.h"
#include "Win32Kit.h"

namespace {

// Everything below Folder: "a\b.txt" for files, "a\" for folders, sorted.
std::set<std::string> Listing(const std::string& Folder) {
  std::set<std::string> names;
  for (const auto& entry : TreeOf(Folder)) names.insert(entry.first);
  return names;
}

// Keeps what the command says in passing.
struct NoticeSink : IProgressSink {
  std::vector<std::string> Notices;
  void Notice(const std::string& Text) override { Notices.push_back(Text); }
};

// Each kind lands in a folder of its own beside its archive; a folder that
// exists (the user's) is never written into, whatever it is, nor is anything
// else of the user's touched; a single top folder of the archive's name is not
// nested; an archive that gave nothing leaves no folder behind. The Unzip
// button's walk keeps its own rules.
TEST(ExtractHere, EachArchiveGetsAFreshFolderBesideIt) {
  Tree t;
  WriteWholeFile(t / "a.zip", ZipOf({{"z/zip.txt", "from the zip"}, {"top.txt", "top"}}));
  CopyInto(RarFixture("basic.rar"), t / "b.rar");
  CopyInto(SevenZipFixture("basic.7z"), t / "c.7z");
  WriteWholeFile(t / "src.zip", ZipOf({{"src/a.txt", "a"}, {"src/src/b.txt", "b"}}));
  WriteWholeFile(t / "other.zip", ZipOf({{"inner/x.txt", "x"}}));
  WriteWholeFile(t / "photos.zip", ZipOf({{"p.jpg", "new"}}));
  CreateDirectoryA((t / "photos").c_str(), nullptr);
  WriteWholeFile(t / "photos\\p.jpg", "the user's own");
  WriteWholeFile(t / "photos (2)", "a file of the user's, named like a folder");
  WriteWholeFile(t / "docs.zip", ZipOf({{"DOCS/d.txt", "d"}}));
  CreateDirectoryA((t / "docs").c_str(), nullptr);
  WriteWholeFile(t / "bad.rar", "not a RAR archive");
  CopyInto(SevenZipFixture("sfx-small.exe"), t / "setup.exe");  // a program with a 7z archive behind it
  CopyInto(SevenZipFixture("plain.exe"), t / "tool.exe");       // one with none: never run, and no folder
  WriteWholeFile(t / "data.001", "the first piece of nothing Quarn knows");  // no folder either
  const std::set<std::string> before = Listing(t.Path());

  NoticeSink notices;
  Unzipper u;
  u.Progress = &notices;
  const std::vector<std::string> archives = {t / "a.zip",     t / "b.rar",      t / "c.7z",     t / "src.zip",
                                             t / "other.zip", t / "photos.zip", t / "docs.zip", t / "bad.rar",
                                             t / "setup.exe", t / "tool.exe",   t / "data.001"};
  const TUnzipResult r = u.RunHere(archives);

  const struct {
    const char* File;
    const char* Content;
  } files[] = {
      {"a\\z\\zip.txt", "from the zip"},
      {"a\\top.txt", "top"},
      {"b\\hello.txt", "Hello from Quarn\r\n"},
      {"c\\dir\\a.txt", "alpha\n"},
      {"src\\a.txt", "a"},           // src\src\a.txt lifted by one level,
      {"src\\src\\b.txt", "b"},      // and an inner folder of the same name with it
      {"other\\inner\\x.txt", "x"},  // another name: nested as it is
      {"photos (3)\\p.jpg", "new"},
      {"photos\\p.jpg", "the user's own"},
      {"photos (2)", "a file of the user's, named like a folder"},
      {"docs (2)\\d.txt", "d"},  // the name compared without regard to case
      {"setup\\dir\\a.txt", "alpha\n"},
  };
  for (const auto& f : files) EXPECT_EQ(ReadWholeFile(t / f.File), f.Content) << f.File;
  std::set<std::string> top;
  for (const std::string& name : Listing(t.Path()))
    if (name.find('\\') == std::string::npos || name.find('\\') == name.size() - 1) top.insert(name);
  std::set<std::string> expected;
  for (const std::string& name : before)
    if (name.find('\\') == std::string::npos || name.find('\\') == name.size() - 1) expected.insert(name);
  for (const char* made : {"a\\", "b\\", "c\\", "src\\", "other\\", "photos (3)\\", "docs (2)\\", "setup\\"})
    expected.insert(made);
  EXPECT_EQ(top, expected);  // no folder for bad.rar, tool.exe or data.001, nothing left of the lift
  EXPECT_EQ(Listing(t / "photos"), std::set<std::string>{"p.jpg"});
  EXPECT_TRUE(Listing(t / "docs").empty());
  EXPECT_EQ(LinesAbout(r, t / "tool.exe"), std::vector<std::string>{"not an archive: a program; it was not run"});
  EXPECT_EQ(Listing(t / "src"), (std::set<std::string>{"a.txt", "src\\", "src\\b.txt"}));

  EXPECT_FALSE(LinesAbout(r, t / "bad.rar").empty());
  EXPECT_EQ(LinesAbout(r, t / "data.001").size(), 1u);
  EXPECT_EQ(r.Report.size(), LinesAbout(r, t / "bad.rar").size() + 2);
  for (const char* notice : {"Extracting into \"a\"", "\"photos\" exists: extracting into \"photos (3)\"",
                             "\"docs\" exists: extracting into \"docs (2)\""})
    EXPECT_NE(std::find(notices.Notices.begin(), notices.Notices.end(), notice), notices.Notices.end()) << notice;

  // Below a destination, as the Unzip button extracts: into the folder of
  // the archive's name whether it exists or not, the single folder nested.
  CreateDirectoryA((t / "out").c_str(), nullptr);
  CreateDirectoryA((t / "out\\photos").c_str(), nullptr);
  WriteWholeFile(t / "out\\photos\\mine.txt", "kept");
  const TUnzipResult below = u.Run({t / "src.zip", t / "photos.zip"}, t / "out");
  EXPECT_TRUE(below.Report.empty());
  EXPECT_EQ(ReadWholeFile(t / "out\\src\\src\\a.txt"), "a");
  EXPECT_EQ(Listing(t / "out\\photos"), (std::set<std::string>{"mine.txt", "p.jpg"}));
}

// A later start's hand-over while the window extracts: archives to extract
// are taken and queued (once each, in order) and follow the walk in
// progress, while paths for the lists are refused ("not now") as before. A
// window started for the queue closes by itself when all went well; after a
// failure the archives behind the failing one are still extracted and the
// window stays with one report; a stop asked for leaves the rest reported.
TEST(ExtractHereWindow, HandOversJoinTheQueueAndTheWindowClosesOnlyWhenAllWentWell) {
  Tree t;
  for (const char* name : {"a", "b", "c", "d", "e", "f", "g"})
    WriteWholeFile(t / (std::string(name) + ".zip"), ZipOf({{std::string(name) + ".txt", name}}));
  std::string bad = ZipOf({{"ok.txt", "fine"}, {"bad.txt", "will be damaged"}});
  bad[bad.find("bad.txt") + 8] ^= 0x55;
  WriteWholeFile(t / "bad.zip", bad);
  auto send = [](HWND window, ULONG_PTR id, const std::vector<std::string>& paths) {
    std::vector<std::wstring> wide;
    for (const std::string& p : paths) wide.push_back(AnsiToWide(p));
    const std::wstring block = PackHandOver(wide);
    COPYDATASTRUCT data = {id, static_cast<DWORD>(block.size() * sizeof(wchar_t)), const_cast<wchar_t*>(block.data())};
    return SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  };
  // Runs the window's messages until Done holds (or 30 s passed).
  auto pumpUntil = [](const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
      TForm1::ProcessMessages();
      Sleep(10);
    }
    TForm1::ProcessMessages();
    return done();
  };

  {
    SCOPED_TRACE("all went well");
    Shell s;
    s->LaterStarts = [] { return false; };
    const HWND window = s->Handle();
    LRESULT extractAnswer = FALSE, listAnswer = TRUE;
    s.UI->OnProgress = [&] {
      extractAnswer = send(window, kHandOverExtract, {t / "b.zip", t / "a.zip", t / "b.zip", t / "c.zip"});
      listAnswer = send(window, kHandOverPaths, {t / "g.zip"});
    };
    s->ExtractHere({t / "a.zip"}, true);
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); })) << "the window did not close by itself";
    EXPECT_EQ(extractAnswer, TRUE);
    EXPECT_EQ(listAnswer, FALSE);  // a walk runs
    for (const char* name : {"a", "b", "c"})
      EXPECT_EQ(ReadWholeFile(t / (std::string(name) + "\\" + name + ".txt")), name);
    for (const char* twice : {"a (2)", "b (2)", "c (2)", "g"}) EXPECT_FALSE(Exists(t / twice)) << twice;
    EXPECT_TRUE(s.UI->Boxes.empty());
  }
  {
    SCOPED_TRACE("a failure");
    Shell s;
    s->LaterStarts = [] { return false; };
    s->ExtractHere({t / "bad.zip", t / "d.zip"}, true);
    EXPECT_TRUE(pumpUntil([&] { return !s.UI->Boxes.empty(); })) << "no report";
    EXPECT_TRUE(IsWindow(s->Handle())) << "the window closed after a failure";
    EXPECT_EQ(ReadWholeFile(t / "d\\d.txt"), "d");  // behind the failing one
    ASSERT_EQ(s.UI->Boxes.size(), 1u);
    EXPECT_EQ(s.UI->Boxes[0].Text, "These archives were not extracted completely:\r\n\r\n" + (t / "bad.zip") +
                                       ": CRC Error in \"bad.txt\".");
  }
  {
    SCOPED_TRACE("closed just as a hand-over is served");
    Shell s;
    s->LaterStarts = [] { return false; };
    const HWND window = s->Handle();
    bool closeWaiting = true;
    s.UI->OnBox = [&] {
      MSG m;
      closeWaiting = PeekMessageA(&m, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != 0;
    };
    s->ExtractHere({t / "bad.zip"});
    SendMessageA(window, WM_CLOSE, 0, 0);  // the queue is served first
    ASSERT_EQ(s.UI->Boxes.size(), 1u) << "no report";
    EXPECT_FALSE(closeWaiting) << "a close waiting behind the report would take its box away";
    EXPECT_TRUE(pumpUntil([&] { return !IsWindow(window); })) << "the close asked for was lost";
  }
  {
    SCOPED_TRACE("stopped");
    Shell s;
    s->LaterStarts = [] { return false; };
    s.UI->ConfirmAnswers = {true};
    s.UI->OnProgress = [&] {
      send(s->Handle(), kHandOverExtract, {t / "g.zip"});
      s->FormKeyDown(VK_ESCAPE);
    };
    s->ExtractHere({t / "e.zip", t / "f.zip"}, true);
    EXPECT_TRUE(pumpUntil([&] { return !s.UI->Boxes.empty(); })) << "no report";
    EXPECT_EQ(s.UI->Questions, std::vector<std::string>{"Stop after the current file?"});
    EXPECT_TRUE(IsWindow(s->Handle()));
    EXPECT_FALSE(Exists(t / "f"));
    EXPECT_FALSE(Exists(t / "g"));
    ASSERT_EQ(s.UI->Boxes.size(), 1u);
    const std::string& report = s.UI->Boxes[0].Text;
    EXPECT_NE(report.find("1 archive(s) not reached were not extracted"), std::string::npos) << report;
    EXPECT_NE(report.find("1 archive(s) handed over later were not extracted"), std::string::npos) << report;
  }
}

// The queue of hand-overs on its own: archives wait once each, in the order
// received; those handed over during a walk follow in another walk; a stop
// drops the ones still waiting and says how many.
TEST(ExtractQueue, TakesEachArchiveOnceInOrderUntilStopped) {
  TExtractQueue queue;
  queue.Add({"a", "b", "a"});
  queue.Add({"b", "c"});
  std::vector<std::vector<std::string>> walks;
  TUnzipResult all = queue.Run([&](const std::vector<std::string>& Archives) {
    walks.push_back(Archives);
    if (walks.size() == 1) queue.Add({"b", "d"});  // "b" is being extracted: not again
    TUnzipResult r;
    r.Report = {Archives.front() + ": a problem"};
    r.Notes = {Archives.back() + ": a note"};
    return r;
  });
  EXPECT_EQ(walks, (std::vector<std::vector<std::string>>{{"a", "b", "c"}, {"d"}}));
  EXPECT_EQ(all.Report, (std::vector<std::string>{"a: a problem", "d: a problem"}));
  EXPECT_EQ(all.Notes, (std::vector<std::string>{"c: a note", "d: a note"}));
  EXPECT_TRUE(queue.Empty());

  // Every part of a set is handed over (Explorer starts one program per
  // part): the later parts of a set taken before are done with it.
  walks.clear();
  queue.Add({"v.part1.rar", "w.part2.rar"});
  queue.Run([&](const std::vector<std::string>& Archives) {
    walks.push_back(Archives);
    if (walks.size() == 1) queue.Add({"V.part2.rar", "x.zip"});
    return TUnzipResult{};
  });
  queue.Add({"v.part3.rar"});
  EXPECT_EQ(walks, (std::vector<std::vector<std::string>>{{"v.part1.rar", "w.part2.rar"}, {"x.zip"}}));
  EXPECT_TRUE(queue.Empty());

  queue.Add({"e"});
  all = queue.Run([&](const std::vector<std::string>&) {
    queue.Add({"f", "g"});
    TUnzipResult r;
    r.Stopped = true;
    return r;
  });
  EXPECT_TRUE(all.Stopped);
  EXPECT_EQ(all.Report,
            std::vector<std::string>{"Stopped by the user: 2 archive(s) handed over later were not extracted."});
  EXPECT_TRUE(queue.Empty());
}

// The switch counts only in front of the paths, in any case.
TEST(ShellCommandLine, TheExtractSwitchComesFirst) {
  const struct {
    std::vector<std::wstring> Arguments;
    TRequest Request;
    size_t Paths;
  } cases[] = {
      {{L"/extract-here", L"C:\\in\\a.zip", L"", L"C:\\in\\b.rar"}, TRequest::ExtractHere, 2},
      {{L"/EXTRACT-HERE", L"C:\\in\\a.zip"}, TRequest::ExtractHere, 1},
      {{L"/extract-here"}, TRequest::ExtractHere, 0},
      {{L"C:\\in\\a.zip", L"/extract-here"}, TRequest::AddToLists, 2},
      {{L"C:\\in\\a.zip"}, TRequest::AddToLists, 1},
  };
  for (const auto& c : cases) {
    const TCommandLine line = ParseCommandLine(c.Arguments);
    EXPECT_EQ(line.Request, c.Request) << c.Arguments.size();
    EXPECT_EQ(line.Paths.size(), c.Paths) << c.Arguments.size();
  }
  EXPECT_EQ(ParseCommandLine({L"/extract-here", L"C:\\in\\a.zip"}).Paths, std::vector<std::wstring>{L"C:\\in\\a.zip"});
}

// While another process of the same program runs in this session, it counts
// as a later start on its way (the window then does not close yet); once it
// ended, it does not. Checked with copies of this test program under a name
// of their own: one that waits, one that looks.
TEST(ShellCommandLine, LaterStartsAreSeenWhileTheyRun) {
  char role[16] = "";
  if (GetEnvironmentVariableA("QUARN_LATER_ROLE", role, sizeof role) > 0) {
    if (std::string(role) == "look") std::exit(LaterStartsUnderWay() ? 10 : 11);
    char name[64] = "";
    GetEnvironmentVariableA("QUARN_LATER_EVENT", name, sizeof name);
    const THandle go(OpenEventA(SYNCHRONIZE, FALSE, name));
    if (go) WaitForSingleObject(go.Get(), 60000);
    return;
  }
  Tree t;
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string copy = t / ("later-" + std::to_string(GetCurrentProcessId()) + ".exe");
  CopyInto(self, copy);
  const std::string event = "QuarnLaterStarts-" + std::to_string(GetCurrentProcessId());
  const THandle go(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
  SetEnvironmentVariableA("QUARN_LATER_EVENT", event.c_str());
  auto start = [&](const char* role) {
    SetEnvironmentVariableA("QUARN_LATER_ROLE", role);
    std::string command = "\"" + copy + "\" --gtest_filter=ShellCommandLine.LaterStartsAreSeenWhileTheyRun";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const BOOL made =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, t.Path().c_str(), &si, &pi);
    SetEnvironmentVariableA("QUARN_LATER_ROLE", nullptr);
    EXPECT_TRUE(made) << command;
    if (made) CloseHandle(pi.hThread);
    return THandle(made ? pi.hProcess : nullptr);
  };
  auto look = [&] {
    const THandle looker = start("look");
    DWORD code = 0;
    if (!looker || WaitForSingleObject(looker.Get(), 60000) != WAIT_OBJECT_0) return std::string("no answer");
    GetExitCodeProcess(looker.Get(), &code);
    return std::string(code == 10 ? "seen" : code == 11 ? "none" : "exit code " + std::to_string(code));
  };
  EXPECT_EQ(look(), "none");
  const THandle waiter = start("wait");
  EXPECT_EQ(look(), "seen");
  SetEvent(go.Get());
  ASSERT_TRUE(waiter);
  ASSERT_EQ(WaitForSingleObject(waiter.Get(), 60000), WAIT_OBJECT_0);
  EXPECT_EQ(look(), "none");
  SetEnvironmentVariableA("QUARN_LATER_EVENT", nullptr);
}

}  // namespace
