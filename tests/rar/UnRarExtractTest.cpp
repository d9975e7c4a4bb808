// Extraction through TUnRar and the real library: contents, comment, event
// order, progress counters, overwrite policies, volumes, passwords, damage and
// stopping.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <tuple>

#include "RarTestSupport.h"
#include "Text.h"
#include "UnRar.h"
#include "WideTree.h"

using namespace rartest;

namespace {

const std::string HelloData = "Hello from Quarn\r\n";

// A component set up to extract one fixture into a scratch folder.
struct Extraction {
  ScratchDir out;
  TComponent owner{nullptr};
  TUnRar* rar = new TUnRar(&owner);
  Recorder rec;

  explicit Extraction(const std::string& archive, bool headerEvents = true) {
    rar->FileName = Fixture(archive);
    rar->Directory = out.Path() + "\\";
    rar->SetMode(UNRAR_EXTRACT);
    rec.Attach(*rar, headerEvents);
  }
  std::string Out(const std::string& name) const { return out / name; }
};

}  // namespace

TEST(UnRarExtract, FilesFoldersAndNonAsciiNames) {
  Extraction x("basic.rar");
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(ReadFile(x.Out("hello.txt")), HelloData);
  EXPECT_EQ(ReadFile(x.Out("dir\\sub\\nested.bin")), Pattern(100000, 7));
  EXPECT_EQ(ReadFile(x.Out("café à l'été.txt")), "accents\r\n");
  EXPECT_TRUE(DirExists(x.Out("emptydir")));
  EXPECT_EQ(ListFiles(x.out.Path()).size(), 3u);
}

TEST(UnRarExtract, NonAsciiDestinationFolderIsUsedAsGiven) {
  Extraction x("basic.rar");
  const std::string dest = x.out / "sortie été";
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  x.rar->Directory = dest;
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(ReadFile(dest + "\\hello.txt"), HelloData);
  for (const std::string& f : ListFiles(x.out.Path())) EXPECT_EQ(f.compare(0, dest.size() + 1, dest + "\\"), 0) << f;
}

TEST(UnRarExtract, ArchiveComment) {
  Extraction x("comment.rar");
  x.rar->ProcessArchive();
  const std::string comment = "Commentaire de test\nligne deux";
  EXPECT_EQ(x.rec.Only("comment:"), std::vector<std::string>{"comment:" + comment});
  EXPECT_EQ(x.rar->ArchivComment(), comment);
  EXPECT_EQ(x.rar->CommentSize(), comment.size());

  // A later archive without a comment clears it and fires nothing.
  x.rec.events.clear();
  x.rar->FileName = Fixture("basic.rar");
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.Only("comment:").empty());
  EXPECT_EQ(x.rar->ArchivComment(), "");
  EXPECT_EQ(x.rar->CommentSize(), 0u);
}

TEST(UnRarExtract, CanProgressEventOrderAndCounters) {
  Extraction x("basic.rar");
  x.rar->CanProgress = true;
  std::vector<std::vector<uint32_t>> progress;
  x.rar->OnProgress = [&](TUnRar*, uint32_t fp, uint32_t fc, uint32_t sp, uint32_t sc) {
    x.rec.events.push_back("progress");
    progress.push_back({fp, fc, sp, sc});
  };
  x.rar->ProcessArchive();
  ASSERT_EQ(x.rec.headers.size(), 6u);
  std::vector<std::string> expected = {"status:ONBEFOREOPEN", "status:ONOPEN", "status:AFTERCLOSE",
                                       "status:ONBEFOREOPEN", "status:ONOPEN"};
  uint32_t totalSize = 0;
  for (const TUnRarHeaderData& h : x.rec.headers) {
    expected.push_back("header:" + h.FileName + ":0");
    expected.push_back("progress");
    totalSize += static_cast<uint32_t>(h.UnpSize);
  }
  expected.push_back("status:AFTERCLOSE");
  EXPECT_EQ(x.rec.events, expected);

  ASSERT_EQ(progress.size(), 6u);
  uint32_t size = 0;
  for (size_t i = 0; i < progress.size(); ++i) {
    size += static_cast<uint32_t>(x.rec.headers[i].UnpSize);
    EXPECT_EQ(progress[i], (std::vector<uint32_t>{static_cast<uint32_t>(i + 1), 6u, size, totalSize}));
  }
  EXPECT_EQ(x.rar->FileCount(), 6u);
  EXPECT_EQ(x.rar->SizeCount(), totalSize);
}

