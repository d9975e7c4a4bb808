// Extraction through TSevenZip and the real 7za.dll, on archives made by the
// Linux 7-Zip tools before the tests run (make-fixtures.sh).

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "SevenZip.h"
#include "SevenZipTestSupport.h"
#include "WideTree.h"

namespace {
const std::wstring kUnicodeDir = L"\u00dcn\u00efc\u00f8d\u00e9 \u6587\u4ef6";
const std::wstring kUnicodeFile = L"\u0444\u0430\u0439\u043b.txt";

class SevenZipExtract : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(FixtureDir().empty()) << "QUARN_7Z_FIXTURES is not set";
    ASSERT_TRUE(Exists(Fixture(L"basic.7z"))) << "fixtures missing in the folder of QUARN_7Z_FIXTURES";
    sz = new TSevenZip(&owner);
    log.Attach(*sz);
    sz->ExtrBaseDir = out.PathW();
    sz->ExtractOptions = ExtractOverwrite;
  }
  int32_t Run(const std::wstring& archive, bool test = false) {
    sz->SZFileName = Fixture(archive);
    return sz->Extract(test);
  }
  std::string Source(const std::wstring& rel) { return ReadAll(Fixture(rel)); }

  TComponent owner{nullptr};
  TSevenZip* sz = nullptr;
  ScratchDir out;
  TMessageLog log;
};

FILETIME LastWrite(const std::wstring& path) {
  FILETIME ft{};
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    GetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
  }
  return ft;
}

int64_t UnixSeconds(const FILETIME& ft) {
  const uint64_t t = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(t / 10000000ull) - 11644473600ll;
}
}  // namespace

