#include "UnzipCommand.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "Exception.h"
#include "Files.h"
#include "FreeSpace.h"
#include "SafePath.h"
#include "ShellPaths.h"
#include "Sync.h"
#include "Text.h"
#include "WalkSchedule.h"
#include "WebMark.h"

namespace {
const char kNotAnArchive[] = "not an archive of a kind Quarn extracts; skipped.";
const char kProgram[] = "not an archive: a program; it was not run";
const char kOtherKind[] = "it is a %s archive, though its name says %s; extracted as %s.";
const char kMoreProblems[] = "... and %d more problems.";
const char kRenamed[] = "\"%s\" was extracted as ";
const char kSameName[] =
    "\"%s\" has the name of an earlier item on Windows, where case does not tell names apart; "
    "it was extracted as ";
const char kNoName[] = "a member with an empty name was skipped.";
const char kNoSafeName[] = "\"%s\" was skipped: nothing of its name leads to a place inside the folder.";
const char kTooLong[] = "\"%s...\" was skipped: its path would be longer than Windows allows.";
constexpr size_t kTooLongShown = 60;  // characters of such a name in the report
const char kStopped[] = "stopped by the user before its end; it stays in the list.";
const char kNotReached[] = "Stopped by the user: %d archive(s) not reached stay in the list.";
const char kStoppedHere[] = "stopped by the user before its end.";
const char kNotReachedHere[] = "Stopped by the user: %d archive(s) not reached were not extracted.";
const char kExtractingInto[] = "Extracting into \"%s\"";
const char kExtractingIntoFree[] = "\"%s\" exists: extracting into \"%s\"";
const char kNoFolder[] = "The folder \"%s\" cannot be made beside the archive (error %lu).";
const char kNoFolderBelow[] = "The folder \"%s\" cannot be made (error %lu).";
const char kWrongPassword[] = "wrong password.";
const char kLaterPart[] =
    "a later part of a set, which is extracted through its part \"%s\"; that part is not in the list.";
const char kLaterPartMissing[] =
    "a later part of a set, which is extracted through its part \"%s\"; that part is missing.";
const char kNoPassword[] = "skipped: no password was given.";
const char kNoRoom[] = "not extracted: it needs %s; %s are free on %s.";
const char kNoRoomBeside[] =
    "not extracted: it needs %s; %s are free on %s beside what the archives extracted with it "
    "still need.";
const char kUnmarked[] =
    "the mark of the web, by which Windows warns before a file from the Internet opens, could not be "
    "given to %d file(s): %s.";
const char kReportHead[] = "These archives were not extracted completely:";
const char kNotesHead[] = "Every archive was extracted. Please note:";
const char kNotesAfter[] = "Please note:";
const char kDiskFull[] = "the disk is full: the extraction stopped at \"%s\", which was removed.";

constexpr int kMaxPasswordAsks = 3;  // per archive

constexpr size_t kProblemsShown = 5;  // per archive, in the report after the walk
constexpr size_t kUnmarkedShown = 3;  // files named in the line about files left unmarked

// How many names ("name", "name (2)", ...) a folder beside an archive may try.
constexpr int kFreeNames = 10000;

// How often the driving thread tells the progress while nothing else wakes it.
constexpr DWORD kTellEveryMs = 50;

// What a 32-bit process keeps of its address space for everything but the
// archives' decoders: the program, the engines, stacks and buffers.
constexpr uint64_t kProgramReserve = 512ull << 20;

// The weight of an archive for the progress: all the files of its set.
uint64_t SetWeightOf(const std::string& Archive) {
  if (SetPartOf(Archive).Later) return 1;
  uint64_t weight = 0;
  for (const std::string& file : SetFilesOf(Archive)) weight += WeightOf(file);
  return weight;
}

// The name of Archive's output folder in the folder Place.
std::string OutputNameOf(const std::string& Place, const std::string& Archive) {
  return OutputFolderOf(Place, Archive).substr(Place.size() + 1);
}

// The names in Folder ("." and ".." left out), with the entry data of the
// first one.
std::vector<std::wstring> NamesIn(const std::wstring& Folder, WIN32_FIND_DATAW* First = nullptr) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  const TFindHandle find(FindFirstFileW((Folder + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (names.empty() && First != nullptr) *First = data;
    names.push_back(name);
  } while (FindNextFileW(find.Get(), &data));
  return names;
}

// When Folder holds nothing but one folder named Name (in any case), that
// folder's content goes up into Folder and the emptied folder goes. It is
// first moved aside under a name none of its entries has, so that an entry
// named like it can go up too. A move that fails puts back what was moved.
void LiftSingleFolder(const std::wstring& Folder, const std::wstring& Name) {
  WIN32_FIND_DATAW only = {};
  const std::vector<std::wstring> top = NamesIn(Folder, &only);
  if (top.size() != 1 || !(only.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (only.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || FoldedName(top[0]) != FoldedName(Name))
    return;
  const std::wstring inner = Folder + L"\\" + top[0];
  const std::vector<std::wstring> names = NamesIn(inner);
  std::wstring aside;
  int n = 1;
  do aside = top[0] + L".quarn-lift-" + std::to_wstring(n++);
  while (std::find(names.begin(), names.end(), aside) != names.end());
  aside = Folder + L"\\" + aside;
  if (!MoveFileExW(inner.c_str(), aside.c_str(), 0)) return;
  size_t moved = 0;
  while (moved < names.size() &&
         MoveFileExW((aside + L"\\" + names[moved]).c_str(), (Folder + L"\\" + names[moved]).c_str(), 0))
    ++moved;
  if (moved == names.size()) {
    RemoveDirectoryW(aside.c_str());
    return;
  }
  while (moved > 0) {
    --moved;
    MoveFileExW((Folder + L"\\" + names[moved]).c_str(), (aside + L"\\" + names[moved]).c_str(), 0);
  }
  MoveFileExW(aside.c_str(), inner.c_str(), 0);
}

// How slowly a kind unpacks, a byte of archive against a byte of a deflated
// zip (measured roughly with the engines here): what orders the archives of a
// batch so that the long ones start first.
double UnpackingCost(TArchiveKind Kind) {
  switch (Kind) {
    case TArchiveKind::SevenZip:
    case TArchiveKind::Xz:
    case TArchiveKind::Lzma:
    case TArchiveKind::Bzip2: return 4;
    case TArchiveKind::Rar: return 2;
    default: return 1;
  }
}

// "./" and the like name the output folder itself: nothing to report.
bool NamesTheFolderItself(const std::wstring& Name) {
  return !Name.empty() && Name.find(L"..") == std::wstring::npos &&
         Name.find_first_not_of(L"./\\") == std::wstring::npos;
}

// Path with " (N)" put before the extension of its last part.
std::wstring NumberedName(const std::wstring& Path, int N) {
  const size_t part = Path.find_last_of(L'\\') + 1;
  size_t dot = Path.find_last_of(L'.');
  if (dot == std::wstring::npos || dot <= part) dot = Path.size();
  return Path.substr(0, dot) + L" (" + std::to_wstring(N) + L")" + Path.substr(dot);
}

// What this process can give the archives' decoders of its address space:
// no limit in 64 bits; in 32 bits what is still free of it (2 to 4 GB, less
// what the program has taken), less what the program goes on needing.
uint64_t OwnMemoryBudget() {
  if (sizeof(void*) >= 8) return std::numeric_limits<uint64_t>::max();
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 1ull << 30;
  return status.ullAvailVirtual > 2 * kProgramReserve ? status.ullAvailVirtual - kProgramReserve
                                                      : status.ullAvailVirtual / 2;
}
}  // namespace

TReportBox ReportBoxOf(const TUnzipResult& Result) {
  TReportBox box;
  std::string notes;
  for (const std::string& line : Result.Notes) notes += "\r\n" + line;
  if (Result.Report.empty()) {
    if (!notes.empty()) box.Text = kNotesHead + ("\r\n" + notes);
    return box;
  }
  box.Error = true;
  box.Text = std::string(kReportHead) + "\r\n";
  for (const std::string& line : Result.Report) box.Text += "\r\n" + line;
  if (!notes.empty()) box.Text += "\r\n\r\n" + (kNotesAfter + ("\r\n" + notes));
  return box;
}

// One archive of the walk: what the walk gives its extractor (the host), and
// what it keeps of the archive: the problems and notes of its last attempt
// (a wrong password makes another attempt).
class TUnzipCommand::TArchiveRun final : public IExtractHost {
 public:
  TArchiveRun(TUnzipCommand& Command, size_t Index, const std::string& Archive)
      : Index(Index), Archive(Archive), FCommand(Command) {}
  ~TArchiveRun() override {
    for (std::string& password : Tried) Wipe(password);
  }

  const size_t Index;
  const std::string Archive;
  // Decided by the driving thread before the archive starts.
  uint64_t Weight = 0;  // the bytes of the archive (of its whole set)
  TArchiveKind Kind = TArchiveKind::None;
  bool Runs = false;       // an extractor extracts it (else it was settled before the walk)
  bool HasFolder = false;  // Folder (or FolderError) was decided
  std::string Folder, FolderError;
  bool MadeFolder = false;  // the walk made Folder
  int Threads = 1;          // worker threads its extractor may use
  // The archive's state: started (given to a worker), ended (its worker is
  // done with it), stopped by the user before its end.
  bool Started = false;
  std::atomic<bool> Ended{false};
  bool Reaped = false;  // the driving thread saw its end
  bool StoppedInside = false;

  std::vector<std::string> Problems, Notes;
  // The problems and notes the walk itself found before the extraction (a
  // kind other than the name says) stay through the attempts.
  size_t KeptProblems = 0, KeptNotes = 0;
  int Asks = 0;                    // password dialogs shown for it
  std::vector<std::string> Tried;  // the passwords given to it, wiped at the end
  // It asks for a password, or tries one the user gave that is not known
  // to work yet: the others' questions wait meanwhile (guarded by the
  // command's lock).
  bool Trying = false;
  // Set before the extraction, read by the engines' threads: the archive's
  // mark of the web for every file written out of it ("" when the archive
  // has none).
  std::string WebMark;
  // What the archive said its files take, and on which volume (guarded by
  // the command's lock); how far it has come.
  uint64_t RoomTaken = 0;
  std::wstring RoomVolume;
  std::atomic<uint64_t> StepDone{0}, StepTotal{0};
  std::vector<std::string> Unmarked;  // the files its mark could not be given to (guarded)

  void NewAttempt() {
    const std::lock_guard<TLock> lock(FLock);
    Problems.resize(KeptProblems);
    Notes.resize(KeptNotes);
    Unmarked.clear();
    FFiles.clear();
    FFolders.clear();
  }
  void Keep() {
    KeptProblems = Problems.size();
    KeptNotes = Notes.size();
  }
  // What the archive still needs of the room it asked for.
  uint64_t RoomLeft() const {
    const uint64_t total = StepTotal, done = std::min<uint64_t>(StepDone, total);
    if (total == 0) return RoomTaken;
    return static_cast<uint64_t>(static_cast<double>(RoomTaken) * static_cast<double>(total - done) /
                                 static_cast<double>(total));
  }

  std::wstring PathFor(const std::wstring& Name, bool IsFolder) override {
    // Nothing is ever written outside the archive's output folder, nor to a
    // device, whatever the item's name says.
    const TSafePath<std::wstring> safe = SafeRelativePath(Name);
    if (safe.Path.empty()) {
      if (Name.empty())
        Problem(kNoName);
      else if (!NamesTheFolderItself(Name))
        Problem(WithName(kNoSafeName, WideToAnsi(Name)));
      return safe.Path;
    }
    if (!FitsBelow(AnsiToWide(Folder), safe.Path)) {
      Problem(WithName(kTooLong, WideToAnsi(Name.substr(0, kTooLongShown))));
      return std::wstring();
    }
    if (safe.Renamed) Note(WithName(kRenamed, WideToAnsi(Name)) + "\"" + WideToAnsi(safe.Path) + "\".");
    return Distinct(safe.Path, IsFolder, Name);
  }
  bool Step(uint64_t Done, uint64_t Total) override {
    StepTotal = Total;
    StepDone = Done;
    if (FCommand.FMeter != nullptr) FCommand.FMeter->Set(static_cast<int>(Index), Done, Total);
    return !FCommand.FStopped;
  }
  bool Stopping() override { return FCommand.FStopped; }
  bool AskVolume(const std::string& Missing, std::string& Found) override {
    return FCommand.Ask([&] { return FCommand.FUI.AskVolume(FCommand.FOwner, Missing, Found); });
  }
  bool RoomFor(uint64_t Bytes) override {
    // What the archive states its files take is weighed against what its
    // output folder's volume has free, less what the archives running
    // beside it still need there: an archive that cannot fit is not started
    // (and what the volume has is left to the others).
    uint64_t free = 0;
    std::wstring volume;
    if (!FCommand.FreeSpace || !FCommand.FreeSpace(AnsiToWide(Folder), free, volume)) return true;
    const std::lock_guard<TLock> lock(FCommand.FLock);
    uint64_t reserved = 0;
    for (const auto& run : FCommand.FRuns)
      if (run.get() != this && run->Started && !run->Ended && run->RoomVolume == volume) reserved += run->RoomLeft();
    const uint64_t left = free > reserved ? free - reserved : 0;
    if (Bytes <= left) {
      RoomTaken = Bytes;
      RoomVolume = volume;
      return true;
    }
    const bool exact = SizeText(Bytes) == SizeText(left);  // the difference is too small for one decimal
    Problem(Format(reserved > 0 ? kNoRoomBeside : kNoRoom, SizeText(Bytes, exact).c_str(),
                   SizeText(left, exact).c_str(), WideToAnsi(volume).c_str()));
    return false;
  }
  void FileWritten(const std::wstring& Path) override {
    if (WebMark.empty() || MarkFile(Path, WebMark)) return;
    const std::lock_guard<TLock> lock(FLock);
    Unmarked.push_back(WideToAnsi(Path));
  }
  // The line about the files that could not be marked, or "" when every
  // file was.
  std::string UnmarkedLine() {
    const std::lock_guard<TLock> lock(FLock);
    if (Unmarked.empty()) return "";
    std::string names;
    for (size_t i = 0; i < Unmarked.size() && i < kUnmarkedShown; ++i) {
      std::string file = Unmarked[i];
      if (file.compare(0, Folder.size() + 1, Folder + "\\") == 0) file.erase(0, Folder.size() + 1);
      names += (i > 0 ? ", \"" : "\"") + file + "\"";
    }
    if (Unmarked.size() > kUnmarkedShown) names += ", ...";
    return Format(kUnmarked, static_cast<int>(Unmarked.size()), names.c_str());
  }
  void DiskFull(const std::wstring& Path) override {
    std::string file = WideToAnsi(Path);
    if (file.compare(0, Folder.size() + 1, Folder + "\\") == 0) file.erase(0, Folder.size() + 1);
    Problem(WithName(kDiskFull, file));
  }
  void Problem(const std::string& Line) override {
    const std::lock_guard<TLock> lock(FLock);
    Problems.push_back(Line);
  }
  void Note(const std::string& Line) override {
    const std::lock_guard<TLock> lock(FLock);
    Notes.push_back(Line);
  }

 private:
  // Path itself, or, for a file whose path is one on Windows with an earlier
  // file's or folder's of this extraction (the same name stored twice, or
  // names that differ in case only), the first free "name (N).ext". Folders
  // of one name are one folder: nothing of theirs is lost.
  std::wstring Distinct(const std::wstring& Path, bool IsFolder, const std::wstring& Name) {
    std::unique_lock<TLock> lock(FLock);
    const std::wstring key = FoldedName(Path);
    for (size_t cut = key.find(L'\\'); cut != std::wstring::npos; cut = key.find(L'\\', cut + 1))
      FFolders.insert(key.substr(0, cut));
    if (IsFolder) {
      FFolders.insert(key);
      return Path;
    }
    if (FFiles.insert(key).second && FFolders.count(key) == 0) return Path;
    std::wstring free;
    for (int n = 2;; ++n) {
      free = NumberedName(Path, n);
      const std::wstring freeKey = FoldedName(free);
      if (FFolders.count(freeKey) == 0 && FFiles.insert(freeKey).second) break;
    }
    Notes.push_back(WithName(kSameName, WideToAnsi(Name)) + "\"" + WideToAnsi(free) + "\".");
    return free;
  }

  TUnzipCommand& FCommand;
  TLock FLock;                                        // engines may report from threads of their own
  std::unordered_set<std::wstring> FFiles, FFolders;  // the paths given out, folded
};

// A question of an archive's thread, asked by the driving thread.
struct TUnzipCommand::TQuestion {
  std::function<bool()> Ask;
  bool Answer = false;
  bool Done = false;
};

TUnzipCommand::TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, IExtractors& Extractors)
    : FreeSpace(FreeSpaceOf), FOwner(Owner), FUI(UI), FProgress(Progress), FExtractors(Extractors) {}

TUnzipCommand::~TUnzipCommand() = default;

TUnzipResult TUnzipCommand::Run(const std::vector<std::string>& Archives, const std::string& Destination) {
  FHere = false;
  FDestination = Destination;
  return Walk(Archives);
}

TUnzipResult TUnzipCommand::RunHere(const std::vector<std::string>& Archives) {
  FHere = true;
  FDestination.clear();
  return Walk(Archives);
}

TUnzipResult TUnzipCommand::Walk(const std::vector<std::string>& Archives) {
  FStopped = false;
  FRuns.clear();
  std::vector<uint64_t> weights;
  for (size_t i = 0; i < Archives.size(); ++i) {
    weights.push_back(SetWeightOf(Archives[i]));
    FRuns.push_back(std::make_unique<TArchiveRun>(*this, i, Archives[i]));
    FRuns.back()->Weight = weights.back();
  }
  const int processors =
      Processors > 0 ? Processors : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  TWalkSchedule schedule(ArchivesAtOnce > 0 ? ArchivesAtOnce : processors, processors,
                         MemoryBudget > 0 ? MemoryBudget : OwnMemoryBudget());
  TBatchProgress meter(FProgress, weights);
  FMeter = &meter;
  Plan(schedule);
  FWake.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  // The user's wish to stop is read here only (the window's state); the
  // archives' threads see it at their next step, and questions waiting give up.
  const auto stopping = [this] {
    if (!FStopped && FProgress.Cancelled()) {
      const std::lock_guard<TLock> lock(FLock);
      FStopped = true;
      FChanged.notify_all();
    }
    return FStopped.load();
  };
  for (;;) {
    for (int next; !stopping() && (next = schedule.Next()) >= 0;)
      Start(*FRuns[static_cast<size_t>(next)], schedule.Start(static_cast<size_t>(next)));
    if (schedule.Running() == 0) break;
    const HANDLE wake = FWake.Get();
    if (MsgWaitForMultipleObjects(1, &wake, FALSE, kTellEveryMs, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      // The window's messages run now; what is left counts as seen, so that
      // the wait does not return for it again at once.
      FProgress.Pump();
      MSG seen;
      PeekMessageA(&seen, nullptr, 0, 0, PM_NOREMOVE);
    }
    AnswerQuestions();
    for (const auto& run : FRuns)
      if (run->Started && !run->Reaped && run->Ended) {
        run->Reaped = true;
        schedule.End(run->Index);
        if (!run->StoppedInside) meter.End(static_cast<int>(run->Index));
      }
    meter.Tell(false);  // lets the window's messages run: Escape asks to stop
  }
  {
    const std::lock_guard<TLock> lock(FLock);
    FClosing = true;
  }
  FChanged.notify_all();
  for (std::thread& worker : FWorkers) worker.join();
  FWorkers.clear();
  meter.Tell(true);
  FMeter = nullptr;
  // A folder made beside an archive ahead of its start goes again.
  for (const auto& run : FRuns)
    if (run->MadeFolder && !run->Started) RemoveDirectoryW(LongPathForm(AnsiToWide(run->Folder)).c_str());
  TUnzipResult result = Report();
  FRuns.clear();
  Wipe(FPassword);
  return result;
}

void TUnzipCommand::Plan(TWalkSchedule& Schedule) {
  // A set is extracted once, through its first part: the later parts listed
  // with it are done with it.
  std::set<std::string> listed;
  for (const auto& run : FRuns) listed.insert(Lower(run->Archive));
  for (const auto& owned : FRuns) {
    TArchiveRun& run = *owned;
    const TSetPart part = SetPartOf(run.Archive);
    // The name decides what is an archive; the content what kind it is (the
    // first part of numbered pieces shows it only by its content).
    const TArchiveKind named = part.Later ? TArchiveKind::None : ArchiveKindOf(run.Archive);
    if (!part.Later && named != TArchiveKind::None) run.Kind = ArchiveKindToExtract(run.Archive);
    if (part.Later) {
      // Alone, a later part names the part it needs.
      if (listed.count(Lower(part.First)) == 0)
        run.Problem(Format(PathExists(part.First) ? kLaterPart : kLaterPartMissing, FileNameOf(part.First).c_str()));
    } else if (named == TArchiveKind::None || run.Kind == TArchiveKind::Split) {
      run.Problem(kNotAnArchive);
    } else if (run.Kind == TArchiveKind::SelfExtracting) {
      // A program is never run: it is an archive only when it carries one.
      run.Problem(kProgram);
    } else {
      if (run.Kind != named && named != TArchiveKind::Split && named != TArchiveKind::SelfExtracting) {
        const char* is = KindInfo(run.Kind).Name;
        run.Note(Format(kOtherKind, is, KindInfo(named).Name, is));
      }
      run.Runs = true;
    }
    run.Keep();
    TScheduledArchive facts;
    if (run.Runs) {
      const std::string folder = OutputFolderOf(FHere ? FolderOf(run.Archive) : FDestination, run.Archive);
      facts.Folder = WideToAnsi(FoldedName(AnsiToWide(folder)));
      facts.TakesTurns = run.Kind == TArchiveKind::Rar;
      facts.Cost = static_cast<double>(run.Weight) * UnpackingCost(run.Kind);
      if (Schedule.MemoryLimited()) facts.Memory = FExtractors.For(run.Kind).DecoderMemory(run.Archive, run.Kind);
    }
    const size_t index = Schedule.Add(facts);
    if (!run.Runs) {
      Schedule.Skip(index);
      FMeter->End(static_cast<int>(index));
    }
  }
}

void TUnzipCommand::Start(TArchiveRun& Run, int Threads) {
  // Folders beside the archives take their free names in the list's order,
  // as they would one after another.
  for (const auto& run : FRuns) {
    if (run->Index > Run.Index) break;
    if (run->HasFolder || !run->Runs) continue;
    run->HasFolder = true;
    try {
      run->Folder = FolderFor(run->Archive);
      run->MadeFolder = FHere;
    } catch (const std::exception& e) {
      run->FolderError = ExceptionText(e);
    }
  }
  Run.Threads = Threads;
  Run.Started = true;
  FMeter->Begin(static_cast<int>(Run.Index), Run.Archive);
  bool hire = false;
  {
    const std::lock_guard<TLock> lock(FLock);
    FJobs.push_back(&Run);
    // A worker waiting takes it; else one more is hired (never more than
    // the archives running at once).
    hire = FIdle == 0;
    if (!hire) --FIdle;
  }
  if (hire)
    FWorkers.emplace_back([this] { Work(); });
  else
    FChanged.notify_all();
}

void TUnzipCommand::Work() {
  std::unique_lock<TLock> lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FClosing || !FJobs.empty(); });
    if (FJobs.empty()) return;
    TArchiveRun& run = *FJobs.front();
    FJobs.pop_front();
    lock.unlock();
    // Whatever fails here reaches the archive's report: nothing ends the
    // program, nothing is left waiting.
    try {
      ExtractArchive(run);
    } catch (const std::exception& e) {
      run.Problem(GenericErrorText(ExceptionText(e)));
    }
    try {
      FinishFolder(run);
    } catch (const std::exception&) {
      // A folder that cannot be tidied stays as it is.
    }
    lock.lock();
    // Counted idle before its end is seen: the driving thread may hand it
    // the next archive at once.
    ++FIdle;
    run.Ended = true;
    SetEvent(FWake.Get());
  }
}