TEST(UnRarExtract, ProgressWithoutCountingPassReportsZeroTotals) {
  Extraction x("basic.rar", false);
  uint32_t lastFiles = 0, lastCount = 99, lastSizeCount = 99;
  x.rar->OnProgress = [&](TUnRar*, uint32_t fp, uint32_t fc, uint32_t, uint32_t sc) {
    lastFiles = fp;
    lastCount = fc;
    lastSizeCount = sc;
  };
  x.rar->ProcessArchive();
  EXPECT_EQ(lastFiles, 6u);
  EXPECT_EQ(lastCount, 0u);
  EXPECT_EQ(lastSizeCount, 0u);
  // A second run starts counting again from zero.
  x.rar->ProcessArchive();
  EXPECT_EQ(lastFiles, 6u);
  EXPECT_EQ(x.rar->FilesProcessed(), 6u);
}

TEST(UnRarExtract, OverwritePolicies) {
  const std::string old = "old contents";
  auto prepare = [&](Extraction& x) { WriteFile(x.Out("hello.txt"), old); };
  {
    Extraction x("basic.rar");
    prepare(x);
    x.rar->OverrideEvent = OR_ALWAYS;
    x.rar->FileList = {"no such entry"};  // ignored with OR_ALWAYS
    x.rar->ProcessArchive();
    EXPECT_EQ(ReadFile(x.Out("hello.txt")), HelloData);
    EXPECT_TRUE(FileExists(x.Out("dir\\sub\\nested.bin")));
  }
  {
    Extraction x("basic.rar");
    prepare(x);
    x.rar->OverrideEvent = OR_NEVER;
    x.rar->ProcessArchive();
    EXPECT_TRUE(x.rec.errors.empty());
    EXPECT_EQ(ReadFile(x.Out("hello.txt")), old);
    EXPECT_EQ(ReadFile(x.Out("dir\\sub\\nested.bin")), Pattern(100000, 7));
  }
  {
    Extraction x("basic.rar");
    prepare(x);
    x.rar->OverrideEvent = OR_EVENT;  // no handler: existing files are kept
    x.rar->ProcessArchive();
    EXPECT_EQ(ReadFile(x.Out("hello.txt")), old);
    EXPECT_TRUE(FileExists(x.Out("dir\\sub\\nested.bin")));
  }
  for (bool allow : {false, true}) {
    Extraction x("basic.rar");
    prepare(x);
    x.rar->OverrideEvent = OR_EVENT;
    std::vector<std::string> asked;
    x.rar->OnOverride = [&](TUnRar*, const std::string& name, bool& can) {
      asked.push_back(name);
      EXPECT_FALSE(can);
      can = allow;
    };
    x.rar->ProcessArchive();
    EXPECT_EQ(asked, std::vector<std::string>{x.rar->Directory + "\\hello.txt"});
    EXPECT_EQ(ReadFile(x.Out("hello.txt")), allow ? HelloData : old);
  }
}

TEST(UnRarExtract, FileListSelectsTargetsCaseInsensitively) {
  Extraction x("basic.rar");
  x.rar->Directory = x.out.Path();
  x.rar->OverrideEvent = OR_NEVER;
  x.rar->FileList = {x.out.Path() + "\\DIR\\SUB\\NESTED.BIN", x.out.Path() + "\\dir", x.out.Path() + "\\dir\\sub"};
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(ListFiles(x.out.Path()), std::vector<std::string>{x.Out("dir\\sub\\nested.bin")});
}

