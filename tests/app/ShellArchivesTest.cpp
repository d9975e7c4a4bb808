// The Unzip command with the real engines: zip, RAR and 7z archives side by
// side, damaged ones reported while the walk goes on, and missing engine DLLs.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ShellPaths.h"
#include "ShellTestSupport.h"
#include "ZipCommand.h"
#include "rar/RarTestSupport.h"

namespace {

// Files of varied bytes that compress a little.
std::vector<std::pair<std::string, std::string>> Parts(int Count, size_t Size) {
  std::vector<std::pair<std::string, std::string>> parts;
  uint32_t x = 7;
  for (int i = 0; i < Count; ++i) {
    std::string data(Size, '\0');
    for (char& c : data) c = static_cast<char>("abcdefgh"[(x = x * 1103515245u + 12345u) >> 29]);
    parts.push_back({"part" + std::to_string(i) + ".txt", data});
  }
  return parts;
}

TEST(ShellArchives, ZipRarAnd7zLandInTheirOwnFolders) {
  ASSERT_NE(std::getenv("QUARN_7Z_FIXTURES"), nullptr) << "run through ctest: the 7z archives come from a fixture";
  Tree t;
  WriteWholeFile(t / "a.zip", ZipOf({{"z/zip.txt", "from the zip"}}));
  CopyInto(RarFixture("basic.rar"), t / "b.rar");
  CopyInto(SevenZipFixture("basic.7z"), t / "c.7z");
  CopyInto(RarFixture("damaged.rar"), t / "d.rar");
  CopyInto(SevenZipFixture("crc.7z"), t / "e.7z");
  CopyInto(RarFixture("vol.part1.rar"), t / "vol.part1.rar");
  CopyInto(RarFixture("vol.part2.rar"), t / "vol.part2.rar");
  CreateDirectoryA((t / "out").c_str(), nullptr);
  CreateDirectoryA((t / "out\\c").c_str(), nullptr);
  CreateDirectoryA((t / "out\\c\\dir").c_str(), nullptr);
  WriteWholeFile(t / "out\\c\\dir\\a.txt", "replaced without asking");

  Unzipper u;
  std::vector<std::string> archives;
  for (const char* name : {"a.zip", "b.rar", "c.7z", "d.rar", "e.7z", "vol.part1.rar"}) archives.push_back(t / name);
  const TUnzipResult r = u.Run(archives, t / "out");

  EXPECT_EQ(ReadWholeFile(t / "out\\a\\z\\zip.txt"), "from the zip");
  EXPECT_EQ(ReadWholeFile(t / "out\\b\\hello.txt"), "Hello from Quarn\r\n");
  EXPECT_TRUE(GetFileAttributesA((t / "out\\b\\emptydir").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ReadWholeFile(t / "out\\c\\dir\\a.txt"), "alpha\n");
  EXPECT_EQ(ReadWholeFile(t / "out\\c\\dir\\sub\\b.txt"), "beta beta\n");
  EXPECT_EQ(ReadWholeFile(t / "out\\vol\\big.bin"), rartest::Pattern(100000, 3));  // a volume set

  // The damaged archives did not stop the walk; the report names both.
  EXPECT_FALSE(LinesAbout(r, t / "d.rar").empty());
  EXPECT_FALSE(LinesAbout(r, t / "e.7z").empty());
  EXPECT_EQ(r.Report.size(), LinesAbout(r, t / "d.rar").size() + LinesAbout(r, t / "e.7z").size());
}

// Every archive of a batch is attempted, whatever failed before it and
// whichever engine reads it; afterwards the list is empty and one box names
// each failure, in list order, with the notes after them; notes alone come in
// an information box.
TEST(ShellArchives, EveryArchiveOfABatchIsAttemptedAndNamedOnce) {
  Tree t;
  WriteWholeFile(t / "a.zip", ZipOf({{"z/zip.txt", "from the zip"}}));
  CopyInto(RarFixture("basic.rar"), t / "b.rar");
  CopyInto(SevenZipFixture("basic.7z"), t / "c.7z");
  CopyInto(SevenZipFixture("basic.7z"), t / "seven.zip");
  std::string corrupt = ZipOf({{"ok.txt", "fine"}, {"bad.txt", "will be damaged"}});
  corrupt[corrupt.find("bad.txt") + 8] ^= 0x55;  // inside the second member's data
  WriteWholeFile(t / "corrupt.zip", corrupt);
  WriteWholeFile(t / "empty.zip", "");
  WriteWholeFile(t / "text.zip", "a text file that was renamed\r\n");
  CopyInto(RarFixture("damaged.rar"), t / "damaged.rar");
  CopyInto(SevenZipFixture("crc.7z"), t / "crc.7z");
  WriteWholeFile(t / "notes.txt", "notes");
  const struct {
    const char* Name;
    const char* File;  // a file it gives (below its folder), or none
    const char* Content;
    const char* Line;  // its first line in the box, after "<archive>: "; a problem unless Note
    bool Note;
  } archives[] = {
      {"a.zip", "z\\zip.txt", "from the zip", nullptr, false},
      {"b.rar", "hello.txt", "Hello from Quarn\r\n", nullptr, false},
      {"c.7z", "dir\\a.txt", "alpha\n", nullptr, false},
      {"seven.zip", "dir\\a.txt", "alpha\n", "it is a 7z archive, though its name says zip; extracted as 7z.", true},
      {"corrupt.zip", "ok.txt", "fine", "CRC Error in \"bad.txt\".", false},
      {"empty.zip", nullptr, nullptr, "", false},
      {"text.zip", nullptr, nullptr, "", false},
      {"damaged.rar", nullptr, nullptr, "", false},
      {"crc.7z", nullptr, nullptr, "", false},
      {"notes.txt", nullptr, nullptr, "not an archive of a kind Quarn extracts; skipped.", false},
  };
  const std::vector<std::vector<int>> batches = {
      {0, 4, 2},                       // a failed zip between two good archives
      {0, 5, 1, 6, 2, 7, 8, 3, 9},     // an empty zip second, every kind of failure mixed in
      {9, 8, 7, 6, 5, 4, 3, 2, 1, 0},  // the same the other way round
      {3, 0},                          // notes alone
  };
  for (size_t b = 0; b < batches.size(); ++b) {
    SCOPED_TRACE("batch " + std::to_string(b));
    const std::string out = t / ("out" + std::to_string(b));
    Shell s;
    SetWindowTextA(s->Edit1, out.c_str());
    for (int i : batches[b]) s->AddPathToList(s->ListView1, t / archives[i].Name, TForm1::TIconRule::Archive);
    s->BitBtn1Click();
    EXPECT_EQ(ItemCount(s->ListView1), 0);
    ASSERT_EQ(s.UI->Boxes.size(), 1u);
    const std::string& box = s.UI->Boxes[0].Text;
    bool failures = false;
    size_t last = 0;
    for (int i : batches[b]) {
      const auto& a = archives[i];
      if (a.File != nullptr) {
        EXPECT_EQ(ReadWholeFile(OutputFolderOf(out, t / a.Name) + "\\" + a.File), a.Content) << a.Name;
      }
      if (a.Line == nullptr) {
        EXPECT_EQ(box.find(t / a.Name), std::string::npos) << a.Name;
        continue;
      }
      failures |= !a.Note;
      const size_t at = box.find("\r\n" + (t / a.Name) + ": " + a.Line);
      EXPECT_NE(at, std::string::npos) << a.Name << "\n" << box;
      if (!a.Note && at != std::string::npos) {
        EXPECT_GT(at, last) << a.Name << " out of the list's order\n" << box;
        last = at;
      }
    }
    EXPECT_EQ(s.UI->Boxes[0].Title, failures ? "Error" : "Information");
    if (failures) {
      EXPECT_EQ(box.rfind("These archives were not extracted completely:", 0), 0u) << box;
      const size_t notes = box.find("Please note:");
      const size_t noted = box.find((t / "seven.zip") + ": ");
      if (noted != std::string::npos) {
        EXPECT_LT(last, noted) << "the notes come after the failures\n" << box;
      }
      EXPECT_EQ(notes != std::string::npos, noted != std::string::npos) << box;
    }
  }
}

// A part of a set that is not beside the others is asked for through the
// user interface, once, by every reader of sets (the UnRAR library's
// volumes, the 7-Zip engine's numbered pieces and spanned zips): the part
// named there is read; without an answer the report names the missing part
// and the walk goes on.
TEST(ShellArchives, AMissingPartIsAskedForThroughTheUserInterface) {
  const struct {
    const char* Set;
    std::vector<std::string> Parts;  // the one the set is extracted through first
    std::string Moved;               // the part moved away
    std::string (*Fixture)(const std::string&);
    std::string File;  // a file of the set, and its content
    std::string Content;
  } sets[] = {
      {"RAR volumes",
       {"vol.part1.rar", "vol.part2.rar"},
       "vol.part2.rar",
       RarFixture,
       "vol\\big.bin",
       rartest::Pattern(100000, 3)},
      {"7z pieces",
       {"vol.7z.001", "vol.7z.002", "vol.7z.003", "vol.7z.004"},
       "vol.7z.002",
       SevenZipFixture,
       "vol\\volume-data.bin",
       ""},
      {"spanned zip", {"spanned.zip", "spanned.z01"}, "spanned.z01", SevenZipFixture, "spanned\\volume-data.bin", ""},
  };
  const std::string volumeData = ReadWholeFile(SevenZipFixture("volume-data.bin"));
  ASSERT_EQ(volumeData.size(), 100000u);
  for (const auto& set : sets) {
    Tree t;
    CreateDirectoryA((t / "moved").c_str(), nullptr);
    for (const std::string& part : set.Parts)
      CopyInto(set.Fixture(part), part == set.Moved ? t / ("moved\\" + part) : t / part);
    WriteWholeFile(t / "after.zip", ZipOf({{"after.txt", "after"}}));
    const std::string content = set.Content.empty() ? volumeData : set.Content;
    for (bool answered : {true, false}) {
      SCOPED_TRACE(std::string(set.Set) + (answered ? ": answered" : ": cancelled"));
      const std::string out = t / (answered ? "out-answered" : "out-cancelled");
      Unzipper u;
      if (answered) u.UI.VolumeAnswers = {t / ("moved\\" + set.Moved)};
      const TUnzipResult r = u.Run({t / set.Parts[0], t / "after.zip"}, out);
      EXPECT_EQ(u.UI.VolumeAsks, std::vector<std::string>{t / set.Moved});
      if (answered) {
        EXPECT_EQ(ReadWholeFile(out + "\\" + set.File), content);
        EXPECT_EQ(LinesAbout(r, t / set.Parts[0]), std::vector<std::string>{});
      } else {
        EXPECT_FALSE(Exists(out + "\\" + set.File));
        const std::vector<std::string> lines = LinesAbout(r, t / set.Parts[0]);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], "the part \"" + set.Moved + "\" of the set is missing.");
      }
      EXPECT_EQ(ReadWholeFile(out + "\\after\\after.txt"), "after");
    }
  }
}