void TUnzipCommand::ExtractArchive(TArchiveRun& Run) {
  if (!Run.FolderError.empty()) {
    Run.Problem(Run.FolderError);
    return;
  }
  // Below the destination, the folder is made now (with the destination
  // itself when needed); one that was there stays whatever happens.
  if (!FHere && !DirectoryExists(Run.Folder)) {
    if (!ForceDirectories(Run.Folder)) {
      Run.Problem(Format(kNoFolderBelow, Run.Folder.c_str(), static_cast<unsigned long>(GetLastError())));
      return;
    }
    Run.MadeFolder = true;
  }
  IExtractor& extractor = FExtractors.For(Run.Kind);
  Run.WebMark = WebMarkFor(Run.Archive);
  // Whatever ends the extraction, a password it was trying is settled, and
  // the questions waiting for it go on.
  struct TSettled {
    TUnzipCommand& Command;
    TArchiveRun& Run;
    ~TSettled() {
      {
        const std::lock_guard<TLock> lock(Command.FLock);
        Run.Trying = false;
      }
      Command.FChanged.notify_all();
    }
  } settled{*this, Run};
  // The walk's password is tried first; while the password is wrong, the
  // user is asked for another (three asks at most). A password that worked
  // becomes the walk's, tried first on the archives that follow.
  std::string password;
  {
    const std::lock_guard<TLock> lock(FLock);
    password = FPassword;
  }
  if (!password.empty()) Run.Tried.push_back(password);
  TExtractOutcome outcome = TExtractOutcome::Done;
  for (;;) {
    Run.NewAttempt();  // only the last attempt's problems are reported
    TExtractRequest request{Run.Archive, Run.Kind, Run.Folder, password, &Run, Run.Threads};
    const TExtractResult result = extractor.Extract(request);
    outcome = result.Outcome;
    {
      const std::lock_guard<TLock> lock(FLock);
      if (result.Password == TPasswordState::Given && !password.empty()) {
        Wipe(FPassword);
        FPassword = password;
      }
      Run.Trying = false;
    }
    FChanged.notify_all();  // questions waiting for this password's outcome
    Wipe(password);
    if (outcome == TExtractOutcome::Stopped || FStopped) {
      outcome = TExtractOutcome::Stopped;
      break;
    }
    const bool wrong = result.Password == TPasswordState::Wrong;
    if (!wrong && result.Password != TPasswordState::Cancelled) break;
    // The failures of a wrong password are not the archive's own.
    Run.NewAttempt();
    const int asked = Run.Asks;
    if (AskPassword(Run, wrong, password)) continue;
    if (FStopped)
      outcome = TExtractOutcome::Stopped;
    else
      Run.Problem(wrong && Run.Asks == asked ? kWrongPassword : kNoPassword);
    break;
  }
  Run.StoppedInside = outcome == TExtractOutcome::Stopped;
  // Every file carries the archive's mark, or the report names those that do not.
  const std::string unmarked = Run.UnmarkedLine();
  if (!unmarked.empty()) Run.Problem(unmarked);
}