TEST(UnRarExtract, TestModeReadsEverythingAndWritesNothing) {
  Extraction x("basic.rar");
  x.rar->SetMode(UNRAR_LIST);
  x.rar->OverrideEvent = OR_NEVER;
  WriteFile(x.Out("hello.txt"), "old");
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(x.rec.headers.size(), 6u);
  EXPECT_EQ(ListFiles(x.out.Path()).size(), 1u);
}

TEST(UnRarVolumes, CompleteSetIsJoined) {
  Extraction x("vol.part1.rar");
  x.rar->CanProgress = true;
  x.rar->OnProgress = [](TUnRar*, uint32_t, uint32_t, uint32_t, uint32_t) {};
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(ReadFile(x.Out("big.bin")), Pattern(100000, 3));
  // One file, continued across two volumes: two headers, one counted file.
  EXPECT_EQ(x.rar->FileCount(), 1u);
  EXPECT_EQ(x.rar->SizeCount(), 100000u);
  // Extracting, the library joins the parts inside one file operation.
  EXPECT_EQ(x.rar->FilesProcessed(), 1u);
  ASSERT_EQ(x.rec.headers.size(), 1u);
  EXPECT_TRUE(x.rec.headers[0].ContinuedNext);

  // Listing shows the part in each volume; only the first one is counted.
  x.rec.headers.clear();
  x.rar->SetMode(UNRAR_LIST);
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  ASSERT_EQ(x.rec.headers.size(), 1u);
  EXPECT_TRUE(x.rec.headers[0].ContinuedNext);
  EXPECT_EQ(x.rar->FileCount(), 1u);
}

TEST(UnRarVolumes, MissingVolumeNamedByOnVolChange) {
  Extraction x("missing\\vol.part1.rar");
  std::vector<std::string> asked;
  x.rar->OnVolChange = [&](TUnRar*, std::string& name, int32_t mode) {
    asked.push_back(name);
    EXPECT_EQ(mode, 0);
    name = Fixture("spare-volume.rar");
  };
  x.rar->ProcessArchive();
  EXPECT_EQ(asked, std::vector<std::string>{Fixture("missing\\vol.part2.rar")});
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(ReadFile(x.Out("big.bin")), Pattern(100000, 3));
}

TEST(UnRarVolumes, MissingVolumeUnansweredStops) {
  Extraction x("missing\\vol.part1.rar");
  x.rar->ProcessArchive();
  ASSERT_EQ(x.rec.errors.size(), 1u);
  EXPECT_EQ(x.rec.errors[0], std::make_pair(std::string("Volumn-Error"), 15));
  EXPECT_FALSE(FileExists(x.Out("big.bin")));  // the library removes the partial file
  EXPECT_EQ(x.rec.events.back(), "status:AFTERCLOSE");
}

TEST(UnRarVolumes, NameGivenBackUnchangedIsAskedThreeTimesAtMost) {
  Extraction x("missing\\vol.part1.rar");
  int asks = 0;
  x.rar->OnVolChange = [&](TUnRar*, std::string&, int32_t) { ++asks; };
  x.rar->ProcessArchive();
  EXPECT_EQ(asks, 3);
  ASSERT_FALSE(x.rec.errors.empty());
  EXPECT_EQ(x.rec.errors.back().second, 15);
}

TEST(UnRarVolumes, OverlongNameFromHandlerIsCutToTheLibraryBuffer) {
  Extraction x("missing\\vol.part1.rar");
  int asks = 0;
  x.rar->OnVolChange = [&](TUnRar*, std::string& name, int32_t) {
    ++asks;
    name = std::string(5000, 'v');
  };
  x.rar->ProcessArchive();
  EXPECT_GE(asks, 1);
  ASSERT_FALSE(x.rec.errors.empty());  // the cut name does not exist
  EXPECT_FALSE(FileExists(x.Out("big.bin")));
}