// A zip that gives nothing, or whose directory lists members cut away from
// the file, is named in the report; what could be taken is extracted.
TEST(ShellArchives, AZipThatGivesNothingOrLacksMembersIsNamed) {
  Tree t;
  WriteWholeFile(t / "empty.zip", ZipOf({}));
  const std::string whole = ZipOf({{"a.txt", "first"}, {"b.txt", "second"}});
  WriteWholeFile(t / "cut.zip", whole.substr(whole.find("PK\x03\x04", 4)));  // the tail of a bigger file
  Unzipper u;
  const TUnzipResult r = u.Run({t / "empty.zip", t / "cut.zip"}, t / "out");
  EXPECT_EQ(LinesAbout(r, t / "empty.zip"), std::vector<std::string>{"it holds no members; nothing was extracted."});
  EXPECT_EQ(ReadWholeFile(t / "out\\cut\\b.txt"), "second");
  EXPECT_EQ(LinesAbout(r, t / "cut.zip"),
            std::vector<std::string>{
                "\"a.txt\" cannot be extracted: its data lie in a part of the archive that this file lacks."});
}

// Every step told is of the whole, none is less than the one before, and the
// last is the whole.
void ExpectRisingTo(const std::vector<std::pair<uint64_t, uint64_t>>& steps, uint64_t whole) {
  ASSERT_FALSE(steps.empty());
  for (size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].second, whole);
    if (i > 0) {
      EXPECT_GE(steps[i].first, steps[i - 1].first) << i;
    }
  }
  EXPECT_EQ(steps.back().first, whole);
}