bool TUnzipCommand::AskPassword(TArchiveRun& Run, bool Retry, std::string& Password) {
  {
    std::unique_lock<TLock> lock(FLock);
    // While another archive asks for a password, or tries one the user just
    // gave, the question waits: when it works, it is the walk's, and tried
    // here first.
    const auto othersTrying = [&] {
      for (const auto& run : FRuns)
        if (run.get() != &Run && run->Trying) return true;
      return false;
    };
    FChanged.wait(lock, [&] { return FStopped || !othersTrying(); });
    if (FStopped) return false;
    // A password that worked for another archive meanwhile is tried first,
    // without a question.
    if (!FPassword.empty() && std::find(Run.Tried.begin(), Run.Tried.end(), FPassword) == Run.Tried.end()) {
      Password = FPassword;
      Run.Tried.push_back(Password);
      return true;
    }
    if (Run.Asks >= kMaxPasswordAsks) return false;
    ++Run.Asks;
    Run.Trying = true;
  }
  const bool given = Ask([&] { return FUI.AskPassword(FOwner, Run.Archive, Retry, Password); }) && !Password.empty();
  {
    const std::lock_guard<TLock> lock(FLock);
    if (given)
      Run.Tried.push_back(Password);
    else
      Run.Trying = false;
  }
  if (!given) FChanged.notify_all();
  return given;
}

