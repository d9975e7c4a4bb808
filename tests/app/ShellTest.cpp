// The main window's commands driven through a scripted user: lists, status
// bar, drops, the Unzip and Zip commands, the stored position, the help dialog.

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <deque>
#include <memory>

#include "CommandLine.h"
#include "ShellPaths.h"
#include "ListItems.h"
#include "Unit1.h"
#include "Unit5.h"
#include "ZipFile.h"
#include "ShellTestSupport.h"
#include "Zippit.h"
#include "resource.h"

namespace {

TEST(ShellLists, AddPathToListRefusesDuplicatesAndSetsIcons) {
  Tree t;
  WriteWholeFile(t / "small.bin", std::string(1023, 's'));
  WriteWholeFile(t / "one.bin", std::string(1024, 'o'));
  WriteWholeFile(t / "almost2.bin", std::string(2047, 'a'));
  Shell s;
  using R = TForm1::TIconRule;
  EXPECT_TRUE(s->AddPathToList(s->ListView1, t / "a.zip", R::Archive));
  EXPECT_TRUE(s->AddPathToList(s->ListView1, t / "b.rar", R::Archive));
  EXPECT_TRUE(s->AddPathToList(s->ListView1, t / "c.7z", R::Archive));
  EXPECT_TRUE(s->AddPathToList(s->ListView1, t / "D.ZIP", R::Archive));
  EXPECT_TRUE(s->AddPathToList(s->ListView1, t / "A.zip", R::Archive));  // captions compare exactly
  EXPECT_FALSE(s->AddPathToList(s->ListView1, t / "b.rar", R::Archive));
  EXPECT_EQ(s.Captions(s->ListView1),
            (std::vector<std::string>{t / "a.zip", t / "b.rar", t / "c.7z", t / "D.ZIP", t / "A.zip"}));
  const int icons[] = {0, 1, 3, 0, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ItemImage(s->ListView1, i), icons[i]) << i;

  EXPECT_TRUE(s->AddPathToList(s->ListView2, t / "small.bin", R::File));
  EXPECT_TRUE(s->AddPathToList(s->ListView2, t / "one.bin", R::None));
  EXPECT_TRUE(s->AddPathToList(s->ListView2, t / "almost2.bin", R::File));
  EXPECT_TRUE(s->AddPathToList(s->ListView2, t.Path(), R::File));  // a folder
  EXPECT_EQ(ItemImage(s->ListView2, 0), 2);
  EXPECT_EQ(ItemImage(s->ListView2, 1), 0);
  const char* sizes[] = {"0", "1", "1", "0"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ItemSubText(s->ListView2, i), sizes[i]) << i;
  EXPECT_EQ(ItemSubText(s->ListView1, 0), "0");  // missing file
}

TEST(ShellLists, SizesOfHugeFilesDoNotOverflow) {
  Tree t;
  const std::string path = t / "huge.bin";
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = 5LL * 1024 * 1024 * 1024 + 1023;  // 5 GiB and a bit: sparse on most disks
  const bool made = SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  if (!made) GTEST_SKIP() << "the disk cannot hold a 5 GiB file";
  EXPECT_EQ(GetFileSizeKB(path), 5LL * 1024 * 1024);
}

TEST(ShellLists, StatusPanelFollowsTheListsAndThePages) {
  Tree t;
  Shell s;
  EXPECT_EQ(s->StatusText(0), "");
  EXPECT_FALSE(s->StatusText(1).empty());
  s->AddPathToList(s->ListView1, t / "a.zip", TForm1::TIconRule::Archive);
  EXPECT_EQ(s->StatusText(0), "1 archive(s)");
  s->AddPathToList(s->ListView2, t / "x.txt", TForm1::TIconRule::File);
  EXPECT_EQ(s->StatusText(0), "1 file(s)");  // whichever page shows
  s->AddPathToList(s->ListView1, t / "b.zip", TForm1::TIconRule::Archive);

  s.SwitchTo(1);
  EXPECT_EQ(s->StatusText(0), "1 file(s)");
  EXPECT_FALSE(IsWindowVisible(s->BitBtn1) && GetWindowLongA(s->BitBtn1, GWL_STYLE) & WS_VISIBLE);
  EXPECT_TRUE(GetWindowLongA(s->BitBtn6, GWL_STYLE) & WS_VISIBLE);
  EXPECT_TRUE(GetWindowLongA(s->ListView2, GWL_STYLE) & WS_VISIBLE);
  EXPECT_FALSE(GetWindowLongA(s->ListView1, GWL_STYLE) & WS_VISIBLE);

  // Delete acts on the archive list, even from the other page.
  s.Select(s->ListView1, 0);
  s.Select(s->ListView2, 0);
  EXPECT_TRUE(s->FormKeyDown(VK_DELETE));
  EXPECT_EQ(s.Captions(s->ListView1), std::vector<std::string>{t / "b.zip"});
  EXPECT_EQ(ItemCount(s->ListView2), 1);
  EXPECT_EQ(s->StatusText(0), "1 archive(s)");
  EXPECT_FALSE(s->FormKeyDown('A'));

  // Alt+Delete works like Delete.
  s.SwitchTo(0);
  s->AddPathToList(s->ListView1, t / "c.zip", TForm1::TIconRule::Archive);
  s.Select(s->ListView1, 1);
  MSG alt = {};
  alt.hwnd = s->ListView1;
  alt.message = WM_SYSKEYDOWN;
  alt.wParam = VK_DELETE;
  alt.lParam = 0x20000000;  // Alt held down
  s->PreTranslate(alt);
  EXPECT_EQ(s.Captions(s->ListView1), std::vector<std::string>{t / "b.zip"});
  EXPECT_EQ(s->StatusText(0), "1 archive(s)");
  EXPECT_TRUE(GetWindowLongA(s->BitBtn1, GWL_STYLE) & WS_VISIBLE);
  EXPECT_FALSE(GetWindowLongA(s->BitBtn6, GWL_STYLE) & WS_VISIBLE);
  s->RemoveAll1Click();  // writes nothing to the status bar
  EXPECT_EQ(ItemCount(s->ListView1), 0);
  EXPECT_EQ(s->StatusText(0), "1 archive(s)");
}

TEST(ShellLists, AddCommandsUseTheirDialogsAndStopAtADuplicate) {
  Tree t;
  Shell s;
  s.UI->OpenAnswers.push_back({t / "a.zip", t / "b.7z"});
  s->AddFiles1Click();
  EXPECT_EQ(s.UI->LastFilterIndex, 4);  // set by the first activation
  s.UI->OpenAnswers.push_back({t / "c.rar", t / "a.zip", t / "d.zip"});
  s->AddFiles1Click();
  EXPECT_EQ(s.Captions(s->ListView1), (std::vector<std::string>{t / "a.zip", t / "b.7z", t / "c.rar"}));
  s->AddFiles1Click();  // cancelled: nothing changes
  EXPECT_EQ(ItemCount(s->ListView1), 3);

  s.UI->OpenAnswers.push_back({t / "f.txt", t / "g.zip"});
  s->MenuItem1Click();
  EXPECT_EQ(s.Captions(s->ListView2), (std::vector<std::string>{t / "f.txt", t / "g.zip"}));
  EXPECT_EQ(ItemImage(s->ListView2, 1), 2);
  s.Select(s->ListView2, 0);
  s->MenuItem2Click();
  EXPECT_EQ(s.Captions(s->ListView2), std::vector<std::string>{t / "g.zip"});
  s->MenuItem5Click();
  EXPECT_EQ(ItemCount(s->ListView2), 0);

  s.UI->FolderAnswers.push_back("C:\\chosen");
  s->BitBtn5Click();
  EXPECT_EQ(TForm1::WindowText(s->Edit1), "C:\\chosen");
  s->BitBtn5Click();  // cancelled
  EXPECT_EQ(TForm1::WindowText(s->Edit1), "C:\\chosen");
}

TEST(ShellDrops, FollowThePageAndStopAtADuplicate) {
  Tree t;
  Shell s;
  // A program is taken too: it may be a self-extracting archive.
  s->HandleDroppedFiles(MakeDrop({t / "a.zip", t / "b.txt", t / "c.rar", t / "D.7Z", t.Path(), t / "setup.exe"}));
  EXPECT_EQ(s.Captions(s->ListView1),
            (std::vector<std::string>{t / "a.zip", t / "c.rar", t / "D.7Z", t / "setup.exe"}));
  EXPECT_EQ(ItemImage(s->ListView1, 1), 1);
  EXPECT_EQ(ItemImage(s->ListView1, 2), 3);
  EXPECT_EQ(ItemImage(s->ListView1, 3), kIconPackage);
  s->HandleDroppedFiles(MakeDrop({t / "x.zip", t / "a.zip", t / "z.zip"}));
  EXPECT_EQ(ItemCount(s->ListView1), 5);
  EXPECT_EQ(ItemCaption(s->ListView1, 4), t / "x.zip");

  s.SwitchTo(1);
  s->HandleDroppedFiles(MakeDrop({t / "a.zip", t / "b.txt", t.Path()}));
  EXPECT_EQ(s.Captions(s->ListView2), (std::vector<std::string>{t / "a.zip", t / "b.txt", t.Path()}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ItemImage(s->ListView2, i), 0);
  EXPECT_EQ(ItemSubText(s->ListView2, 2), "0");
  EXPECT_EQ(s->StatusText(0), "3 file(s)");

  // Long paths arrive whole.
  const std::string deep = "C:\\" + std::string(200, 'd') + "\\" + std::string(100, 'n') + ".zip";
  s.SwitchTo(0);
  s->HandleDroppedFiles(MakeDrop({deep}));
  EXPECT_EQ(ItemCaption(s->ListView1, 5), deep);
}

TEST(ShellCommandLine, PathsGoToTheListOfTheirKindAndShowTheFirstPageThatReceived) {
  Tree t;
  // A program goes to the files, unless it carries an archive.
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  CopyFileA(self, (t / "tool.exe").c_str(), FALSE);
  WriteWholeFile(t / "setup.exe", ReadWholeFile(self) + ZipOf({{"a.txt", "a"}}));
  Shell s;
  s->AddPaths({t / "notes.txt", t / "a.zip", t / "B.RAR", t.Path(), t / "c.7z", t / "tool.exe", t / "setup.exe"});
  EXPECT_EQ(s.Captions(s->ListView1), (std::vector<std::string>{t / "a.zip", t / "B.RAR", t / "c.7z", t / "setup.exe"}));
  EXPECT_EQ(s.Captions(s->ListView2), (std::vector<std::string>{t / "notes.txt", t.Path(), t / "tool.exe"}));
  EXPECT_EQ(ItemImage(s->ListView1, 1), 1);
  EXPECT_EQ(ItemImage(s->ListView2, 0), 2);
  EXPECT_FALSE(s->ArchivePageShowing());
  EXPECT_EQ(s->StatusText(0), "3 file(s)");

  // A duplicate ends the run, as in a drop; the page follows what was added.
  s->AddPaths({t / "d.zip", t / "a.zip", t / "e.txt"});
  EXPECT_EQ(ItemCount(s->ListView1), 5);
  EXPECT_EQ(ItemCount(s->ListView2), 3);
  EXPECT_TRUE(s->ArchivePageShowing());
  EXPECT_EQ(s->StatusText(0), "5 archive(s)");
  s->AddPaths({t / "notes.txt"});  // nothing added: the page stays
  EXPECT_TRUE(s->ArchivePageShowing());
}

TEST(ShellCommandLine, TheWindowTakesAHandOverOnlyWhenFreeAndWellFormed) {
  Shell s;
  const std::wstring block = PackHandOver({L"C:\\in\\a.zip", L"", L"C:\\in\\notes.txt"});
  const DWORD bytes = static_cast<DWORD>(block.size() * sizeof(wchar_t));
  struct {
    const char* what;
    ULONG_PTR id;
    DWORD bytes;
    LRESULT answer;
  } cases[] = {
      {"another id", kHandOverPaths + 1, bytes, FALSE},
      {"an odd size", kHandOverPaths, bytes - 1, FALSE},
      {"a last path without its NUL", kHandOverPaths, bytes - 2, FALSE},
      {"no paths", kHandOverPaths, 0, TRUE},
      {"two paths and an empty one", kHandOverPaths, bytes, TRUE},
  };
  for (const auto& c : cases) {
    COPYDATASTRUCT data = {c.id, c.bytes, const_cast<wchar_t*>(block.data())};
    EXPECT_EQ(SendMessageW(s->Handle(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), c.answer) << c.what;
  }
  EXPECT_EQ(s.Captions(s->ListView1), (std::vector<std::string>{"C:\\in\\a.zip"}));
  EXPECT_EQ(s.Captions(s->ListView2), (std::vector<std::string>{"C:\\in\\notes.txt"}));

  // A modal window disables the main window: "not now", until it closes.
  const std::wstring later = PackHandOver({L"C:\\in\\b.zip"});
  COPYDATASTRUCT data = {kHandOverPaths, static_cast<DWORD>(later.size() * sizeof(wchar_t)),
                         const_cast<wchar_t*>(later.data())};
  EnableWindow(s->Handle(), FALSE);
  EXPECT_EQ(SendMessageW(s->Handle(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), FALSE);
  EXPECT_EQ(ItemCount(s->ListView1), 1);
  EnableWindow(s->Handle(), TRUE);
  EXPECT_EQ(SendMessageW(s->Handle(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), TRUE);
  EXPECT_EQ(ItemCount(s->ListView1), 2);
}

TEST(ShellUnzip, AsksForADestinationFirst) {
  Shell s;
  SetWindowTextA(s->Edit1, "");
  s->AddPathToList(s->ListView1, "C:\\a.zip", TForm1::TIconRule::Archive);
  s->BitBtn1Click();
  ASSERT_EQ(s.UI->Boxes.size(), 1u);
  EXPECT_EQ(s.UI->Boxes[0].Text, "Please select a directory first !");
  RECT r;
  GetWindowRect(s->Handle(), &r);
  EXPECT_EQ(s.UI->Boxes[0].X, r.left + 170);
  EXPECT_EQ(s.UI->Boxes[0].Y, r.top + 150);
  EXPECT_EQ(ItemCount(s->ListView1), 1);
  EXPECT_EQ(s.UI->OpenCalls, 0);
}

TEST(ShellUnzip, ExtractsEachArchiveIntoItsOwnFolder) {
  Tree t;
  CreateDirectoryA((t / "out").c_str(), nullptr);
  WriteWholeFile(t / "photos.2007.zip", ZipOf({{"a/b/c/d.txt", "deep"}, {"empty/", ""}, {"top.txt", "top"}}));
  WriteWholeFile(t / "UPPER.ZIP", ZipOf({{"u.txt", "upper case extension"}}));
  CreateDirectoryA((t / "out\\UPPER").c_str(), nullptr);
  WriteWholeFile(t / "out\\UPPER\\u.txt", "old content, replaced");
  Shell s;
  SetWindowTextA(s->Edit1, (t / "out").c_str());
  s.UI->OpenAnswers.push_back({t / "photos.2007.zip", t / "UPPER.ZIP"});
  s->BitBtn1Click();  // the empty list offers the add dialog first
  EXPECT_EQ(s.UI->OpenCalls, 1);
  EXPECT_EQ(ReadWholeFile(t / "out\\photos.2007\\a\\b\\c\\d.txt"), "deep");
  EXPECT_EQ(ReadWholeFile(t / "out\\photos.2007\\top.txt"), "top");
  EXPECT_TRUE(GetFileAttributesA((t / "out\\photos.2007\\empty").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ReadWholeFile(t / "out\\UPPER\\u.txt"), "upper case extension");
  EXPECT_EQ(ItemCount(s->ListView1), 0);
  EXPECT_TRUE(s.UI->Boxes.empty());
}

TEST(UnzipCommand, ArchivesThatCannotBeOpenedAreReportedAndTheWalkGoesOn) {
  Tree t;
  WriteWholeFile(t / "z.zip", ZipOf({{"z.txt", "zip"}}));
  Unzipper u;
  const TUnzipResult r = u.Run({t / "r.rar", t / "s.7z", t / "z.zip"}, t / "out");
  EXPECT_EQ(ReadWholeFile(t / "out\\z\\z.txt"), "zip");  // the walk went on
  EXPECT_FALSE(LinesAbout(r, t / "r.rar").empty());
  EXPECT_FALSE(LinesAbout(r, t / "s.7z").empty());
}

// A zip archive cut short (inside a header, or inside a member whose sizes
// follow its data) keeps the members before the damage: they are extracted,
// the damage is reported, and the walk goes on.
TEST(UnzipCommand, ACutArchiveKeepsTheMembersBeforeTheDamage) {
  Tree t;
  const std::string whole = ZipOf({{"a.txt", "first"}, {"b.txt", "second"}});
  const size_t second = whole.find("PK\x03\x04", 4);
  WriteWholeFile(t / "cut.zip", whole.substr(0, second + 20));
  WriteWholeFile(t / "after.zip", ZipOf({{"c.txt", "after"}}));
  Unzipper u;
  const TUnzipResult r = u.Run({t / "cut.zip", t / "after.zip"}, t / "out");
  EXPECT_EQ(ReadWholeFile(t / "out\\cut\\a.txt"), "first");
  EXPECT_FALSE(Exists(t / "out\\cut\\b.txt"));
  EXPECT_EQ(LinesAbout(r, t / "cut.zip"),
            std::vector<std::string>{"The archive ends inside the header of its member number 2."});
  EXPECT_EQ(ReadWholeFile(t / "out\\after\\c.txt"), "after");
}

// An end record whose directory size runs past the file makes the reader
// walk the local headers: notes name the damaged directory and a member
// whose local name differs from the directory's (nothing was lost).
TEST(UnzipCommand, MembersReadPastADamagedDirectoryAreNamed) {
  Tree t;
  std::string zip = ZipOf({{"text.txt", "text"}, {"other.txt", "other"}});
  const size_t end = zip.rfind("PK\x05\x06");
  zip[end + 15] = '\x7f';  // the directory's size, far beyond the file
  zip[zip.find("text.txt") + 5] = '\xba';  // the first local header's name: "text.\xbaxt"
  WriteWholeFile(t / "damaged.zip", zip);
  Unzipper u;
  const TUnzipResult r = u.Run({t / "damaged.zip"}, t / "out");
  EXPECT_EQ(ReadWholeFile(t / "out\\damaged\\other.txt"), "other");
  EXPECT_TRUE(r.Report.empty()) << testing::PrintToString(r.Report);
  const std::vector<std::string> lines = NotesAbout(r, t / "damaged.zip");
  ASSERT_EQ(lines.size(), 2u) << testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "its directory is damaged; its members were read from their local headers.");
  EXPECT_EQ(lines[1].rfind("\"text.txt\" (so its directory names it) was extracted as \"text.", 0), 0u) << lines[1];
}

TEST(UnzipCommand, HostileMemberNamesStayInsideTheOutputFolder) {
  Tree t;
  WriteWholeFile(t / "evil.zip", ZipOf({{"../escaped.txt", "1"},
                                        {"..\\..\\escaped2.txt", "2"},
                                        {"/rooted.txt", "3"},
                                        {"C:\\driven.txt", "4"},
                                        {"a/../../up.txt", "5"},
                                        {"name.txt:stream", "6"},
                                        {"..", "7"},
                                        {"", "8"},
                                        {"./", ""}}));
  Unzipper u;
  const TUnzipResult r = u.Run({t / "evil.zip"}, t / "out");
  EXPECT_FALSE(Exists(t / "escaped.txt"));
  EXPECT_FALSE(Exists(t / "out\\escaped.txt"));
  EXPECT_FALSE(Exists(t / "escaped2.txt"));
  EXPECT_EQ(ReadWholeFile(t / "out\\evil\\escaped.txt"), "1");
  EXPECT_EQ(ReadWholeFile(t / "out\\evil\\escaped2.txt"), "2");
  EXPECT_EQ(ReadWholeFile(t / "out\\evil\\rooted.txt"), "3");
  EXPECT_EQ(ReadWholeFile(t / "out\\evil\\driven.txt"), "4");
  EXPECT_EQ(ReadWholeFile(t / "out\\evil\\a\\up.txt"), "5");
  EXPECT_EQ(ReadWholeFile(t / "out\\evil\\name.txt_stream"), "6");
  // What was left out is a problem, what was renamed a note; nothing is
  // skipped without a word.
  EXPECT_EQ(LinesAbout(r, t / "evil.zip"),
            (std::vector<std::string>{"\"..\" was skipped: nothing of its name leads to a place inside the folder.",
                                      "a member with an empty name was skipped."}));
  EXPECT_EQ(NotesAbout(r, t / "evil.zip"),
            std::vector<std::string>{"\"name.txt:stream\" was extracted as \"name.txt_stream\"."});
}

// Closing the window while a command runs asks whether to stop it and never
// tears the window down under the command: No lets it go on; Yes stops it at
// the next safe point, leaves the archives it did not finish in the list, and
// the window closes once the command has ended. The taskbar button follows.
TEST(ShellUnzip, ClosingAsksToStopAndWaitsForTheCommand) {
  Tree t;
  WriteWholeFile(t / "a.zip", ZipOf({{"a.txt", "first"}}));
  WriteWholeFile(t / "b.zip", ZipOf({{"b.txt", "second"}}));
  Shell s;
  s->Show();
  EXPECT_EQ(GetFocus(), s->PageControl1);  // the page control has the focus at start
  const HWND window = s->Handle();
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "Yes" : "No");
    const std::string out = t / (stop ? "out-yes" : "out-no");
    SetWindowTextA(s->Edit1, out.c_str());
    for (const char* n : {"a.zip", "b.zip"}) s->AddPathToList(s->ListView1, t / n, TForm1::TIconRule::Archive);
    s.UI->ConfirmAnswers = {stop};
    s.UI->TaskbarCalls.clear();
    PostMessageA(window, WM_CLOSE, 0, 0);  // handled while the command lets messages run
    s->BitBtn1Click();
    EXPECT_EQ(s.UI->Questions.back(), "Stop after the current file?");
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(ItemCount(s->ListView1), stop ? 2 : 0);
    EXPECT_EQ(Exists(out + "\\b\\b.txt"), !stop);
    ASSERT_FALSE(s.UI->TaskbarCalls.empty());
    EXPECT_EQ(s.UI->TaskbarCalls.front().State, TTaskbarState::Normal);
    EXPECT_EQ(s.UI->TaskbarCalls.back().State, TTaskbarState::None);
    TForm1::ProcessMessages();  // a close asked for takes place now
    EXPECT_EQ(IsWindow(window), !stop);
  }
  // The stopped walk said what it left undone.
  ASSERT_FALSE(s.UI->Boxes.empty());
  EXPECT_NE(s.UI->Boxes.back().Text.find("stopped by the user"), std::string::npos) << s.UI->Boxes.back().Text;
}

TEST(ShellZip, ChecksComeInOrderWithTheirBoxes) {
  Tree t;
  Shell s;
  RECT r;
  GetWindowRect(s->Handle(), &r);
  SetWindowTextA(s->Edit2, "");
  s->BitBtn6Click();
  SetWindowTextA(s->Edit2, (t / "new.zip").c_str());
  s->BitBtn6Click();  // empty list: no dialog is offered
  ASSERT_EQ(s.UI->Boxes.size(), 2u);
  EXPECT_EQ(s.UI->Boxes[0].Text, "Please select a filename first !");
  EXPECT_EQ(s.UI->Boxes[0].X, r.left + 170);
  EXPECT_EQ(s.UI->Boxes[1].Text, "Please select at least one file first !");
  EXPECT_EQ(s.UI->Boxes[1].X, r.left + 160);
  EXPECT_EQ(s.UI->Boxes[1].Y, r.top + 150);
  EXPECT_EQ(s.UI->OpenCalls + s.UI->SaveCalls, 0);
  EXPECT_FALSE(Exists(t / "new.zip"));
}

TEST(ShellZip, AnExistingArchiveAsksForAnotherNameOnce) {
  Tree t;
  WriteWholeFile(t / "in.txt", "input");
  WriteWholeFile(t / "taken.zip", "old");
  WriteWholeFile(t / "also-taken.zip", "old too");
  Shell s;
  SetWindowTextA(s->Edit2, (t / "taken.zip").c_str());
  s->AddPathToList(s->ListView2, t / "in.txt", TForm1::TIconRule::File);

  s->BitBtn6Click();  // dialog cancelled
  s.UI->SaveAnswers.push_back(t / "also-taken.zip");
  s->BitBtn6Click();  // the new name exists too
  ASSERT_EQ(s.UI->Boxes.size(), 4u);
  EXPECT_EQ(s.UI->Boxes[0].Text, "File already exists !\r\nPlease choose another filename .");
  EXPECT_EQ(s.UI->Boxes[1].Text, "No archive was created !");
  EXPECT_EQ(s.UI->Boxes[3].Text, "No archive was created !");
  EXPECT_EQ(ItemCount(s->ListView2), 1);
  EXPECT_EQ(ReadWholeFile(t / "taken.zip"), "old");

  s.UI->SaveAnswers.push_back(t / "fresh.zip");
  SetWindowTextA(s->Edit2, (t / "taken.zip").c_str());
  s->BitBtn6Click();
  EXPECT_EQ(TForm1::WindowText(s->Edit2), t / "fresh.zip");
  TZipFile zip;
  zip.LoadFromFile(t / "fresh.zip");
  ASSERT_EQ(zip.Count(), 1);
  EXPECT_EQ(zip.GetUncompressed(0), "input");
  EXPECT_EQ(ItemCount(s->ListView2), 0);
}

TEST(ShellZip, PacksTheListInOrderAndKeepsWhatWasSavedOnFailure) {
  Tree t;
  WriteWholeFile(t / "1.txt", "one");
  WriteWholeFile(t / "2.txt", "two");
  WriteWholeFile(t / "3.txt", "three");
  Shell s;
  SetWindowTextA(s->Edit2, (t / "out.zip").c_str());
  for (const char* n : {"1.txt", "2.txt", "3.txt"}) s->AddPathToList(s->ListView2, t / n, TForm1::TIconRule::File);
  const std::string status = s->StatusText(0);
  s->BitBtn6Click();
  EXPECT_EQ(ItemCount(s->ListView2), 0);
  EXPECT_EQ(s->StatusText(0), status);
  TZipFile zip;
  zip.LoadFromFile(t / "out.zip");
  ASSERT_EQ(zip.Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(zip.GetName(i), ZipMemberName(t / (std::to_string(i + 1) + ".txt")));
  EXPECT_EQ(zip.GetUncompressed(2), "three");

  // The second file is held open by another program: the archive keeps the
  // first, the error reaches the generic box, and the list is emptied.
  for (const char* n : {"1.txt", "2.txt", "3.txt"}) s->AddPathToList(s->ListView2, t / n, TForm1::TIconRule::File);
  SetWindowTextA(s->Edit2, (t / "partial.zip").c_str());
  HANDLE lock = CreateFileA((t / "2.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  SendMessageA(s->Handle(), WM_COMMAND, MAKEWPARAM(IDC_BITBTN6, BN_CLICKED), reinterpret_cast<LPARAM>(s->BitBtn6));
  CloseHandle(lock);
  ASSERT_EQ(s.UI->Boxes.size(), 1u);
  EXPECT_EQ(s.UI->Boxes[0].Title, "Quarn 1.00");
  EXPECT_EQ(s.UI->Boxes[0].Text.rfind("Cannot open file \"" + (t / "2.txt") + "\". ", 0), 0u) << s.UI->Boxes[0].Text;
  TZipFile partial;
  partial.LoadFromFile(t / "partial.zip");
  ASSERT_EQ(partial.Count(), 1);
  EXPECT_EQ(partial.GetUncompressed(0), "one");
  EXPECT_EQ(ItemCount(s->ListView2), 0);
}

// Two files whose member names would be one (the same path on two drives,
// or in another case) are both kept, the second under a name of its own, and
// the user is told; a Zip stopped before its first file says that no archive
// was made.
TEST(ShellZip, NoFileHidesAnotherAndAStopBeforeTheFirstMakesNothing) {
  Tree t;
  CreateDirectoryA((t / "d").c_str(), nullptr);
  WriteWholeFile(t / "d\\a.txt", "one");
  Shell s;
  SetWindowTextA(s->Edit2, (t / "out.zip").c_str());
  s->AddPathToList(s->ListView2, t / "d\\a.txt", TForm1::TIconRule::File);
  s->AddPathToList(s->ListView2, t / "D\\A.TXT", TForm1::TIconRule::File);
  s->BitBtn6Click();
  TZipFile zip;
  zip.LoadFromFile(t / "out.zip");
  ASSERT_EQ(zip.Count(), 2);
  const std::string renamed = ZipMemberName(t / "D\\A (2).TXT");
  EXPECT_EQ(zip.GetName(1), renamed);
  ASSERT_EQ(s.UI->Boxes.size(), 1u);
  EXPECT_NE(s.UI->Boxes[0].Text.find((t / "D\\A.TXT") + " as \"" + renamed + "\""), std::string::npos)
      << s.UI->Boxes[0].Text;

  s.UI->Boxes.clear();
  SetWindowTextA(s->Edit2, (t / "stopped.zip").c_str());
  s->AddPathToList(s->ListView2, t / "d\\a.txt", TForm1::TIconRule::File);
  s.UI->ConfirmAnswers = {true};
  PostMessageA(s->Handle(), WM_CLOSE, 0, 0);  // handled at the first chance the command gives
  s->BitBtn6Click();
  EXPECT_FALSE(Exists(t / "stopped.zip"));
  ASSERT_EQ(s.UI->Boxes.size(), 1u);
  EXPECT_EQ(s.UI->Boxes[0].Text,
            "The Zip command was stopped before its first file: no archive was made.\r\n1 file(s) stay in the list.");
}

TEST(ShellZip, TheSelectButtonStartsAtTheDesktop) {
  Shell s;
  s.UI->SaveAnswers.push_back("C:\\somewhere\\chosen.zip");
  s->BitBtn7Click();
  EXPECT_EQ(s.UI->LastSaveInitialDir, GetSpecialFolderPath(CSIDL_DESKTOP));
  EXPECT_EQ(TForm1::WindowText(s->Edit2), "C:\\somewhere\\chosen.zip");
  s->BitBtn7Click();  // cancelled
  EXPECT_EQ(TForm1::WindowText(s->Edit2), "C:\\somewhere\\chosen.zip");
}

TEST(ShellStart, DefaultsAndTheStoredPosition) {
  const std::string desktop = GetSpecialFolderPath(CSIDL_DESKTOP);
  ASSERT_FALSE(desktop.empty());
  HKEY key;
  ASSERT_EQ(
      RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Quarn", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  RegDeleteValueA(key, "top");
  RegDeleteValueA(key, "left");
  {
    Shell s;
    EXPECT_EQ(TForm1::WindowText(s->Edit1), desktop);
    EXPECT_EQ(TForm1::WindowText(s->Edit2), desktop + "\\quarn.zip");
    RECT r;
    GetWindowRect(s->Handle(), &r);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 100);
    SetWindowPos(s->Handle(), nullptr, 140, 120, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    s->FormClose();
  }
  DWORD value = 0, size = sizeof value, type = 0;
  RegQueryValueExA(key, "top", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 120u);
  {
    Shell s;
    RECT r;
    GetWindowRect(s->Handle(), &r);
    EXPECT_EQ(r.left, 140);
    EXPECT_EQ(r.top, 120);
  }
  // A place on no screen, or a value of the wrong type, gives the default.
  const DWORD offScreen = 50000;
  RegSetValueExA(key, "left", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&offScreen), sizeof offScreen);
  {
    Shell s;
    RECT r;
    GetWindowRect(s->Handle(), &r);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 100);
  }
  RegSetValueExA(key, "left", 0, REG_SZ, reinterpret_cast<const BYTE*>("12"), 3);
  {
    Shell s;
    RECT r;
    GetWindowRect(s->Handle(), &r);
    EXPECT_EQ(r.left, 100);
  }
  RegDeleteValueA(key, "top");
  RegDeleteValueA(key, "left");
  RegCloseKey(key);
}

TEST(ShellHelp, ShowsTheHelpTextAndClosesOnEscape) {
  TForm5 help(nullptr);
  char caption[32] = {0};
  GetWindowTextA(help.Handle(), caption, sizeof caption);
  EXPECT_STREQ(caption, "License");
  const std::string text = TForm1::WindowText(help.Label1);
  const std::string first = text.substr(0, text.find("\r\n"));
  EXPECT_EQ(first, "Quarn is a very user friendly,and easy to use, yet powerful, program");
  EXPECT_NE(text.find("with drag and drop capabilities. This allows the user to work with \r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.rfind("\r\n") + 2), "Make life easier and unzip with Quarn.");
  // It names every kind Quarn takes, in lines no wider than its first.
  std::string words = " ";
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find("\r\n", at), text.size());
    EXPECT_LE(end - at, first.size()) << text.substr(at, end - at);
    words += text.substr(at, end - at) + " ";
    at = end + 2;
  }
  for (size_t i = 0; i < kArchiveKindCount; ++i)
    for (const std::string& ext : ExtensionsOf(kArchiveKinds[i]))
      EXPECT_TRUE(words.find(" " + ext + ", ") != std::string::npos || words.find(" " + ext + " ") != std::string::npos)
          << ext;
  const LONG memo = GetWindowLongA(help.Memo1, GWL_STYLE);
  EXPECT_TRUE(memo & ES_READONLY);
  EXPECT_TRUE(memo & WS_VSCROLL);
  EXPECT_FALSE(memo & WS_HSCROLL);
  EXPECT_FALSE(memo & ES_AUTOHSCROLL);
  OSVERSIONINFOA v = {};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExA(&v);
  EXPECT_EQ(help.FontName, v.dwMajorVersion >= 6 ? "Segoe UI" : "Tahoma");
  EXPECT_FALSE(help.FormKeyDown(VK_RETURN));
  EXPECT_TRUE(help.FormKeyDown(VK_ESCAPE));
  EXPECT_FALSE(IsWindowVisible(help.Handle()));
}

}  // namespace