// The walk's progress is weighted by the archives' sizes (a set's by all its
// parts): it never runs back and ends at the whole.
TEST(ShellArchives, ProgressNeverRunsBackAndReachesTheWhole) {
  Tree t;
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < 20; ++i) members.push_back({"m" + std::to_string(i), std::string(50000 + i, 'a' + i % 26)});
  WriteWholeFile(t / "a.zip", ZipOf(members));
  CopyInto(SevenZipFixture("m-lzma2.7z"), t / "b.7z");
  CopyInto(RarFixture("basic.rar"), t / "c.rar");
  // A tarball inside a compressor: its progress is the compressed bytes read.
  WriteWholeFile(t / "d.tar.gz", TarGzOf(Parts(8, 400000)));
  // A set of pieces weighs all its parts; its later part listed too, nothing.
  uint64_t set = 0;
  for (const char* part : {"vol.7z.001", "vol.7z.002", "vol.7z.003", "vol.7z.004"}) {
    CopyInto(SevenZipFixture(part), t / part);
    set += WeightOf(t / part);
  }
  RecordingProgress progress;
  Unzipper u;
  u.Progress = &progress;
  const TUnzipResult r =
      u.Run({t / "a.zip", t / "b.7z", t / "vol.7z.001", t / "c.rar", t / "vol.7z.003", t / "d.tar.gz"}, t / "out");
  EXPECT_TRUE(r.Report.empty());
  ASSERT_GT(progress.Steps.size(), 4u);
  ExpectRisingTo(progress.Steps, WeightOf(t / "a.zip") + WeightOf(t / "b.7z") + set + WeightOf(t / "c.rar") + 1 +
                                     WeightOf(t / "d.tar.gz"));
  EXPECT_EQ(ReadWholeFile(t / "out\\d\\part7.txt"), Parts(8, 400000)[7].second);
}