TEST(UnRarPassword, PasswordProperty) {
  Extraction x("password.rar");
  x.rar->Password = "Secret123";
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(ReadFile(x.Out("secret.txt")), "top secret\r\n");
  ASSERT_EQ(x.rec.headers.size(), 1u);
  EXPECT_TRUE(x.rec.headers[0].Encrypted);
}

TEST(UnRarPassword, OnPasswordSuppliesItAndStatusNamesIt) {
  Extraction x("password.rar");
  int asked = 0;
  x.rar->OnPassword = [&](TUnRar*, std::string& pw) {
    ++asked;
    EXPECT_EQ(pw, "");
    pw = "Secret123";
  };
  x.rar->ProcessArchive();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(ReadFile(x.Out("secret.txt")), "top secret\r\n");
  EXPECT_EQ(x.rec.Only("status:ONPASSWORD"),
            std::vector<std::string>{"status:ONPASSWORD:Le mot de passe utilisé est : Secret123"});
}

TEST(UnRarPassword, NoPasswordAndWrongPasswordAreReported) {
  {
    Extraction x("password.rar");
    x.rar->ProcessArchive();
    ASSERT_GE(x.rec.errors.size(), 2u);
    EXPECT_EQ(x.rec.errors[0], std::make_pair(std::string("Pas de mot de passe!"), 0));
    EXPECT_NE(x.rec.errors[1].second, 0);  // the library's failure code follows
    EXPECT_FALSE(FileExists(x.Out("secret.txt")));
  }
  {
    Extraction x("password.rar");
    x.rar->Password = "wrong";
    x.rar->ProcessArchive();
    ASSERT_EQ(x.rec.errors.size(), 1u);
    EXPECT_EQ(x.rec.errors[0].second, 24);
    EXPECT_EQ(x.rec.errors[0].first, "Mot de passe incorrect");
    EXPECT_FALSE(FileExists(x.Out("secret.txt")));
  }
}

TEST(UnRarPassword, LongPasswordIsCutToTheBuffer) {
  TUnRar rar(nullptr);
  rar.OnPassword = [](TUnRar*, std::string& pw) { pw = "0123456789ABCDEF"; };
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(rar.HandleCallback(UCM_NEEDPASSWORD, reinterpret_cast<LPARAM>(buffer), 8), 0);
  EXPECT_STREQ(buffer, "0123456");
  EXPECT_EQ(std::string(buffer + 8, 8), std::string(8, '#'));
}

TEST(UnRarDamage, CorruptDataIsReported) {
  Extraction x("damaged.rar");
  x.rar->ProcessArchive();
  ASSERT_FALSE(x.rec.errors.empty());
  EXPECT_EQ(x.rec.errors[0], std::make_pair(std::string("données corrompues"), 12));
  EXPECT_FALSE(FileExists(x.Out("dir\\sub\\nested.bin"))) << "a damaged file leaves nothing behind";
  EXPECT_EQ(x.rec.events.back(), "status:AFTERCLOSE");
}

TEST(UnRarDamage, ABrokenFileHeaderIsReportedAsSuch) {
  Extraction x("badheader.rar");
  x.rar->ProcessArchive();
  ASSERT_FALSE(x.rec.errors.empty());
  EXPECT_EQ(x.rec.errors.back(), std::make_pair(std::string("Entête de fichier corrompu"), 12));
  EXPECT_EQ(x.rec.events.back(), "status:AFTERCLOSE");
}

TEST(UnRarDamage, MissingArchiveAndNonArchiveAreReported) {
  {
    Extraction x("no-such-archive.rar");
    x.rar->ProcessArchive();
    EXPECT_EQ(x.rec.events,
              (std::vector<std::string>{"status:ONBEFOREOPEN", "status:ONOPEN", "error:15", "status:AFTERCLOSE"}));
  }
  {
    Extraction x("basic.rar");
    const std::string notRar = x.out / "not-a-rar.rar";
    WriteFile(notRar, std::string(4096, 'x'));
    x.rar->FileName = notRar;
    x.rar->ProcessArchive();
    ASSERT_EQ(x.rec.errors.size(), 1u);
    EXPECT_EQ(x.rec.errors[0].second, 13);
  }
}