TEST_F(SevenZipExtract, FoldersUnicodeEmptyAndReadOnlyItems) {
  EXPECT_EQ(Run(L"basic.7z"), 0);
  EXPECT_TRUE(log.Items.empty());
  EXPECT_EQ(ReadAll(out / L"dir\\a.txt"), Source(L"tree\\dir\\a.txt"));
  EXPECT_EQ(ReadAll(out / L"dir\\sub\\b.txt"), Source(L"tree\\dir\\sub\\b.txt"));
  EXPECT_EQ(ReadAll(out / (kUnicodeDir + L"\\" + kUnicodeFile)),
            Source(L"tree\\" + kUnicodeDir + L"\\" + kUnicodeFile));
  EXPECT_TRUE(DirectoryExistsW(out / L"emptydir"));
  EXPECT_EQ(ReadAll(out / L"empty.txt"), "");
  EXPECT_EQ(ReadAll(out / L"ro.txt"), "read only\n");
  EXPECT_NE(GetFileAttributesW((out / L"ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(GetFileAttributesW((out / L"dir\\a.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  // The item's time (2020-05-06 07:08:10 UTC), to the DOS stamp's 2 seconds.
  EXPECT_NEAR(static_cast<double>(UnixSeconds(LastWrite(out / L"dir\\a.txt"))), 1588748890.0, 2.0);
}

TEST_F(SevenZipExtract, EveryMethodAndSolidArchive) {
  const wchar_t* names[] = {L"text0.txt", L"text1.txt", L"text2.txt", L"text3.txt", L"random.bin"};
  for (const wchar_t* archive :
       {L"m-lzma.7z", L"m-lzma2.7z", L"m-ppmd.7z", L"m-bzip2.7z", L"m-bcj.7z", L"m-solid.7z", L"m-store.7z"}) {
    SCOPED_TRACE(std::string(WideToAnsi(archive)));
    ScratchDir dir;
    sz->ExtrBaseDir = dir.PathW();
    EXPECT_EQ(Run(archive), 0);
    for (const wchar_t* name : names) EXPECT_EQ(ReadAll(dir / name), Source(std::wstring(L"methods\\") + name));
  }
  EXPECT_TRUE(log.Items.empty());
}

TEST_F(SevenZipExtract, EncryptedArchive) {
  sz->Password = L"Secret1";
  EXPECT_EQ(Run(L"enc.7z"), 0);
  EXPECT_EQ(ReadAll(out / L"text1.txt"), Source(L"methods\\text1.txt"));
  EXPECT_TRUE(log.Items.empty());

  ScratchDir wrong;
  sz->ExtrBaseDir = wrong.PathW();
  sz->Password = L"nope";
  Run(L"enc.7z");
  EXPECT_EQ(log.CountOf(SZ_DATA_ERROR), 2) << "one data error per item";

  log.Items.clear();
  sz->Password.clear();
  Run(L"enc.7z");
  ASSERT_FALSE(log.Items.empty()) << "a missing password must be reported";
  for (const auto& m : log.Items) EXPECT_EQ(m.Code, SZ_DATA_ERROR) << m.Text;

  // Encrypted names cannot even be opened without the password.
  log.Items.clear();
  EXPECT_EQ(Run(L"enc-names.7z"), -1);
  EXPECT_EQ(log.Codes(), std::vector<int32_t>{SZ_FILE_NOT_FOUND});
  log.Items.clear();
  sz->Password = L"Secret1";
  EXPECT_EQ(Run(L"enc-names.7z"), 0);
  EXPECT_EQ(ReadAll(out / L"text0.txt"), Source(L"methods\\text0.txt"));
}

// The caller's loop: extract, and after a wrong password ask again, three
// times at most. OnPassword gives the answers in turn ("" declines).
TEST_F(SevenZipExtract, PasswordAskedUntilRightWrongThreeTimesOrCancelled) {
  struct TCase {
    const char* Name;
    std::vector<std::wstring> Answers;
    TPasswordState Final;
  };
  const TCase cases[] = {
      {"right", {L"Secret1"}, TPasswordState::Given},
      {"wrong then right", {L"nope", L"Secret1"}, TPasswordState::Given},
      {"three wrong", {L"nope1", L"nope2", L"nope3"}, TPasswordState::Wrong},
      {"cancelled", {L""}, TPasswordState::Cancelled},
  };
  const DWORD thread = GetCurrentThreadId();
  for (const wchar_t* archive : {L"enc.7z", L"enc-names.7z"}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(WideToAnsi(archive) + " " + c.Name);
      ScratchDir dir;
      sz->ExtrBaseDir = dir.PathW();
      sz->SZFileName = Fixture(archive);
      size_t asked = 0;
      sz->OnPassword = [&](TComponent*, std::wstring& password) {
        EXPECT_EQ(GetCurrentThreadId(), thread) << "asked on the caller's thread";
        EXPECT_TRUE(password.empty());
        password = asked < c.Answers.size() ? c.Answers[asked] : L"";
        ++asked;
        return !password.empty();
      };
      log.Items.clear();
      int32_t result = -1;
      for (int attempt = 0; attempt < 3; ++attempt) {
        sz->Password.clear();
        result = sz->Extract(false);
        if (sz->PasswordState() != TPasswordState::Wrong) break;
        EXPECT_TRUE(ListTreeW(dir.PathW()).empty()) << "a wrong password leaves no file behind";
      }
      EXPECT_EQ(sz->PasswordState(), c.Final);
      EXPECT_EQ(asked, c.Answers.size());
      if (c.Final == TPasswordState::Given) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadAll(dir / L"text0.txt"), Source(L"methods\\text0.txt"));
      } else {
        // A wrong data password fails the items, not the engine's call.
        if (c.Final == TPasswordState::Cancelled) {
          EXPECT_NE(result, 0);
        }
        EXPECT_TRUE(ListTreeW(dir.PathW()).empty());
      }
      if (c.Final == TPasswordState::Cancelled) {
        EXPECT_TRUE(log.Items.empty()) << "a cancel is no failure";
      }
    }
  }
  // A password set beforehand is used without asking; an archive without
  // encryption never asks.
  sz->OnPassword = [](TComponent*, std::wstring&) -> bool { throw std::logic_error("asked"); };
  sz->Password = L"Secret1";
  EXPECT_EQ(Run(L"enc-names.7z"), 0);
  EXPECT_EQ(sz->PasswordState(), TPasswordState::Given);
  EXPECT_EQ(Run(L"sel.7z"), 0);
  EXPECT_EQ(sz->PasswordState(), TPasswordState::NotAsked);
}