// One stop ends every archive running at its next safe point (inside a
// compressed tarball both engine calls end, the compressor's on its thread
// too): the files done stay whole, the ones being written go, and the
// archives stopped inside and those not reached are left unfinished.
TEST(ShellArchives, AStopEndsEveryArchiveAtItsNextSafePoint) {
  Tree t;
  const auto parts = Parts(30, 1000000);
  for (const char* name : {"d.tar.gz", "e.tar.gz", "f.tar.gz"}) WriteWholeFile(t / name, TarGzOf(parts));

  RecordingProgress progress;
  progress.StopAt = 0;
  progress.StopAfter = 2;
  Unzipper u;
  u.AtOnce = 2;
  u.Progress = &progress;
  const TUnzipResult r = u.Run({t / "d.tar.gz", t / "e.tar.gz", t / "f.tar.gz"}, t / "out");
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(r.Unfinished, (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(r.Report.back(), "Stopped by the user: 1 archive(s) not reached stay in the list.");
  int whole = 0;
  for (const char* folder : {"d", "e"})
    for (const auto& p : parts) {
      const std::string path = t / ("out\\" + std::string(folder) + "\\" + p.first);
      if (!Exists(path)) continue;
      EXPECT_EQ(ReadWholeFile(path), p.second) << p.first;
      ++whole;
    }
  EXPECT_LT(whole, 60);
  EXPECT_FALSE(Exists(t / "out\\f"));
}

// Several archives at a time give exactly what one after another gives: the
// same files (archives whose folders would be one take turns, folders beside
// the archives take their names in the list's order) and the same report in
// the list's order, though a later archive fails long before an earlier one.
TEST(ShellArchives, SeveralAtATimeGiveWhatOneAfterAnotherGives) {
  Tree t;
  std::vector<std::pair<std::string, std::string>> members = Parts(40, 200000);
  members.push_back({"last.txt", "damaged at the very end of a long archive"});
  std::string late = ZipOf(members);
  late[late.find("last.txt") + 9] ^= 0x55;  // inside the last member's data
  // A long zip whose last member the 7z archive of its folder's name, after
  // it in the list, replaces.
  members.back() = {"dir/a.txt", "from the zip, replaced by the 7z archive after it"};
  const std::string slow = ZipOf(members);
  const struct {
    const char* Name;
    std::string Data;
  } made[] = {
      {"late.zip", late}, {"a.zip", slow}, {"notes.txt", "not an archive"}, {"tarred.tar.gz", TarGzOf(Parts(4, 50000))},
      {"empty.zip", ""},
  };
  for (const char* place : {"in1", "in4"}) {
    CreateDirectoryA((t / place).c_str(), nullptr);
    for (const auto& m : made) WriteWholeFile(t / (std::string(place) + "\\" + m.Name), m.Data);
    CopyInto(RarFixture("damaged.rar"), t / (std::string(place) + "\\damaged.rar"));
    CopyInto(RarFixture("basic.rar"), t / (std::string(place) + "\\basic.rar"));
    CopyInto(SevenZipFixture("basic.7z"), t / (std::string(place) + "\\a.7z"));  // the folder of a.zip
    CopyInto(SevenZipFixture("crc.7z"), t / (std::string(place) + "\\crc.7z"));
  }
  const std::vector<std::string> names = {"late.zip",  "damaged.rar", "a.zip",         "basic.rar", "a.7z",
                                          "notes.txt", "crc.7z",      "tarred.tar.gz", "empty.zip"};
  for (bool here : {false, true}) {
    SCOPED_TRACE(here ? "beside the archives" : "below a destination");
    TUnzipResult results[2];
    for (int k = 0; k < 2; ++k) {
      const std::string place = t / (k == 0 ? "in1" : "in4");
      std::vector<std::string> archives;
      for (const std::string& n : names) archives.push_back(place + "\\" + n);
      Unzipper u;
      u.AtOnce = k == 0 ? 1 : 4;
      results[k] = here ? u.RunHere(archives) : u.Run(archives, place + "\\out");
      for (std::vector<std::string>* lines : {&results[k].Report, &results[k].Notes})
        for (std::string& line : *lines)
          for (size_t at; (at = line.find(place)) != std::string::npos;) line.erase(at, place.size());
    }
    EXPECT_EQ(results[1].Report, results[0].Report);
    EXPECT_EQ(results[1].Notes, results[0].Notes);
    EXPECT_EQ(LinesAbout(results[0], "\\late.zip").size(), 1u);
    EXPECT_EQ(TreeOf(t / "in4"), TreeOf(t / "in1"));
  }
}

// A password question for one archive lets the others go on: here the
// question is answered only once the plain archive beside it is out.
TEST(ShellArchives, APasswordQuestionLetsTheOtherArchivesGoOn) {
  Tree t;
  CopyInto(SevenZipFixture("enc-names.7z"), t / "enc-names.7z");  // headers encrypted, Secret1
  WriteWholeFile(t / "plain.zip", ZipOf(Parts(20, 100000)));
  Unzipper u;
  u.AtOnce = 2;
  u.UI.PasswordAnswers = {"Secret1"};
  bool plainWasOut = false;
  u.UI.OnPasswordAsked = [&] {
    for (int i = 0; i < 2000 && !plainWasOut; ++i, Sleep(10)) plainWasOut = Exists(t / "out\\plain\\part19.txt");
  };
  const TUnzipResult r = u.Run({t / "enc-names.7z", t / "plain.zip"}, t / "out");
  EXPECT_TRUE(plainWasOut) << "the plain archive was not extracted while the question was up";
  EXPECT_TRUE(r.Report.empty()) << testing::PrintToString(r.Report);
  EXPECT_TRUE(Exists(t / "out\\enc-names\\text0.txt"));
}

// The Zip command's progress moves inside a file too big to be deflated in
// one piece, too, and likewise never runs back.
TEST(ShellZip, ProgressMovesInsideABigFile) {
  Tree t;
  WriteWholeFile(t / "small.txt", "small");
  std::string big(24u << 20, '\0');  // bytes that deflate slowly
  uint32_t x = 2026;
  for (char& c : big) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  WriteWholeFile(t / "big.bin", big);
  RecordingProgress progress;
  const TZipResult r = RunZipCommand({t / "small.txt", t / "big.bin"}, t / "out.zip", progress);
  EXPECT_EQ(r.Added, 2u);
  const uint64_t before = WeightOf(t / "small.txt"), whole = before + WeightOf(t / "big.bin");
  ExpectRisingTo(progress.Steps, whole);
  EXPECT_TRUE(std::any_of(progress.Steps.begin(), progress.Steps.end(),
                          [&](const std::pair<uint64_t, uint64_t>& s) { return s.first > before && s.first < whole; }));
}

// Encrypted archives ask for their password once for the walk: a password
// that worked is tried first on the archives that follow, a wrong one asks
// again (three asks at most, then "wrong password"), Cancel skips the
// archive; the walk goes on in every case.
TEST(ShellArchives, PasswordsAreAskedOncePerWalkAndAgainWhenWrong) {
  Tree t;
  CopyInto(SevenZipFixture("enc.7z"), t / "enc.7z");              // data encrypted, Secret1
  CopyInto(SevenZipFixture("enc-names.7z"), t / "enc-names.7z");  // headers encrypted, Secret1
  CopyInto(RarFixture("password-hp.rar"), t / "hp.rar");          // headers encrypted, Secret123
  CopyInto(RarFixture("password.rar"), t / "p.rar");              // data encrypted, Secret123
  CopyInto(SevenZipFixture("enc-bzip2.zip"), t / "bz.zip");       // bzip2 under AES (the 7-Zip engine), Secret1
  WriteWholeFile(t / "plain.zip", ZipOf({{"plain.txt", "plain"}}));
  struct Case {
    const char* Name;
    std::vector<std::string> Archives;
    std::deque<std::string> Answers;
    std::vector<std::pair<std::string, bool>> Asks;  // (archive, retry) as asked
    std::vector<std::string> Report;
  } cases[] = {
      {"one password for a batch, another for the RAR ones",
       {t / "enc.7z", t / "enc-names.7z", t / "hp.rar", t / "p.rar"},
       {"Secret1", "Secret123"},
       {{t / "enc.7z", false}, {t / "hp.rar", true}},
       {}},
      {"three wrong, then the walk goes on",
       {t / "p.rar", t / "plain.zip"},
       {"a", "b", "c"},
       {{t / "p.rar", false}, {t / "p.rar", true}, {t / "p.rar", true}},
       {(t / "p.rar") + ": wrong password."}},
      {"a wrong one asked again, for a zip the 7-Zip engine reads",
       {t / "bz.zip", t / "plain.zip"},
       {"wrong", "Secret1"},
       {{t / "bz.zip", false}, {t / "bz.zip", true}},
       {}},
      {"cancelled",
       {t / "enc-names.7z", t / "plain.zip"},
       {},
       {{t / "enc-names.7z", false}},
       {(t / "enc-names.7z") + ": skipped: no password was given."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Unzipper u;
    u.AtOnce = 1;  // the order of the questions is the list's
    u.UI.PasswordAnswers = c.Answers;
    const std::string out = t / ("out-" + std::to_string(&c - cases));
    const TUnzipResult r = u.Run(c.Archives, out);
    EXPECT_EQ(u.UI.PasswordAsks, c.Asks);
    EXPECT_EQ(r.Report, c.Report);
    for (const std::string& archive : c.Archives) {
      const std::string folder = OutputFolderOf(out, archive);
      const bool skipped = !c.Report.empty() && c.Report[0].rfind(archive, 0) == 0;
      if (archive.find(".rar") != std::string::npos)
        EXPECT_EQ(Exists(folder + "\\secret.txt"), !skipped) << archive;
      else if (archive.find(".7z") != std::string::npos || archive.find("bz.zip") != std::string::npos)
        EXPECT_EQ(Exists(folder + "\\text0.txt"), !skipped) << archive;
      else
        EXPECT_EQ(ReadWholeFile(folder + "\\plain.txt"), "plain");
    }
  }
}

// The same names give the same files and the same report in all three kinds:
// names of devices get a "_" in front, characters Windows does not allow
// become "_", and each such member is named in the report.
TEST(ShellArchives, OneRuleForItemNamesInEveryKind) {
  Tree t;
  WriteWholeFile(t / "names-zip.zip", ZipOf({{"aux.txt", "aux.txt\n"},
                                             {"sub/COM1.log", "sub/COM1.log\n"},
                                             {"NUL", "NUL\n"},
                                             {"what?.txt", "what?.txt\n"},
                                             {"ok.txt", "ok.txt\n"}}));
  CopyInto(RarFixture("names.rar"), t / "names-rar.rar");
  CopyInto(SevenZipFixture("names.7z"), t / "names-7z.7z");
  Unzipper u;
  const TUnzipResult r = u.Run({t / "names-zip.zip", t / "names-rar.rar", t / "names-7z.7z"}, t / "out");
  const std::vector<std::pair<std::string, std::string>> files = {{"_aux.txt", "aux.txt\n"},
                                                                  {"sub\\_COM1.log", "sub/COM1.log\n"},
                                                                  {"_NUL", "NUL\n"},
                                                                  {"what_.txt", "what?.txt\n"},
                                                                  {"ok.txt", "ok.txt\n"}};
  for (const char* kind : {"zip", "rar", "7z"}) {
    SCOPED_TRACE(kind);
    const std::string archive = std::string("names-") + kind;
    for (const auto& f : files) EXPECT_EQ(ReadWholeFile(t / ("out\\" + archive + "\\" + f.first)), f.second) << f.first;
    EXPECT_TRUE(LinesAbout(r, t / (archive + "." + kind)).empty());
    std::vector<std::string> lines = NotesAbout(r, t / (archive + "." + kind));
    for (std::string& line : lines) std::replace(line.begin(), line.end(), '/', '\\');  // zip names use "/"
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"\"NUL\" was extracted as \"_NUL\".",
                                               "\"aux.txt\" was extracted as \"_aux.txt\".",
                                               "\"sub\\COM1.log\" was extracted as \"sub\\_COM1.log\".",
                                               "\"what?.txt\" was extracted as \"what_.txt\"."}));
  }
}

// The handles of this process, counted by the system's handle table.
int OpenHandleCount() {
  struct TEntry {
    ULONG OwnerPid;
    BYTE ObjectType, Flags;
    USHORT Handle;
    PVOID Object;
    ULONG Access;
  };
  using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ULONG needed = 0;
    const LONG status =
        query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) break;
    if (buffer.size() > (64u << 20)) return -1;
    buffer.resize(buffer.size() * 2);
  }
  const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
  const auto* entries = reinterpret_cast<const TEntry*>(buffer.data() + sizeof(void*));
  int mine = 0;
  for (ULONG i = 0; i < count; ++i) mine += entries[i].OwnerPid == GetCurrentProcessId();
  return mine;
}