TEST(UnRarStop, StopFromHeaderHandlerEndsTheRunAfterClosing) {
  Extraction x("basic.rar");
  x.rar->OnFileProcessing = [&](TUnRar* sender, const TUnRarHeaderData& h, int32_t) {
    x.rec.events.push_back("header:" + h.FileName);
    sender->StopProcessing = true;
  };
  x.rar->ProcessArchive();
  EXPECT_EQ(x.rec.Only("header:").size(), 1u);
  EXPECT_EQ(x.rec.events.back(), "status:AFTERCLOSE");
  EXPECT_TRUE(ListFiles(x.out.Path()).empty());
  // The next run starts afresh.
  x.rar->OnFileProcessing = nullptr;
  x.rar->ProcessArchive();
  EXPECT_EQ(ListFiles(x.out.Path()).size(), 3u);
}

TEST(UnRarStop, StopDuringCountingPassEndsBeforeTheMainPass) {
  Extraction x("basic.rar");
  x.rar->CanProgress = true;
  x.rar->OnRarStatus = [&](TUnRar* sender, const std::string&, TRarStatus s) {
    x.rec.events.push_back("status:" + std::to_string(s));
    if (s == RAR_ONOPEN) sender->StopProcessing = true;
  };
  x.rar->ProcessArchive();
  EXPECT_EQ(x.rec.events, (std::vector<std::string>{"status:1", "status:0", "status:2"}));
}

TEST(UnRarStop, HandlerExceptionsLeaveAfterTheArchiveIsClosed) {
  {
    Extraction x("basic.rar");
    x.rar->OnFileProcessing = [](TUnRar*, const TUnRarHeaderData&, int32_t) { throw std::runtime_error("header"); };
    EXPECT_THROW(x.rar->ProcessArchive(), std::runtime_error);
    EXPECT_EQ(x.rec.events.back(), "status:AFTERCLOSE");
  }
  {
    // Thrown inside a library callback: it must not cross the library.
    Extraction x("password.rar");
    x.rar->OnPassword = [](TUnRar*, std::string&) { throw std::runtime_error("password"); };
    EXPECT_THROW(x.rar->ProcessArchive(), std::runtime_error);
    EXPECT_EQ(x.rec.events.back(), "status:AFTERCLOSE");
    x.rar->OnPassword = nullptr;
    x.rar->Password = "Secret123";
    x.rar->ProcessArchive();
    EXPECT_EQ(ReadFile(x.Out("secret.txt")), "top secret\r\n");
  }
  {
    // Thrown on the thread that writes the files in the background: it must
    // not end the process, and the file it came with goes.
    Extraction x("basic.rar");
    x.rar->OverrideEvent = OR_ALWAYS;
    x.rar->WriteInBackground = true;
    std::wstring written;
    x.rar->OnFileWritten = [&written](TUnRar*, const std::wstring& File) {
      written = File;
      throw std::runtime_error("written");
    };
    EXPECT_THROW(x.rar->ProcessArchive(), std::runtime_error);
    EXPECT_EQ(x.rec.events.back(), "status:AFTERCLOSE");
    ASSERT_FALSE(written.empty());
    EXPECT_FALSE(FileExists(written));
  }
}