// A cancel in the middle of a big item stops the engine at the callback that
// saw it; the item's partial output is removed, the item before it stays.
// The engine also reports progress from its worker threads; the events come
// on the caller's thread only (a handler that touches a window would wait
// for the thread it blocks), and a cancel stops the item half-way.
TEST_F(SevenZipExtract, CancelInTheMiddleOfABigItem) {
  constexpr int64_t kBigSize = 32 << 20;
  int during = 0, afterCancel = 0, elsewhere = 0;
  const DWORD thread = GetCurrentThreadId();
  sz->OnProgress = [&](TComponent*, const std::wstring& name, int64_t, int64_t filePos) {
    elsewhere += GetCurrentThreadId() != thread;
    if (sz->CancelRequested) ++afterCancel;
    if (name.find(L"big.bin") == std::wstring::npos) return;
    ++during;
    if (filePos >= kBigSize / 4) sz->CancelRequested = true;
  };
  EXPECT_NE(Run(L"big.7z"), 0);
  EXPECT_GE(during, 2) << "progress comes during the item";
  EXPECT_EQ(elsewhere, 0) << "progress events from other threads";
  EXPECT_EQ(afterCancel, 0);
  EXPECT_EQ(log.Codes(), std::vector<int32_t>{SZ_USER_CANCELED});
  EXPECT_EQ(ListTreeW(out.PathW()), std::vector<std::wstring>{L"a-first.txt"});
  EXPECT_EQ(ReadAll(out / L"a-first.txt"), Source(L"big\\a-first.txt"));
}

// Names from many scripts, one with a combining accent and one whose output
// path exceeds 260 characters, from an archive whose own path and the
// destination hold such names too: every name comes out exactly.
TEST_F(SevenZipExtract, AnyNameAndLongOutputPaths) {
  const std::wstring dest = out / ManyScriptDestination();
  sz->ExtrBaseDir = dest;
  EXPECT_EQ(Run(ManyScriptFolder() + L"\\\u0430\u0440\u0445\u0438\u0432 \u4e2d\u6587.7z"), 0);
  EXPECT_TRUE(log.Items.empty());
  std::vector<std::wstring> expected = ManyScriptNames();
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(ListTreeW(dest), expected);
  ASSERT_GT(dest.size() + 1 + ManyScriptNames().back().size(), 260u);
  for (const std::wstring& name : expected) {
    std::wstring stored = name;
    std::replace(stored.begin(), stored.end(), L'\\', L'/');
    EXPECT_EQ(ReadAll(LongPathForm(dest + L"\\" + name)), "content of " + WideToAnsi(stored) + "\n");
  }
}

TEST_F(SevenZipExtract, DamagedItemsAreReportedAndExtractionGoesOn) {
  Run(L"crc.7z");
  ASSERT_EQ(log.Codes(), std::vector<int32_t>{SZ_CRC_ERROR});
  EXPECT_EQ(log.Items[0].Text, "CRC Error");
  EXPECT_EQ(log.Items[0].FileName, out / L"first.bin");
  EXPECT_FALSE(Exists(out / L"first.bin")) << "a failed item leaves no file";
  EXPECT_EQ(ReadAll(out / L"second.txt"), Source(L"damage\\second.txt"));

  log.Items.clear();
  ScratchDir dir;
  sz->ExtrBaseDir = dir.PathW();
  Run(L"data.7z");
  ASSERT_EQ(log.Codes(), std::vector<int32_t>{SZ_DATA_ERROR});
  EXPECT_EQ(log.Items[0].Text, "Data Error");
  EXPECT_FALSE(Exists(dir / L"first.bin"));
  EXPECT_EQ(ReadAll(dir / L"second.txt"), Source(L"damage\\second.txt"));
}

TEST_F(SevenZipExtract, NoPathCollisionsAndOverwriteRule) {
  sz->ExtractOptions = ExtractNoPath;  // no overwrite: the second a.txt is skipped
  EXPECT_EQ(Run(L"nopath.7z"), 0);
  EXPECT_EQ(ReadAll(out / L"a.txt"), "from dir\n");
  EXPECT_FALSE(Exists(out / L"dir"));

  sz->ExtractOptions = ExtractNoPath | ExtractOverwrite;
  std::vector<std::wstring> asked;
  sz->OnExtractOverwrite = [&](TComponent*, const std::wstring& name, bool& doOverwrite) {
    asked.push_back(name);
    EXPECT_TRUE(doOverwrite);
  };
  EXPECT_EQ(Run(L"nopath.7z"), 0);
  EXPECT_EQ(ReadAll(out / L"a.txt"), "from other\n");
  EXPECT_EQ(asked, (std::vector<std::wstring>{out / L"a.txt", out / L"a.txt"}));

  // A handler can refuse even when ExtractOverwrite is set.
  ASSERT_TRUE(WriteAll(out / L"a.txt", "mine"));
  sz->OnExtractOverwrite = [](TComponent*, const std::wstring&, bool& doOverwrite) { doOverwrite = false; };
  EXPECT_EQ(Run(L"nopath.7z"), 0);
  EXPECT_EQ(ReadAll(out / L"a.txt"), "mine");
  EXPECT_TRUE(log.Items.empty());
}

