// The walk and what comes from the web: every file written out of a marked
// archive keeps its mark of the web, zip bombs are refused before they write,
// and an archive that cannot fit is not started (a disk that fills up all
// the same ends only its own archive).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include "Files.h"
#include "ShellPaths.h"
#include "ShellTestSupport.h"
#include "Text.h"

namespace {

const char kHost[] = "https://downloads.example.org/files/";

// What a browser writes beside a download.
std::string BrowserMark(const std::string& Name) {
  return "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://example.org/page.html\r\nHostUrl=" + std::string(kHost) +
         Name + "\r\n";
}

std::wstring StreamOf(const std::string& Path) { return AnsiToWide(Path) + L":Zone.Identifier"; }

void Mark(const std::string& Path, const std::string& Mark) {
  const HANDLE h = CreateFileW(StreamOf(Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << Path;
  DWORD written = 0;
  WriteFile(h, Mark.data(), static_cast<DWORD>(Mark.size()), &written, nullptr);
  CloseHandle(h);
}

// The mark of the file or folder at Path; "" when it has none.
std::string MarkOf(const std::string& Path) {
  const HANDLE h =
      CreateFileW(StreamOf(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string text(4096, '\0');
  DWORD got = 0;
  ReadFile(h, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
  CloseHandle(h);
  return text.substr(0, got);
}

// Every file below Folder: "relative\path (size)", sorted.
void FilesUnder(const std::string& Folder, const std::string& Prefix, std::vector<std::string>& Files) {
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA((Folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      FilesUnder(Folder + "\\" + name, Prefix + name + "\\", Files);
    else
      Files.push_back(Prefix + name + " (" + std::to_string(data.nFileSizeLow) + ")");
  } while (FindNextFileA(find, &data));
  FindClose(find);
}
std::vector<std::string> FilesUnder(const std::string& Folder) {
  std::vector<std::string> files;
  FilesUnder(Folder, "", files);
  std::sort(files.begin(), files.end());
  return files;
}

// Each engine and kind, from an archive carrying a browser's mark and from
// the same archive without one: every file written carries the archive's zone
// and host, with the archive itself as the referrer, or no mark at all; no
// folder is marked. Files made as copies of links, the one file of a
// compressed file and the files of a tarball read through its compressor are
// written like any other.
TEST(WebSafety, EveryFileWrittenCarriesTheArchivesMarkAndNoFolderDoes) {
  ASSERT_NE(std::getenv("QUARN_7Z_FIXTURES"), nullptr) << "run through ctest: the 7z archives come from a fixture";
  struct Kind {
    const char* Name;
    const char* Extension;
    std::string Archive;
    std::vector<std::string> Files, Folders;  // in the archive's folder; "%s": the archive's name without extension
  };
  const Kind kinds[] = {
      {"zip", ".zip", ZipOf({{"d/a.txt", "a\n"}, {"b.txt", "b\n"}}), {"d\\a.txt", "b.txt"}, {"d"}},
      {"7z",
       ".7z",
       ReadWholeFile(SevenZipFixture("basic.7z")),
       {"dir\\a.txt", "dir\\sub\\b.txt", "Ünïcødé 文件\\файл.txt", "empty.txt", "ro.txt"},
       {"dir", "dir\\sub", "emptydir", "Ünïcødé 文件"}},
      {"rar",
       ".rar",
       ReadWholeFile(RarFixture("basic.rar")),
       {"café à l'été.txt", "dir\\sub\\nested.bin", "hello.txt"},
       {"dir", "dir\\sub", "emptydir"}},
      {"tarball", ".tar.gz", TarGzOf({{"p/one.txt", "1\n"}, {"two.txt", "2\n"}}), {"p\\one.txt", "two.txt"}, {"p"}},
      {"links",
       ".tar",
       TarOf({{"t/target.txt", "target\n"},
              {"t/soft.txt", "", '2', "target.txt"},
              {"hard.txt", "", '1', "t/target.txt"}}),
       {"t\\target.txt", "t\\soft.txt", "hard.txt"},
       {"t"}},
      {"single", ".txt.gz", GzipOf("a note\n"), {"%s.txt"}, {}},
  };
  Tree t;
  std::vector<std::string> archives;
  for (const Kind& kind : kinds)
    for (const char* mark : {"-marked", "-plain"}) {
      const std::string name = kind.Name + std::string(mark) + kind.Extension;
      WriteWholeFile(t / name, kind.Archive);
      if (std::string(mark) == "-marked") Mark(t / name, BrowserMark(name));
      archives.push_back(t / name);
    }
  Unzipper u;
  const TUnzipResult r = u.Run(archives, t / "out");
  EXPECT_EQ(r.Report, std::vector<std::string>());
  EXPECT_EQ(r.Notes, std::vector<std::string>());

  for (const Kind& kind : kinds)
    for (const char* mark : {"-marked", "-plain"}) {
      const std::string stem = kind.Name + std::string(mark), archive = t / (stem + kind.Extension);
      SCOPED_TRACE(archive);
      const std::string expected = std::string(mark) == "-plain"
                                       ? ""
                                       : "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=" + archive +
                                             "\r\nHostUrl=" + kHost + stem + kind.Extension + "\r\n";
      const std::string folder = OutputFolderOf(t / "out", archive);
      for (const std::string& file : kind.Files) {
        const std::string path = folder + "\\" + WithName(file.c_str(), stem);
        EXPECT_TRUE(FileExists(path)) << path;
        EXPECT_EQ(MarkOf(path), expected) << path;
      }
      EXPECT_EQ(MarkOf(folder), "");
      for (const std::string& sub : kind.Folders) {
        EXPECT_TRUE(DirectoryExists(folder + "\\" + sub)) << sub;
        EXPECT_EQ(MarkOf(folder + "\\" + sub), "") << sub;
      }
    }
}

// An archive extracted out of a marked archive carries the mark, naming the
// outer archive; extracted in turn (here beside itself, as Explorer's verb
// does), its files carry the zone on, naming the inner one. A mark without a
// host gives marks without one; one saved in UTF-8 with its byte order mark
// (as an editor saves it) is read like any other.
TEST(WebSafety, AnArchiveExtractedOutOfAMarkedOneMarksItsFilesInTurn) {
  Tree t;
  WriteWholeFile(t / "outer.zip", ZipOf({{"inner.zip", ZipOf({{"a.txt", "a\n"}, {"b.txt", "b\n"}})}}));
  Mark(t / "outer.zip", "\xEF\xBB\xBF[ZoneTransfer]\r\nZoneId=4\r\n");
  Unzipper u;
  EXPECT_EQ(u.Run({t / "outer.zip"}, t / "out").Report, std::vector<std::string>());
  const std::string inner = t / "out\\outer\\inner.zip";
  EXPECT_EQ(MarkOf(inner), "[ZoneTransfer]\r\nZoneId=4\r\nReferrerUrl=" + t / "outer.zip" + "\r\n");
  EXPECT_EQ(u.RunHere({inner}).Report, std::vector<std::string>());
  for (const char* name : {"a.txt", "b.txt"})
    EXPECT_EQ(MarkOf(t / "out\\outer\\inner\\" + name), "[ZoneTransfer]\r\nZoneId=4\r\nReferrerUrl=" + inner + "\r\n");
}

// Zips whose members share their data (made here by the two constructions of
// zip bombs, each about a megabyte per member) write nothing of the members
// from the first overlap on: the ones before it are kept, the archive is
// named, and the batch goes on.
TEST(WebSafety, ZipBombsAreRefusedBeforeTheyWrite) {
  struct Bomb {
    const char* Name;
    std::string Archive;
    int Members;
    std::vector<std::string> Kept;
  };
  const Bomb bombs[] = {
      {"full.zip", FullOverlapZip(40, 1 << 20, true), 40, {"readme.txt (8)"}},
      {"quoted.zip", QuotedOverlapZip(30, 1 << 20), 30, {}},
  };
  Tree t;
  std::vector<std::string> archives;
  for (const Bomb& bomb : bombs) {
    WriteWholeFile(t / bomb.Name, bomb.Archive);
    archives.push_back(t / bomb.Name);
  }
  WriteWholeFile(t / "after.zip", ZipOf({{"after.txt", "after\n"}}));
  archives.push_back(t / "after.zip");
  Unzipper u;
  const TUnzipResult r = u.Run(archives, t / "out");
  for (const Bomb& bomb : bombs) {
    SCOPED_TRACE(bomb.Name);
    EXPECT_EQ(LinesAbout(r, t / bomb.Name),
              std::vector<std::string>{"its members overlap one another, as in a zip bomb: " +
                                       std::to_string(bomb.Members) + " members were not extracted."});
    EXPECT_EQ(FilesUnder(OutputFolderOf(t / "out", t / bomb.Name)), bomb.Kept);
  }
  EXPECT_EQ(ReadWholeFile(t / "out\\after\\after.txt"), "after\n");
}

// The small drive the ctest fixture mounted ("Q:"), or "" and why there is none.
std::string SmallDrive(std::string& Why) {
  const char* info = std::getenv("QUARN_SMALL_DRIVE");
  if (info == nullptr) {
    Why = "no small drive: run through ctest, whose fixture mounts it";
    return "";
  }
  std::string path = info;
  std::replace(path.begin(), path.end(), '/', '\\');
  std::string line = Exists(path) ? ReadWholeFile(path) : "skip: no small drive: its fixture wrote nothing";
  line = line.substr(0, line.find('\n'));
  if (line.rfind("skip: ", 0) == 0) Why = line.substr(6);
  return Why.empty() ? line : "";
}

// On a drive of 1 MiB, archives whose stated sizes cannot fit are not started
// (zip, 7z, RAR: nothing is written, not even their folder), and the report
// says what they need and what is free there. Archives that state no sizes (a
// tarball through its compressor, a zip without its directory) fill the disk:
// the file being written goes, the archive is named, and the next archive is
// extracted.
TEST(WebSafety, AnArchiveThatCannotFitIsNotStartedAndAFullDiskEndsOnlyItsArchive) {
  std::string why;
  const std::string drive = SmallDrive(why);
  if (drive.empty()) GTEST_SKIP() << why;
  const std::string big = RandomBytes(2 << 20, 5);
  // A zip without its directory: its members are found by their local headers.
  std::string cut = BuildArchive({{"first.txt", "first\n", 0}, {"big.bin", big, 0}});
  uint32_t directory = 0;
  std::memcpy(&directory, cut.data() + cut.size() - 6, 4);
  cut.resize(directory);
  struct Case {
    const char* Name;
    std::string Archive;
    std::string Line;  // a regular expression
    std::vector<std::string> Files;
  };
  const std::string noRoom = "not extracted: it needs %s; [0-9.]+ [KM]B are free on " + drive + "\\.";
  const std::string full = "the disk is full: the extraction stopped at \"big\\.bin\", which was removed\\.";
  const Case cases[] = {
      {"big-zip.zip", ZipOf({{"zeros.bin", std::string(2 << 20, '\0')}}), WithName(noRoom.c_str(), "2\\.0 MB"), {}},
      {"big-7z.7z", ReadWholeFile(SevenZipFixture("big.7z")), WithName(noRoom.c_str(), "32\\.0 MB"), {}},
      {"big-rar.rar", ReadWholeFile(RarFixture("big.rar")), WithName(noRoom.c_str(), "32\\.0 MB"), {}},
      {"tarball.tar.gz", TarGzOf({{"first.txt", "first\n"}, {"big.bin", big}}), full, {"first.txt (6)"}},
      {"cut.zip", cut, full, {"first.txt (6)"}},
      {"after.zip", ZipOf({{"after.txt", "after\n"}}), "", {"after.txt (6)"}},
  };
  Tree t;
  const std::string out = drive + "\\out-" + std::to_string(GetCurrentProcessId());
  std::vector<std::string> archives;
  for (const Case& c : cases) {
    WriteWholeFile(t / c.Name, c.Archive);
    archives.push_back(t / c.Name);
  }
  Unzipper u;
  u.AtOnce = 1;  // which archive fills the disk is the list's order
  const TUnzipResult r = u.Run(archives, out);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<std::string> lines = LinesAbout(r, t / c.Name);
    EXPECT_EQ(lines.size(), c.Line.empty() ? 0u : 1u);
    for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, std::regex(c.Line))) << line;
    const std::string folder = OutputFolderOf(out, t / c.Name);
    EXPECT_EQ(DirectoryExists(folder), !c.Files.empty());
    EXPECT_EQ(FilesUnder(folder), c.Files);
  }
}

}  // namespace