bool TUnzipCommand::Ask(const std::function<bool()>& Question) {
  TQuestion question{Question};
  std::unique_lock<TLock> lock(FLock);
  if (FStopped) return false;
  FQuestions.push_back(&question);
  SetEvent(FWake.Get());
  FChanged.wait(lock, [&] { return question.Done; });
  return question.Answer;
}

void TUnzipCommand::AnswerQuestions() {
  for (;;) {
    TQuestion* question = nullptr;
    {
      const std::lock_guard<TLock> lock(FLock);
      if (FQuestions.empty()) return;
      question = FQuestions.front();
      FQuestions.pop_front();
    }
    // One dialog at a time; the other archives go on meanwhile.
    const bool answer = !FStopped && question->Ask();
    {
      const std::lock_guard<TLock> lock(FLock);
      question->Answer = answer;
      question->Done = true;
    }
    FChanged.notify_all();
  }
}

TUnzipResult TUnzipCommand::Report() const {
  TUnzipResult result;
  const auto report = [](std::vector<std::string>& Lines, const std::string& Archive,
                         const std::vector<std::string>& Found, bool Cut) {
    const size_t shown = Cut ? std::min(Found.size(), kProblemsShown) : Found.size();
    for (size_t i = 0; i < shown; ++i) Lines.push_back(Archive + ": " + Found[i]);
    if (Found.size() > shown)
      Lines.push_back(Archive + ": " + Format(kMoreProblems, static_cast<int>(Found.size() - shown)));
  };
  size_t notReached = 0;
  for (const auto& run : FRuns) {
    if (run->Runs && !run->Started) {
      result.Unfinished.push_back(run->Index);
      ++notReached;
      continue;
    }
    report(result.Report, run->Archive, run->Problems, true);
    report(result.Notes, run->Archive, run->Notes, false);
    if (run->StoppedInside) {
      result.Report.push_back(run->Archive + ": " + (FHere ? kStoppedHere : kStopped));
      result.Unfinished.push_back(run->Index);
    }
  }
  result.Stopped = FStopped;
  if (FStopped && notReached > 0)
    result.Report.push_back(Format(FHere ? kNotReachedHere : kNotReached, static_cast<int>(notReached)));
  return result;
}