// Extracting every kind (a 7z inside an executable and in numbered parts, a
// RAR volume set, damaged archives, zip) leaves no handle open.
TEST(ShellArchives, TheCommandLeavesNoHandleOpen) {
  Tree t;
  WriteWholeFile(t / "a.zip", ZipOf({{"z.txt", "zip"}}));
  std::vector<std::string> archives = {t / "a.zip"};
  for (const char* name : {"vol.part1.rar", "vol.part2.rar", "damaged.rar"}) CopyInto(RarFixture(name), t / name);
  CopyInto(SevenZipFixture("sfx-small.exe"), t / "sfx.7z");  // 7z data inside an executable, named as a 7z archive
  CopyInto(SevenZipFixture("crc.7z"), t / "crc.7z");
  for (const char* part : {"vol.7z.001", "vol.7z.002", "vol.7z.003", "vol.7z.004"}) {
    if (Exists(SevenZipFixture(part))) CopyInto(SevenZipFixture(part), t / part);
  }
  for (const char* name : {"vol.part1.rar", "damaged.rar", "sfx.7z", "crc.7z", "vol.7z.001", "missing.7z"})
    archives.push_back(t / name);
  Unzipper u;
  u.Run(archives, t / "first");  // the engines load once and stay
  const int before = OpenHandleCount();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 8; ++i) u.Run(archives, t / ("again" + std::to_string(i)));
  // A handle kept by each run would show 8 times over; one made once and
  // kept (the runtime makes some lazily, on the threads' first contention)
  // is no leak.
  EXPECT_LE(OpenHandleCount(), before + 1);
  EXPECT_EQ(ReadWholeFile(t / "again7\\vol\\big.bin"), rartest::Pattern(100000, 3));
}