// The caller's loop: run, and after a wrong password ask again, three times
// at most. OnPassword gives the answers in turn ("" cancels). The counting
// pass opens the archive too, yet the user is asked once per run.
TEST(UnRarPassword, AskedUntilRightWrongThreeTimesOrCancelled) {
  struct Case {
    const char* name;
    std::vector<std::string> answers;
    TPasswordState final;
  };
  const Case cases[] = {
      {"right", {"Secret123"}, TPasswordState::Given},
      {"wrong then right", {"nope", "Secret123"}, TPasswordState::Given},
      {"three wrong", {"nope1", "nope2", "nope3"}, TPasswordState::Wrong},
      {"cancelled", {""}, TPasswordState::Cancelled},
  };
  for (const char* archive : {"password.rar", "password-hp.rar"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(archive) + " " + c.name);
      Extraction x(archive);
      x.rar->CanProgress = true;
      size_t asked = 0;
      x.rar->OnPassword = [&](TUnRar*, std::string& password) {
        EXPECT_EQ(password, "");
        password = asked < c.answers.size() ? c.answers[asked] : "";
        ++asked;
      };
      for (int attempt = 0; attempt < 3; ++attempt) {
        x.rec.errors.clear();
        x.rar->ProcessArchive();
        if (x.rar->PasswordState() != TPasswordState::Wrong) break;
        EXPECT_EQ(x.rec.errors, (std::vector<std::pair<std::string, int>>{{"Mot de passe incorrect", 24}}));
        EXPECT_TRUE(ListTreeW(AnsiToWide(x.out.Path())).empty()) << "a wrong password leaves no file behind";
      }
      EXPECT_EQ(x.rar->PasswordState(), c.final);
      EXPECT_EQ(asked, c.answers.size());
      if (c.final == TPasswordState::Given) {
        EXPECT_TRUE(x.rec.errors.empty());
        EXPECT_EQ(ReadFile(x.Out("secret.txt")), "top secret\r\n");
      } else {
        EXPECT_TRUE(ListTreeW(AnsiToWide(x.out.Path())).empty());
      }
      if (c.final == TPasswordState::Cancelled) {
        EXPECT_TRUE(x.rec.errors.empty()) << "a cancel is no failure";
      }
    }
  }
}

TEST(UnRarProgress, DataProgressNeverGoesBackAndReachesTheTotal) {
  Extraction x("big.rar", false);
  x.rar->CanProgress = true;
  std::vector<std::pair<uint64_t, uint64_t>> seen;
  x.rar->OnDataProgress = [&](TUnRar*, uint64_t done, uint64_t total) { seen.emplace_back(done, total); };
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  const uint64_t total = (32u << 20) + ReadFile(x.Out("a-first.txt")).size();
  ASSERT_GE(seen.size(), 8u);
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].second, total);
    if (i > 0) {
      EXPECT_GE(seen[i].first, seen[i - 1].first);
      EXPECT_LE(seen[i].first - seen[i - 1].first, 8u << 20) << "every few MB at least";
    }
  }
  EXPECT_EQ(seen.back().first, total);
}

// A stop or a handler's exception in the middle of a big file: its partial
// output is removed, the file finished before stays, and nothing is reported.
TEST(UnRarStop, StopInTheMiddleOfABigFileRemovesItsPartialOutput) {
  for (bool raise : {false, true}) {
    SCOPED_TRACE(raise ? "exception" : "StopProcessing");
    Extraction x("big.rar", false);
    x.rar->OnDataProgress = [&](TUnRar* sender, uint64_t done, uint64_t) {
      if (done < (8u << 20)) return;
      if (raise) throw std::runtime_error("stop");
      sender->StopProcessing = true;
    };
    if (raise)
      EXPECT_THROW(x.rar->ProcessArchive(), std::runtime_error);
    else
      x.rar->ProcessArchive();
    EXPECT_TRUE(x.rec.errors.empty());
    EXPECT_EQ(ListTreeW(AnsiToWide(x.out.Path())), std::vector<std::wstring>{L"a-first.txt"});
    EXPECT_EQ(ReadFile(x.Out("a-first.txt")), "finished before the big one\r\n");
  }
}