TEST_F(SevenZipExtract, OutputFileThatCannotBeCreatedEndsExtractionWithAMessage) {
  // A folder in the way of f0.txt: the file cannot be created or replaced.
  ASSERT_TRUE(CreateDirectoryW((out / L"f0.txt").c_str(), nullptr));
  EXPECT_NE(Run(L"sel.7z"), 0);
  EXPECT_TRUE(DirectoryExistsW(out / L"f0.txt"));
  ASSERT_EQ(log.Codes(), std::vector<int32_t>{SZ_CREATE_FAILED});
  EXPECT_EQ(log.Items[0].Text, "Could not create file");
  EXPECT_EQ(log.Items[0].FileName, out / L"f0.txt");
  EXPECT_FALSE(Exists(out / L"f4.txt")) << "the extraction ends at the failure";
}

TEST_F(SevenZipExtract, SelectionByIndexAndPath) {
  sz->SelectedItems.Add(L"3");
  sz->SelectedItems.Add(L"F1.TXT");  // paths compare case-insensitively
  int64_t announced = -1;
  sz->OnPreProgress = [&](TComponent*, int64_t total) { announced = total; };
  const int32_t result = Run(L"sel.7z");
  EXPECT_EQ(ReadAll(out / L"f1.txt"), "file 1\n");
  EXPECT_EQ(ReadAll(out / L"f3.txt"), "file 3\n");
  for (const wchar_t* other : {L"f0.txt", L"f2.txt", L"f4.txt"}) EXPECT_FALSE(Exists(out / other));
  EXPECT_EQ(announced, 14);
  // The stop after the last selected file is the callbacks' own: no failure
  // is reported, whatever value the engine returns for it.
  EXPECT_TRUE(log.Items.empty()) << result;
  EXPECT_EQ(sz->IndexOfItemPath(L"f4.txt"), 4);
  EXPECT_EQ(sz->IndexOfItemPath(L"nothing.txt"), -1);
}

TEST_F(SevenZipExtract, SelectionThatNamesNoItem) {
  for (const wchar_t* entry : {L"5", L"-1", L"missing.txt"}) {
    SCOPED_TRACE(WideToAnsi(entry));
    log.Items.clear();
    sz->SelectedItems.Clear();
    sz->SelectedItems.Add(L"0");
    sz->SelectedItems.Add(entry);
    EXPECT_EQ(Run(L"sel.7z"), -1);
    ASSERT_EQ(log.Codes(), std::vector<int32_t>{SZ_INDEX_OUT_OF_RANGE});
    EXPECT_EQ(log.Items[0].Text, "Index out of Range");
    EXPECT_EQ(log.Items[0].FileName, L"");
    EXPECT_FALSE(Exists(out / L"f0.txt"));
  }
}