// Archives whose decoders need more of the address space together than the
// walk has for them take turns: three xz files whose headers ask for a
// 512 MiB dictionary each (read through the 7-Zip engine) run two at a time
// in 1.2 GiB, or in what a 32-bit process has; in a 32-bit process the third
// at once would fail for want of memory.
TEST(ShellArchives, DecodersThatDoNotFitTogetherTakeTurns) {
  // The engines' extractors, counting the archives that run at once, each
  // held until the three run or a while passed, so that they overlap.
  struct Counting : IExtractors, IExtractor {
    TEngines Engines;
    std::mutex Lock;
    std::condition_variable Changed;
    int Running = 0, Most = 0;
    std::vector<uint64_t> Memory;
    IExtractor& For(TArchiveKind) override { return *this; }
    uint64_t DecoderMemory(const std::string& Archive, TArchiveKind Kind) override {
      const uint64_t memory = Engines.For(Kind).DecoderMemory(Archive, Kind);
      Memory.push_back(memory);
      return memory;
    }
    TExtractResult Extract(const TExtractRequest& Request) override {
      {
        std::unique_lock<std::mutex> lock(Lock);
        Most = std::max(Most, ++Running);
        Changed.notify_all();
        Changed.wait_for(lock, std::chrono::milliseconds(300), [&] { return Running == 3; });
      }
      const TExtractResult result = Engines.For(Request.Kind).Extract(Request);
      const std::lock_guard<std::mutex> lock(Lock);
      --Running;
      return result;
    }
  } counting;
  Tree t;
  std::vector<std::string> archives;
  for (const char* name : {"a.txt.xz", "b.txt.xz", "c.txt.xz"}) {
    CopyInto(SevenZipFixture("dict512.xz"), t / name);
    archives.push_back(t / name);
  }
  TScriptedUI ui;
  IProgressSink silent;
  TUnzipCommand command(nullptr, ui, silent, counting);
  command.ArchivesAtOnce = 3;
  if (sizeof(void*) == 8) command.MemoryBudget = 1229ull << 20;  // a 32-bit process's, roughly
  const TUnzipResult r = command.Run(archives, t / "out");
  EXPECT_EQ(r.Report, std::vector<std::string>());
  for (const char* name : {"a", "b", "c"})
    EXPECT_EQ(TreeOf(t / "out\\" + name + ".txt"),
              (std::map<std::string, std::string>{{name + std::string(".txt"), "a few bytes behind a big dictionary\n"}}));
  EXPECT_EQ(counting.Memory, std::vector<uint64_t>(3, 512ull << 20));
  EXPECT_EQ(counting.Most, 2);
}

// Without the engine DLLs beside the program: RAR and 7z archives are
// reported and the walk goes on to the next archive. The check runs in a
// copy of this test program in a folder without the DLLs.
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
  WriteWholeFile(t / "d.zip", ZipOf({{"never.txt", "behind both"}}));
  Shell s;
  SetWindowTextA(s->Edit1, (t / "out").c_str());
  for (const char* name : {"b.rar", "c.7z", "d.zip"})
    s->AddPathToList(s->ListView1, t / name, TForm1::TIconRule::Archive);
  s->BitBtn1Click();
  ASSERT_EQ(s.UI->Boxes.size(), 1u);
  const std::string& report = s.UI->Boxes[0].Text;
  EXPECT_NE(report.find((t / "b.rar") + ": UnRar.Dll not loaded"), std::string::npos) << report;
  EXPECT_NE(report.find((t / "c.7z") + ": Could not load CreateObject function from 7za.dll"), std::string::npos)
      << report;
  EXPECT_FALSE(Exists(t / "out\\b"));  // made before the component ran, and gone again: it received nothing
  EXPECT_EQ(ReadWholeFile(t / "out\\d\\never.txt"), "behind both");
  EXPECT_EQ(ItemCount(s->ListView1), 0);
}

}  // namespace