// Names from many scripts, one with a combining accent and one whose output
// path exceeds 260 characters, from a volume set whose own names (and the
// name of a volume given for a missing one) and the destination hold such
// names too: every name comes out exactly.
TEST(UnRarExtract, AnyNameAndLongOutputPaths) {
  Extraction x("basic.rar");
  const std::string folder = Fixture(WideToAnsi(ManyScriptFolder()));
  const std::string archive = WideToAnsi(L"\u0430\u0440\u0445\u0438\u0432 \u4e2d\u6587");
  x.rar->FileName = folder + "\\" + archive + ".part1.rar";
  const std::wstring dest = AnsiToWide(x.out.Path()) + L"\\" + ManyScriptDestination();
  ASSERT_TRUE(CreateDirectoryW(dest.c_str(), nullptr));
  x.rar->Directory = WideToAnsi(dest);
  std::vector<std::string> asked;
  x.rar->OnVolChange = [&](TUnRar*, std::string& name, int32_t) {
    asked.push_back(name);
    name = folder + "\\" + WideToAnsi(L"\u0437\u0430\u043f\u0430\u0441 \U0001f600.rar");
  };
  x.rar->ProcessArchive();
  EXPECT_TRUE(x.rec.errors.empty());
  EXPECT_EQ(asked, std::vector<std::string>{folder + "\\" + archive + ".part2.rar"});
  ASSERT_FALSE(x.rec.headers.empty());
  EXPECT_EQ(x.rec.headers[0].ArcName, x.rar->FileName);
  // The library itself gives names of archives made on Unix in the composed
  // form Windows uses (as WinRAR extracts them): the combining accent comes
  // out composed, in its header name and on disk alike.
  std::vector<std::wstring> expected = ManyScriptNames();
  ASSERT_GT(dest.size() + 1 + expected.back().size(), 260u);
  std::replace(expected.begin(), expected.end(), std::wstring(L"e\u0301cole.txt"), std::wstring(L"\u00e9cole.txt"));
  expected.push_back(L"filler.bin");
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(ListTreeW(dest), expected);
  for (const std::wstring& name : expected) {
    if (name == L"filler.bin") continue;
    std::wstring stored = name == L"\u00e9cole.txt" ? L"e\u0301cole.txt" : name;
    std::replace(stored.begin(), stored.end(), L'\\', L'/');
    EXPECT_EQ(ReadFile(dest + L"\\" + name), "content of " + WideToAnsi(stored) + "\n");
  }
}

// Written in the background (the library only unpacks and checks), the files
// are those the library writes itself: the same names, bytes, last-write
// times and attributes (of files and their folders; the fixtures are made on
// Unix, whose modes are no attributes), for a plain archive, a volume set and
// an encrypted archive.
TEST(UnRarExtract, WritingInTheBackgroundGivesTheLibrarysFiles) {
  const struct {
    const char* Archive;
    const char* Password;
  } cases[] = {{"basic.rar", ""}, {"vol.part1.rar", ""}, {"password.rar", "Secret123"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Archive);
    std::vector<std::wstring> files[2];
    // content, time, attributes, and the attributes of the folder holding it
    std::vector<std::tuple<std::string, uint64_t, DWORD, DWORD>> stamped[2];
    for (int background = 0; background < 2; ++background) {
      Extraction x(c.Archive);
      x.rar->OverrideEvent = OR_ALWAYS;
      x.rar->WriteInBackground = background == 1;
      x.rar->Password = c.Password;
      std::vector<std::wstring> written;
      x.rar->OnFileWritten = [&](TUnRar*, const std::wstring& File) { written.push_back(File); };
      x.rar->ProcessArchive();
      EXPECT_TRUE(x.rec.errors.empty());
      files[background] = ListTreeW(AnsiToWide(x.out.Path()));
      EXPECT_EQ(written.size(), files[background].size());
      for (const std::wstring& f : files[background]) {
        const std::string path = x.out / WideToAnsi(f);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        const uint64_t time =
            (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        const DWORD folder = GetFileAttributesA(path.substr(0, path.find_last_of('\\')).c_str());
        stamped[background].emplace_back(ReadFile(path), time, data.dwFileAttributes, folder);
      }
    }
    EXPECT_FALSE(files[0].empty());
    EXPECT_EQ(files[1], files[0]);
    EXPECT_EQ(stamped[1], stamped[0]);
  }
}