TEST_F(SevenZipExtract, TestModeWritesNothingButReports) {
  std::vector<std::wstring> files;
  int64_t lastArc = 0;
  sz->OnExtractfile = [&](TComponent*, const std::wstring& name, int64_t) { files.push_back(name); };
  sz->OnProgress = [&](TComponent*, const std::wstring&, int64_t arc, int64_t) { lastArc = arc; };
  EXPECT_EQ(Run(L"m-store.7z", true), 0);
  EXPECT_GT(lastArc, 0);
  ASSERT_FALSE(files.empty());
  for (const auto& f : files) EXPECT_EQ(f.find(out.PathW()), std::wstring::npos) << "item paths in test mode";

  Run(L"crc.7z", true);
  EXPECT_EQ(log.Codes(), std::vector<int32_t>{SZ_CRC_ERROR});
  EXPECT_EQ(log.Items[0].FileName, L"first.bin");
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((out / L"*").c_str(), &fd);
  int entries = 0;
  if (h != INVALID_HANDLE_VALUE) {
    do entries += std::wstring(fd.cFileName) != L"." && std::wstring(fd.cFileName) != L"..";
    while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  EXPECT_EQ(entries, 0);
}

TEST_F(SevenZipExtract, CancelFromAnEventHandler) {
  sz->OnExtractfile = [&](TComponent*, const std::wstring& name, int64_t) {
    if (name.find(L"f1.txt") != std::wstring::npos) sz->CancelRequested = true;
  };
  EXPECT_NE(Run(L"sel.7z"), 0);
  EXPECT_EQ(log.CountOf(SZ_USER_CANCELED), 1);
  EXPECT_FALSE(Exists(out / L"f4.txt"));
  EXPECT_FALSE(sz->CancelRequested) << "cleared after Extract";
  // The next run is not cancelled.
  sz->OnExtractfile = nullptr;
  log.Items.clear();
  EXPECT_EQ(Run(L"sel.7z"), 0);
  EXPECT_EQ(ReadAll(out / L"f4.txt"), "file 4\n");
}

// An exception of an event handler stops the engine and reaches the caller of
// Extract, whichever engine call ran the handler; the archive is closed and
// usable again afterwards.
TEST_F(SevenZipExtract, AHandlersExceptionReachesTheCaller) {
  struct TStop : std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  const std::vector<std::pair<const char*, std::function<void()>>> handlers = {
      {"OnExtractfile",
       [&] { sz->OnExtractfile = [](TComponent*, const std::wstring&, int64_t) { throw TStop("x"); }; }},
      {"OnProgress",
       [&] { sz->OnProgress = [](TComponent*, const std::wstring&, int64_t, int64_t) { throw TStop("x"); }; }},
      {"OnSetExtractName", [&] { sz->OnSetExtractName = [](TComponent*, std::wstring&) { throw TStop("x"); }; }},
      {"OnMessage", [&] {
         sz->OnMessage = [](TComponent*, int32_t, const std::string&, const std::wstring&) { throw TStop("x"); };
         sz->SZFileName = Fixture(L"crc.7z");  // reports a CRC error
       }}};
  for (const auto& h : handlers) {
    SCOPED_TRACE(h.first);
    ScratchDir dir;
    sz->ExtrBaseDir = dir.PathW();
    sz->SZFileName = Fixture(L"sel.7z");
    h.second();
    EXPECT_THROW(sz->Extract(false), TStop);
    sz->OnExtractfile = nullptr;
    sz->OnProgress = nullptr;
    sz->OnSetExtractName = nullptr;
    sz->OnMessage = nullptr;
    EXPECT_EQ(sz->Extract(false), 0);  // no exception left behind, the archive closed
  }
  log.Attach(*sz);
}

TEST_F(SevenZipExtract, ArchivesThatCannotBeUsed) {
  EXPECT_EQ(Run(L"plain.exe"), -1);
  ASSERT_EQ(log.Codes(), std::vector<int32_t>{SZ_NOT_SFX});
  EXPECT_EQ(log.Items[0].Text, "File is not an 7z SFX archive");
  EXPECT_EQ(log.Items[0].FileName, Fixture(L"plain.exe"));
  log.Items.clear();
  EXPECT_EQ(Run(L"does-not-exist.7z"), -1);
  EXPECT_EQ(log.Codes(), std::vector<int32_t>{SZ_FILE_NOT_FOUND});
  log.Items.clear();
  EXPECT_EQ(Run(L"volume-data.bin"), -1);  // not an archive at all
  EXPECT_EQ(log.Codes(), std::vector<int32_t>{SZ_FILE_NOT_FOUND});
}

TEST_F(SevenZipExtract, SelfExtractingExecutables) {
  EXPECT_TRUE(sz->IsSFXArchive(Fixture(L"sfx-small.exe")));
  EXPECT_EQ(sz->SFXOffset, FileSizeW(Fixture(L"stub-small.exe")));
  EXPECT_TRUE(sz->IsSFXArchive(Fixture(L"sfx-big.exe")));
  EXPECT_EQ(sz->SFXOffset, FileSizeW(Fixture(L"stub-big.exe")));  // beyond the searched window
  EXPECT_FALSE(sz->IsSFXArchive(Fixture(L"plain.exe")));
  EXPECT_FALSE(sz->IsSFXArchive(Fixture(L"basic.7z")));  // only .exe files are looked at

  for (const wchar_t* exe : {L"sfx-small.exe", L"sfx-big.exe"}) {
    ScratchDir dir;
    sz->ExtrBaseDir = dir.PathW();
    EXPECT_EQ(Run(exe), 0);
    EXPECT_EQ(ReadAll(dir / L"dir\\sub\\b.txt"), Source(L"tree\\dir\\sub\\b.txt"));
  }
  EXPECT_TRUE(log.Items.empty());
}

TEST_F(SevenZipExtract, NumberedVolumeSet) {
  int asked = 0;
  sz->OnOpenVolume = [&](std::wstring&, bool, bool& cancel) {
    ++asked;
    cancel = true;
  };
  EXPECT_EQ(Run(L"vol.7z.001"), 0);
  EXPECT_EQ(ReadAll(out / L"volume-data.bin"), Source(L"volume-data.bin"));
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(log.Items.empty());
}

TEST_F(SevenZipExtract, MissingMiddleVolumeIsAskedFor) {
  std::vector<std::wstring> asked;
  sz->OnOpenVolume = [&](std::wstring& name, bool, bool& cancel) {
    asked.push_back(name);
    name = Fixture(L"moved\\vol.7z.002");
    cancel = false;
  };
  EXPECT_EQ(Run(L"gap\\vol.7z.001"), 0);
  EXPECT_EQ(ReadAll(out / L"volume-data.bin"), Source(L"volume-data.bin"));
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked[0], Fixture(L"gap\\vol.7z.002"));
  EXPECT_TRUE(log.Items.empty());

  // Cancelling the question is a failure that is reported.
  ScratchDir dir;
  sz->ExtrBaseDir = dir.PathW();
  sz->OnOpenVolume = [](std::wstring&, bool, bool& cancel) { cancel = true; };
  EXPECT_NE(Run(L"gap\\vol.7z.001"), 0);
  EXPECT_FALSE(log.Items.empty());
  EXPECT_NE(ReadAll(dir / L"volume-data.bin"), Source(L"volume-data.bin"));
}

