// The walk's policy and machinery without engines: the schedule's rules as a
// table, and the interleavings of archives that run at once (a stop during a
// question, a thread that fails after a question, archives sharing a folder
// or a disk, names that are one on Windows), driven by scripted extractors
// that wait for one another, so that each runs the same way every time.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>

#include "Files.h"
#include "ShellTestSupport.h"
#include "WalkSchedule.h"

namespace {

// A flag that one archive's script raises and another's waits for.
class Latch {
 public:
  void Open() {
    const std::lock_guard<std::mutex> lock(FLock);
    FOpen = true;
    FChanged.notify_all();
  }
  // False when it was not opened within the time a hang would take.
  bool Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(10), [&] { return FOpen; });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FOpen = false;
};

// Extractors that run a script per archive (by file name), counting how many
// run at once and in which order they start and end.
class ScriptedExtractors : public IExtractors, public IExtractor {
 public:
  using Script = std::function<TExtractResult(const TExtractRequest&, int Attempt)>;
  std::map<std::string, Script> Scripts;
  std::vector<std::string> Events;  // "+name" at a start, "-name" at an end
  int MostAtOnce = 0;

  IExtractor& For(TArchiveKind) override { return *this; }
  TExtractResult Extract(const TExtractRequest& Request) override {
    const std::string name = FileNameOf(Request.Archive);
    int attempt = 0;
    {
      const std::lock_guard<std::mutex> lock(FLock);
      Events.push_back("+" + name);
      attempt = ++FAttempts[name];
      MostAtOnce = std::max(MostAtOnce, ++FRunning);
    }
    const auto end = [&] {
      const std::lock_guard<std::mutex> lock(FLock);
      Events.push_back("-" + name);
      --FRunning;
    };
    try {
      const auto script = Scripts.find(name);
      const TExtractResult result = script == Scripts.end() ? TExtractResult{} : script->second(Request, attempt);
      end();
      return result;
    } catch (...) {
      end();
      throw;
    }
  }

 private:
  std::mutex FLock;
  std::map<std::string, int> FAttempts;
  int FRunning = 0;
};

// A stop the test asks for, and a stop after ten seconds, so that a walk
// that would hang ends (and fails its test) instead.
struct StoppableProgress : IProgressSink {
  std::atomic<bool> Stop{false};
  std::chrono::steady_clock::time_point Began = std::chrono::steady_clock::now();
  bool Cancelled() override { return Stop || std::chrono::steady_clock::now() - Began > std::chrono::seconds(10); }
};

// A walk over archives made as small files named Names, with scripted
// extractors, several archives at a time.
struct ScriptedWalk {
  Tree T;
  TScriptedUI UI;
  StoppableProgress Progress;
  ScriptedExtractors Extractors;
  std::vector<std::string> Archives;
  explicit ScriptedWalk(const std::vector<std::string>& Names) {
    for (const std::string& name : Names) {
      WriteWholeFile(T / name, "not read by the scripts");
      Archives.push_back(T / name);
    }
  }
  TUnzipResult Run(int AtOnce = 4, const std::function<void(TUnzipCommand&)>& Setup = nullptr) {
    TUnzipCommand command(nullptr, UI, Progress, Extractors);
    command.ArchivesAtOnce = AtOnce;
    if (Setup) Setup(command);
    return command.Run(Archives, T / "out");
  }
};

TExtractResult Outcome(TExtractOutcome Outcome, TPasswordState Password = TPasswordState::NotAsked) {
  TExtractResult result;
  result.Outcome = Outcome;
  result.Password = Password;
  return result;
}

// Runs until the walk says stop.
TExtractResult UntilStopped(const TExtractRequest& Request) {
  while (Request.Host->Step(0, 1)) Sleep(1);
  return Outcome(TExtractOutcome::Stopped);
}

}  // namespace

