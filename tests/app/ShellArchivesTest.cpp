// The Unzip command with the real engines: zip, RAR and 7z archives side by
// side, damaged ones reported while the walk goes on, and missing engine DLLs.

#include <gtest/gtest.h>

#include <cstdlib>

#include "ShellTestSupport.h"
#include "rar/RarTestSupport.h"

namespace {

std::string SevenZipFixture(const std::string& name) {
  const char* dir = std::getenv("QUARN_7Z_FIXTURES");
  std::string path = dir ? dir : "";
  for (char& c : path)
    if (c == '/') c = '\\';
  return path + "\\" + name;
}

std::string RarFixture(const std::string& name) {
  std::string path = QUARN_RAR_FIXTURES;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path + "\\" + name;
}

void CopyInto(const std::string& from, const std::string& to) {
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

TEST(ShellArchives, ZipRarAnd7zLandInTheirOwnFolders) {
  ASSERT_NE(std::getenv("QUARN_7Z_FIXTURES"), nullptr) << "run through ctest: the 7z archives come from a fixture";
  Tree t;
  CreateDirectoryA((t / "out").c_str(), nullptr);
  WriteWholeFile(t / "a.zip", ZipOf({{"z/zip.txt", "from the zip"}}));
  CopyInto(RarFixture("basic.rar"), t / "b.rar");
  CopyInto(SevenZipFixture("basic.7z"), t / "c.7z");
  CopyInto(RarFixture("damaged.rar"), t / "d.rar");
  CopyInto(SevenZipFixture("crc.7z"), t / "e.7z");
  CreateDirectoryA((t / "out\\c").c_str(), nullptr);
  CreateDirectoryA((t / "out\\c\\dir").c_str(), nullptr);
  WriteWholeFile(t / "out\\c\\dir\\a.txt", "replaced without asking");

  Shell s;
  SetWindowTextA(s->Edit1, (t / "out").c_str());
  for (const char* name : {"a.zip", "b.rar", "c.7z", "d.rar", "e.7z"})
    s->AddPathToList(s->ListView1, t / name, TForm1::TIconRule::Archive);
  s->BitBtn1Click();

  EXPECT_EQ(ReadWholeFile(t / "out\\a\\z\\zip.txt"), "from the zip");
  EXPECT_EQ(ReadWholeFile(t / "out\\b\\hello.txt"), "Hello from Quarn\r\n");
  EXPECT_TRUE(GetFileAttributesA((t / "out\\b\\emptydir").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ReadWholeFile(t / "out\\c\\dir\\a.txt"), "alpha\n");
  EXPECT_EQ(ReadWholeFile(t / "out\\c\\dir\\sub\\b.txt"), "beta beta\n");
  EXPECT_EQ(TForm1::ItemCount(s->ListView1), 0);

  // The damaged archives did not stop the walk; one report names both.
  ASSERT_EQ(s.UI->Boxes.size(), 1u);
  const std::string& report = s.UI->Boxes[0].Text;
  EXPECT_EQ(s.UI->Boxes[0].Title, "Error");
  EXPECT_NE(report.find((t / "d.rar") + ": "), std::string::npos) << report;
  EXPECT_NE(report.find((t / "e.7z") + ": "), std::string::npos) << report;
  EXPECT_EQ(report.find(t / "b.rar"), std::string::npos) << report;
  EXPECT_EQ(report.find(t / "c.7z"), std::string::npos) << report;
}

TEST(ShellArchives, ARarVolumeSetIsExtractedFromItsFirstPart) {
  Tree t;
  CreateDirectoryA((t / "out").c_str(), nullptr);
  CopyInto(RarFixture("vol.part1.rar"), t / "vol.part1.rar");
  CopyInto(RarFixture("vol.part2.rar"), t / "vol.part2.rar");
  Shell s;
  SetWindowTextA(s->Edit1, (t / "out").c_str());
  s->AddPathToList(s->ListView1, t / "vol.part1.rar", TForm1::TIconRule::Archive);
  s->BitBtn1Click();
  EXPECT_TRUE(s.UI->Boxes.empty()) << s.UI->Boxes[0].Text;
  EXPECT_EQ(ReadWholeFile(t / "out\\vol.part1\\big.bin"), rartest::Pattern(100000, 3));
}

// Without the engine DLLs beside the program: a RAR archive is reported and
// the walk goes on; a 7z archive ends the walk with the error box. The check
// runs in a copy of this test program in a folder without the DLLs.
TEST(ShellArchives, MissingEnginesAreReported) {
  if (std::getenv("QUARN_NO_ENGINES") == nullptr) {
    Tree t;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string copy = t / "shell_tests_alone.exe";
    CopyInto(self, copy);
    SetEnvironmentVariableA("QUARN_NO_ENGINES", "1");
    std::string command = "\"" + copy + "\" --gtest_filter=ShellArchives.MissingEnginesAreReported";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, t.Path().c_str(), &si, &pi));
    SetEnvironmentVariableA("QUARN_NO_ENGINES", nullptr);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u) << "the check in the copy without engine DLLs failed";
    return;
  }
  ASSERT_EQ(GetFileAttributesA("7za.dll"), INVALID_FILE_ATTRIBUTES);
  Tree t;
  CreateDirectoryA((t / "out").c_str(), nullptr);
  WriteWholeFile(t / "b.rar", "not looked at: the library is missing");
  WriteWholeFile(t / "c.7z", "not looked at either");
  WriteWholeFile(t / "d.zip", ZipOf({{"never.txt", "not attempted"}}));
  Shell s;
  SetWindowTextA(s->Edit1, (t / "out").c_str());
  for (const char* name : {"b.rar", "c.7z", "d.zip"})
    s->AddPathToList(s->ListView1, t / name, TForm1::TIconRule::Archive);
  s->BitBtn1Click();
  ASSERT_EQ(s.UI->Boxes.size(), 2u);
  EXPECT_EQ(s.UI->Boxes[0].Text, "Can't extract files from " + (t / "c.7z") + " .\r\nPlease try again .");
  const std::string& report = s.UI->Boxes[1].Text;
  EXPECT_NE(report.find((t / "b.rar") + ": UnRar.Dll not loaded"), std::string::npos) << report;
  EXPECT_NE(report.find((t / "c.7z") + ": Could not load CreateObject function from 7za.dll"), std::string::npos)
      << report;
  EXPECT_TRUE(Exists(t / "out\\b"));   // made before the component ran
  EXPECT_FALSE(Exists(t / "out\\d"));  // after the walk ended
  EXPECT_EQ(TForm1::ItemCount(s->ListView1), 0);
}

}  // namespace