TEST_F(SevenZipExtract, HostileNamesStayInsideTheBaseFolder) {
  ScratchDir base;
  // Extract two levels down, so that ".." would still land in our scratch tree.
  const std::wstring inner = base / L"one\\two";
  ASSERT_TRUE(ForceDirectoriesW(inner, 0));
  sz->ExtrBaseDir = inner;
  EXPECT_EQ(Run(L"hostile.7z"), 0);
  EXPECT_TRUE(log.Items.empty());
  EXPECT_EQ(ReadAll(inner + L"\\evil\\e.txt"), "evil\n");
  EXPECT_EQ(ReadAll(inner + L"\\x\\evil\\dr.tttt"), "drive\n");
  EXPECT_FALSE(Exists(base / L"evil"));
  EXPECT_FALSE(Exists(base / L"one\\evil"));
  EXPECT_FALSE(Exists(L"C:\\evil\\dr.tttt"));
  // The absolute item lands below the base folder too (its path less the root).
  bool found = false;
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((inner + L"\\*").c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  do
    found |= std::wstring(fd.cFileName) != L"." && std::wstring(fd.cFileName) != L".." &&
             std::wstring(fd.cFileName) != L"evil" && std::wstring(fd.cFileName) != L"x";
  while (FindNextFileW(h, &fd));
  FindClose(h);
  EXPECT_TRUE(found) << "the absolute item is extracted below the base folder";
}

TEST_F(SevenZipExtract, ArchiveLargerThan4GiB) {
  if (!Exists(Fixture(L"large.7z")))
    GTEST_SKIP() << "large.7z not made: the fixtures ran without QUARN_7Z_LARGE=1, or the disk had no room for it";
  // Only the small item after the 4.1 GiB one: its data and the archive's
  // headers lie beyond 4 GiB.
  sz->SelectedItems.Add(L"tail.txt");
  Run(L"large.7z");
  EXPECT_TRUE(log.Items.empty());
  EXPECT_EQ(ReadAll(out / L"tail.txt"), "after the 4 GiB mark\n");
  if (_wgetenv(L"QUARN_7Z_LARGE_FULL") == nullptr) return;
  // The whole archive: an output of more than 4 GiB.
  sz->SelectedItems.Clear();
  EXPECT_EQ(Run(L"large.7z"), 0);
  EXPECT_EQ(FileSizeW(out / L"zero.bin"), 4400000000ull);
}