std::string TUnzipCommand::FolderFor(const std::string& Archive) {
  if (!FHere) return OutputFolderOf(FDestination, Archive);
  // Made here, under a name nobody had: nothing of the user's is ever
  // written into or over, also when another program takes names meanwhile.
  const std::string place = FolderOf(Archive);
  const std::string wanted = OutputNameOf(place, Archive);
  for (int n = 1; n <= kFreeNames; ++n) {
    const std::string name = n == 1 ? wanted : wanted + " (" + std::to_string(n) + ")";
    const std::string folder = place + "\\" + name;
    if (CreateDirectoryW(LongPathForm(AnsiToWide(folder)).c_str(), nullptr)) {
      FProgress.Notice(n == 1 ? Format(kExtractingInto, name.c_str())
                              : Format(kExtractingIntoFree, wanted.c_str(), name.c_str()));
      return folder;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
      throw Exception(Format(kNoFolder, folder.c_str(), static_cast<unsigned long>(error)));
  }
  throw Exception(Format(kNoFolder, (place + "\\" + wanted).c_str(), static_cast<unsigned long>(ERROR_ALREADY_EXISTS)));
}

void TUnzipCommand::FinishFolder(TArchiveRun& Run) {
  if (!Run.MadeFolder) return;
  const std::wstring folder = LongPathForm(AnsiToWide(Run.Folder));
  if (RemoveDirectoryW(folder.c_str())) return;  // it received nothing
  if (FHere) LiftSingleFolder(folder, AnsiToWide(OutputNameOf(FolderOf(Run.Archive), Run.Archive)));
}
