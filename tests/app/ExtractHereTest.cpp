// Extraction beside the archives: the command's folder rules with the real
// engines.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ShellTestSupport.h"

namespace {

// Everything below Folder: "a\b.txt" for files, "a\" for folders, sorted.
std::set<std::string> Listing(const std::string& Folder, const std::string& Prefix = "") {
  std::set<std::string> names;
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA((Folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      names.insert(Prefix + name + "\\");
      for (const std::string& below : Listing(Folder + "\\" + name, Prefix + name + "\\")) names.insert(below);
    } else {
      names.insert(Prefix + name);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
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
  const std::set<std::string> before = Listing(t.Path());

  NoticeSink notices;
  Unzipper u;
  u.Progress = &notices;
  const std::vector<std::string> archives = {t / "a.zip",     t / "b.rar",      t / "c.7z",     t / "src.zip",
                                             t / "other.zip", t / "photos.zip", t / "docs.zip", t / "bad.rar"};
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
  };
  for (const auto& f : files) EXPECT_EQ(ReadWholeFile(t / f.File), f.Content) << f.File;
  std::set<std::string> top;
  for (const std::string& name : Listing(t.Path()))
    if (name.find('\\') == std::string::npos || name.find('\\') == name.size() - 1) top.insert(name);
  std::set<std::string> expected;
  for (const std::string& name : before)
    if (name.find('\\') == std::string::npos || name.find('\\') == name.size() - 1) expected.insert(name);
  for (const char* made : {"a\\", "b\\", "c\\", "src\\", "other\\", "photos (3)\\", "docs (2)\\"})
    expected.insert(made);
  EXPECT_EQ(top, expected);  // no folder for bad.rar, nothing left of the lift
  EXPECT_EQ(Listing(t / "photos"), std::set<std::string>{"p.jpg"});
  EXPECT_TRUE(Listing(t / "docs").empty());
  EXPECT_EQ(Listing(t / "src"), (std::set<std::string>{"a.txt", "src\\", "src\\b.txt"}));

  EXPECT_EQ(r.FailedArchive, "");
  EXPECT_FALSE(LinesAbout(r, t / "bad.rar").empty());
  EXPECT_EQ(r.Report.size(), LinesAbout(r, t / "bad.rar").size());
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

}  // namespace