TEST(WalkSchedule, WhoMayStartAndWithHowManyThreads) {
  constexpr uint64_t GB = 1ull << 30;
  const struct {
    const char* What;
    int Slots, Processors;
    uint64_t Budget;
    std::vector<TScheduledArchive> Archives;
    std::vector<int> Threads;  // of each archive started at once, in start order (-1: none more starts)
  } cases[] = {
      {"one archive takes every processor", 8, 8, ~0ull, {{"a", false, 1, 0}}, {8}},
      {"two share them", 8, 8, ~0ull, {{"a", false, 1, 0}, {"b", false, 2, 0}}, {4, 4}},
      {"three share them, adding up",
       8,
       8,
       ~0ull,
       {{"a", false, 3, 0}, {"b", false, 2, 0}, {"c", false, 1, 0}},
       {2, 3, 3}},
      {"many take one each up to the slots",
       2,
       2,
       ~0ull,
       {{"a", false, 1, 0}, {"b", false, 1, 0}, {"c", false, 1, 0}},
       {1, 1, -1}},
      {"one folder: the first of the list only", 8, 8, ~0ull, {{"x", false, 1, 0}, {"x", false, 9, 0}}, {8, -1}},
      {"archives that take turns: one at a time", 8, 8, ~0ull, {{"a", true, 1, 0}, {"b", true, 2, 0}}, {8, -1}},
      {"decoders that do not fit together: one at a time",
       8,
       8,
       2 * GB,
       {{"a", false, 1, 3 * GB / 2}, {"b", false, 2, 3 * GB / 2}, {"c", false, 0, 0}},
       {4, 4, -1}},
      {"a decoder larger than the budget still runs, alone",
       8,
       8,
       2 * GB,
       {{"a", false, 1, 3 * GB}, {"b", false, 2, GB}},
       {8, -1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TWalkSchedule schedule(c.Slots, c.Processors, c.Budget);
    for (const TScheduledArchive& a : c.Archives) schedule.Add(a);
    std::vector<int> threads;
    std::vector<int> order;
    for (int next; (next = schedule.Next()) >= 0;) {
      order.push_back(next);
      threads.push_back(schedule.Start(static_cast<size_t>(next)));
    }
    if (threads.size() < c.Threads.size()) threads.push_back(-1);
    EXPECT_EQ(threads, c.Threads);
    // The longest starts first; an ended archive lets the next one go.
    if (c.Archives.size() == 2 && order.size() == 1) {
      schedule.End(static_cast<size_t>(order[0]));
      EXPECT_EQ(schedule.Next(), 1 - order[0]);
    }
  }
}

// Archives that must wait for one another form a chain as long as all of
// them: a run of small RAR archives starts first and goes on beside the rest,
// instead of running alone after the big zip.
TEST(WalkSchedule, TheLongestChainStartsFirst) {
  TWalkSchedule schedule(2, 2, ~0ull);
  schedule.Add({"z", false, 5, 0});
  for (const char* rar : {"r1", "r2", "r3"}) schedule.Add({rar, true, 2, 0});
  std::vector<int> order;
  for (int next; (next = schedule.Next()) >= 0;) order.push_back(next), schedule.Start(static_cast<size_t>(next));
  EXPECT_EQ(order, (std::vector<int>{1, 0}));
  schedule.End(1);
  EXPECT_EQ(schedule.Next(), 2) << "the next RAR follows at once";
}

// Archives of one output folder run one after another in the list's order;
// others run beside them. (Decoders too big together: the schedule's table
// and ShellArchives.DecodersThatDoNotFitTogetherTakeTurns.)
TEST(Walk, ArchivesOfOneFolderTakeTurns) {
  ScriptedWalk w({"a.zip", "a.7z", "b.zip"});
  Latch bStarted;
  w.Extractors.Scripts["a.zip"] = [&](const TExtractRequest& r, int) {
    EXPECT_TRUE(DirectoryExists(r.Folder)) << "the walk makes the folder first";
    EXPECT_TRUE(bStarted.Wait()) << "b.zip did not run beside a.zip";
    return TExtractResult{};
  };
  w.Extractors.Scripts["b.zip"] = [&](const TExtractRequest&, int) {
    bStarted.Open();
    return TExtractResult{};
  };
  const TUnzipResult r = w.Run(3);
  EXPECT_TRUE(r.Report.empty());
  const auto at = [&](const std::string& event) {
    return std::find(w.Extractors.Events.begin(), w.Extractors.Events.end(), event) - w.Extractors.Events.begin();
  };
  EXPECT_LT(at("-a.zip"), at("+a.7z"));
  EXPECT_FALSE(DirectoryExists(w.T / "out\\a")) << "a folder that received nothing is removed";
}

// A stop while questions wait: the archive whose question gave up stays in
// the list as unfinished, not as an archive the user gave no password for.
TEST(Walk, AStopWhileAQuestionWaitsLeavesTheArchiveUnfinished) {
  ScriptedWalk w({"a.zip", "b.zip"});
  std::atomic<int> asking{0};
  for (const char* name : {"a.zip", "b.zip"})
    w.Extractors.Scripts[name] = [&](const TExtractRequest& r, int) {
      if (!r.Password.empty()) return UntilStopped(r);
      ++asking;
      return Outcome(TExtractOutcome::Done, TPasswordState::Cancelled);
    };
  // The first question is answered and the user stops while the archive
  // tries the password; the second question waits behind it meanwhile.
  w.UI.PasswordAnswers = {"secret"};
  w.UI.OnPasswordAsked = [&] {
    while (asking < 2) Sleep(1);
    Sleep(50);  // the other archive is waiting with its question by now
    w.Progress.Stop = true;
  };
  const TUnzipResult r = w.Run();
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(w.UI.PasswordAsks.size(), 1u);
  EXPECT_EQ(r.Unfinished, (std::vector<size_t>{0, 1}));
  for (const std::string& archive : w.Archives) {
    EXPECT_EQ(LinesAbout(r, archive),
              std::vector<std::string>{"stopped by the user before its end; it stays in the list."});
  }
}

// An extractor that fails (even by throwing) after its archive asked for a
// password: the failure is in the report, and the next question is asked.
TEST(Walk, AFailureAfterAQuestionIsReportedAndTheOthersGoOn) {
  ScriptedWalk w({"a.zip", "b.zip"});
  Latch aAsked;
  w.Extractors.Scripts["a.zip"] = [&](const TExtractRequest& r, int) -> TExtractResult {
    if (r.Password.empty()) return Outcome(TExtractOutcome::Done, TPasswordState::Cancelled);
    throw std::runtime_error("the engine broke");
  };
  w.Extractors.Scripts["b.zip"] = [&](const TExtractRequest& r, int) {
    EXPECT_TRUE(aAsked.Wait());
    if (r.Password != "b")
      return Outcome(TExtractOutcome::Done, r.Password.empty() ? TPasswordState::Cancelled : TPasswordState::Wrong);
    return Outcome(TExtractOutcome::Done, TPasswordState::Given);
  };
  w.UI.PasswordAnswers = {"a", "b"};
  w.UI.OnPasswordAsked = [&] { aAsked.Open(); };
  const TUnzipResult r = w.Run();
  EXPECT_FALSE(r.Stopped) << "the walk hung until the watchdog stopped it";
  EXPECT_EQ(LinesAbout(r, w.Archives[0]), std::vector<std::string>{"the engine broke."});
  EXPECT_TRUE(LinesAbout(r, w.Archives[1]).empty());
  ASSERT_EQ(w.UI.PasswordAsks.size(), 2u);
  EXPECT_EQ(w.UI.PasswordAsks[1].first, w.Archives[1]);
}

// Two archives that fit the disk alone but not together: the second is
// refused before it writes anything, as it would be one after another.
TEST(Walk, TheRoomCheckCountsWhatTheArchivesRunningStillNeed) {
  ScriptedWalk w({"a.zip", "b.zip"});
  Latch aHasRoom;
  std::map<std::string, bool> given;
  std::mutex lock;
  for (const char* name : {"a.zip", "b.zip"})
    w.Extractors.Scripts[name] = [&, name](const TExtractRequest& r, int) {
      if (std::string(name) == "b.zip") {
        EXPECT_TRUE(aHasRoom.Wait());
      }
      const bool room = r.Host->RoomFor(600 << 10);
      {
        const std::lock_guard<std::mutex> hold(lock);
        given[name] = room;
      }
      if (std::string(name) == "a.zip") {
        aHasRoom.Open();
        r.Host->Step(100, 1000);  // a tenth written: 540 KB still needed
        for (bool both = false; !both; Sleep(1)) {
          const std::lock_guard<std::mutex> hold(lock);
          both = given.size() == 2;
        }
      }
      return Outcome(room ? TExtractOutcome::Done : TExtractOutcome::Failed);
    };
  const TUnzipResult r = w.Run(2, [](TUnzipCommand& c) {
    c.FreeSpace = [](const std::wstring&, uint64_t& Free, std::wstring& Volume) {
      Free = 1 << 20;
      Volume = L"Q:";
      return true;
    };
  });
  EXPECT_TRUE(given["a.zip"]);
  EXPECT_FALSE(given["b.zip"]);
  EXPECT_EQ(LinesAbout(r, w.Archives[1]),
            std::vector<std::string>{"not extracted: it needs 600 KB; 484 KB are free on Q: beside what the archives "
                                     "extracted with it still need."});
  EXPECT_FALSE(DirectoryExists(w.T / "out\\b")) << "a refused archive leaves no folder";
}

// Names that are one name on Windows never lose a file: each later one gets
// the next free name, with a note; folders of one name are one folder.
TEST(Walk, NamesThatAreOneOnWindowsGetNamesOfTheirOwn) {
  ScriptedWalk w({"a.zip"});
  std::vector<std::wstring> paths;
  w.Extractors.Scripts["a.zip"] = [&](const TExtractRequest& r, int) {
    for (const auto& item : std::vector<std::pair<const wchar_t*, bool>>{{L"README", false},
                                                                         {L"readme", false},
                                                                         {L"x/", true},
                                                                         {L"X/Data.txt", false},
                                                                         {L"x/data.txt", false},
                                                                         {L"X", true},
                                                                         {L"dup.txt", false},
                                                                         {L"dup.txt", false},
                                                                         {L"readme (2)", false}})
      paths.push_back(r.Host->PathFor(item.first, item.second));
    return TExtractResult{};
  };
  const TUnzipResult r = w.Run();
  EXPECT_EQ(paths, (std::vector<std::wstring>{L"README", L"readme (2)", L"x", L"X\\Data.txt", L"x\\data (2).txt", L"X",
                                              L"dup.txt", L"dup (2).txt", L"readme (2) (2)"}));
  EXPECT_TRUE(r.Report.empty());
  ASSERT_EQ(NotesAbout(r, w.Archives[0]).size(), 4u);
  EXPECT_EQ(NotesAbout(r, w.Archives[0])[0],
            "\"readme\" has the name of an earlier item on Windows, where case does not tell names apart; it was "
            "extracted as \"readme (2)\".");
}
