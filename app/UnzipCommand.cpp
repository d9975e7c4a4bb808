#include "UnzipCommand.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

#include "Exception.h"
#include "Files.h"
#include "FreeSpace.h"
#include "SafePath.h"
#include "ShellPaths.h"
#include "Text.h"
#include "WebMark.h"

namespace {
const char kNotAnArchive[] = "not an archive of a kind Quarn extracts; skipped.";
const char kOtherKind[] = "it is a %s archive, though its name says %s; extracted as %s.";
const char kMoreProblems[] = "... and %d more problems.";
const char kRenamed[] = "\"%s\" was extracted as ";
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
const char kWrongPassword[] = "wrong password.";
const char kLaterPart[] =
    "a later part of a set, which is extracted through its part \"%s\"; that part is not in the list.";
const char kLaterPartMissing[] =
    "a later part of a set, which is extracted through its part \"%s\"; that part is missing.";
const char kNoPassword[] = "skipped: no password was given.";
const char kNoRoom[] = "not extracted: it needs %s; %s are free on %s.";
const char kDiskFull[] = "the disk is full: the extraction stopped at \"%s\", which was removed.";

constexpr int kMaxPasswordAsks = 3;  // per archive

constexpr size_t kProblemsShown = 5;  // per archive, in the report after the walk

// How many names ("name", "name (2)", ...) a folder beside an archive may try.
constexpr int kFreeNames = 10000;

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
      (only.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      CompareStringOrdinal(top[0].c_str(), -1, Name.c_str(), -1, TRUE) != CSTR_EQUAL)
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
  return !Name.empty() && Name.find(L"..") == std::wstring::npos && Name.find_first_not_of(L"./\\") == std::wstring::npos;
}
}  // namespace

// One archive of the walk: what the walk gives its extractor (the host), the
// thread that extracts it, and what it keeps of the archive: the problems
// and notes of its last attempt (a wrong password makes another attempt).
class TUnzipCommand::TArchiveRun final : public IExtractHost {
 public:
  TArchiveRun(TUnzipCommand& Command, size_t Index, const std::string& Archive)
      : Index(Index), Archive(Archive), FCommand(Command) {}
  ~TArchiveRun() override {
    if (Thread.joinable()) Thread.join();
    for (std::string& password : Tried) Wipe(password);
  }

  const size_t Index;
  const std::string Archive;
  // Decided before the archive starts, by the driving thread.
  bool Kinded = false;
  uint64_t Weight = 0;  // the bytes of the archive (of its whole set)
  double Cost = 0;      // how long it will take, roughly: its bytes, by how slowly its kind unpacks
  TArchiveKind Named = TArchiveKind::None, Kind = TArchiveKind::None;
  std::string Key;         // its output folder below the destination or beside it, folded
  bool HasFolder = false;  // Folder (or FolderError) was decided
  std::string Folder, FolderError;
  int Threads = 0;  // worker threads its extractor may use
  // The archive's state: started, ended (its thread is done), stopped by
  // the user before its end.
  bool Started = false;
  std::atomic<bool> Ended{false};
  bool StoppedInside = false;
  std::thread Thread;

  std::vector<std::string> Problems, Notes;
  // The problems and notes the walk itself found before the extraction (a
  // kind other than the name says) stay through the attempts.
  size_t KeptProblems = 0, KeptNotes = 0;
  int Asks = 0;                    // password dialogs shown for it
  std::vector<std::string> Tried;  // the passwords given to it, wiped at the end
  // It asks for a password, or tries one the user gave that is not known
  // to work yet: the others' questions wait meanwhile.
  bool Trying = false;
  // Set before the extraction, read by the engines' threads: the archive's
  // mark of the web for every file written out of it ("" when the archive
  // has none).
  std::string WebMark;
  bool NoRoom = false;  // the archive was not started: it cannot fit

  void NewAttempt() {
    const std::lock_guard<std::mutex> lock(FLock);
    Problems.resize(KeptProblems);
    Notes.resize(KeptNotes);
  }
  void Keep() {
    KeptProblems = Problems.size();
    KeptNotes = Notes.size();
  }

  std::wstring PathFor(const std::wstring& Name) override {
    // Nothing is ever written outside the archive's output folder, nor to a
    // device, whatever the item's name says.
    const TSafePath<std::wstring> safe = SafeRelativePath(Name);
    if (safe.Path.empty()) {
      if (Name.empty())
        Problem(kNoName);
      else if (!NamesTheFolderItself(Name))
        Problem(WithName(kNoSafeName, WideToAnsi(Name)));
    } else if (!FitsBelow(AnsiToWide(Folder), safe.Path)) {
      Problem(WithName(kTooLong, WideToAnsi(Name.substr(0, kTooLongShown))));
      return std::wstring();
    } else if (safe.Renamed) {
      Note(WithName(kRenamed, WideToAnsi(Name)) + "\"" + WideToAnsi(safe.Path) + "\".");
    }
    return safe.Path;
  }
  bool Step(uint64_t Done, uint64_t Total) override {
    if (FCommand.FMeter != nullptr) FCommand.FMeter->Set(static_cast<int>(Index), Done, Total);
    return !FCommand.FStopped;
  }
  bool AskPassword(bool Retry, std::string& Password) override {
    return FCommand.AskPassword(*this, Retry, Password);
  }
  bool AskVolume(const std::string& Missing, std::string& Found) override {
    return FCommand.Ask([&] { return FCommand.FUI.AskVolume(FCommand.FOwner, Missing, Found); });
  }
  bool RoomFor(uint64_t Bytes) override {
    // What the archive states its files take is weighed against what its
    // output folder's volume has free: an archive that cannot fit is not
    // started (and what the volume has is left to the next archives).
    uint64_t free = 0;
    std::wstring volume;
    if (!FreeSpaceOf(AnsiToWide(Folder), free, volume) || Bytes <= free) return true;
    const bool exact = SizeText(Bytes) == SizeText(free);  // the difference is too small for one decimal
    Problem(Format(kNoRoom, SizeText(Bytes, exact).c_str(), SizeText(free, exact).c_str(), WideToAnsi(volume).c_str()));
    NoRoom = true;
    return false;
  }
  void FileWritten(const std::wstring& Path) override {
    if (!WebMark.empty()) MarkFile(Path, WebMark);
  }
  void DiskFull(const std::wstring& Path) override {
    std::string file = WideToAnsi(Path);
    if (file.compare(0, Folder.size() + 1, Folder + "\\") == 0) file.erase(0, Folder.size() + 1);
    Problem(WithName(kDiskFull, file));
  }
  void Problem(const std::string& Line) override {
    const std::lock_guard<std::mutex> lock(FLock);
    Problems.push_back(Line);
  }
  void Note(const std::string& Line) override {
    const std::lock_guard<std::mutex> lock(FLock);
    Notes.push_back(Line);
  }

 private:
  TUnzipCommand& FCommand;
  std::mutex FLock;  // engines may report from threads of their own
};

// A question of an archive's thread, asked by the driving thread.
struct TUnzipCommand::TQuestion {
  std::function<bool()> Ask;
  bool Answer = false;
  bool Done = false;
};

TUnzipCommand::TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, TEngines& Engines)
    : FOwner(Owner), FUI(UI), FProgress(Progress), FEngines(Engines) {}

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
  // A set is extracted once, through its first part: the later parts listed
  // with it are done with it.
  FListed.clear();
  for (const std::string& archive : Archives) FListed.insert(Lower(archive));
  TBatchProgress meter(FProgress, weights);
  FMeter = &meter;
  FWake.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  const int slots = ArchivesAtOnce > 0 ? ArchivesAtOnce : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  int running = 0;
  // The user's wish to stop is read here only (the window's state); the
  // archives' threads see it at their next step, and questions waiting give up.
  const auto stopping = [this] {
    if (!FStopped && FProgress.Cancelled()) {
      const std::lock_guard<std::mutex> lock(FLock);
      FStopped = true;
      FAnswered.notify_all();
    }
    return FStopped.load();
  };
  for (;;) {
    stopping();
    for (int next; running < slots && !stopping() && (next = NextToStart()) >= 0; ++running) {
      TArchiveRun& run = *FRuns[static_cast<size_t>(next)];
      // The archive's extractor shares the processors with the others running.
      run.Threads = std::max(1, slots - running);
      Start(run);
    }
    if (running == 0) break;
    const HANDLE wake = FWake.Get();
    if (MsgWaitForMultipleObjects(1, &wake, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      // The window's messages run now; what is left counts as seen, so that
      // the wait does not return for it again at once.
      FProgress.Pump();
      MSG seen;
      PeekMessageA(&seen, nullptr, 0, 0, PM_NOREMOVE);
    }
    AnswerQuestions();
    for (const auto& run : FRuns)
      if (run->Started && run->Ended && run->Thread.joinable()) {
        run->Thread.join();
        if (!run->StoppedInside) meter.End(static_cast<int>(run->Index));
        --running;
      }
    meter.Tell(false);  // lets the window's messages run: Escape asks to stop
  }
  meter.Tell(true);
  FMeter = nullptr;

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
    if (!run->Started) {
      // A folder made beside the archive ahead of its start goes again.
      if (FHere && run->HasFolder && run->FolderError.empty())
        RemoveDirectoryW(LongPathForm(AnsiToWide(run->Folder)).c_str());
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
  FRuns.clear();
  Wipe(FPassword);
  return result;
}

int TUnzipCommand::NextToStart() {
  bool rarRunning = false;
  for (const auto& run : FRuns) rarRunning |= run->Started && !run->Ended && run->Kind == TArchiveKind::Rar;
  // Of the archives that may start now, the one that will take longest:
  // the batch ends soonest when no long archive is left for the end.
  int next = -1;
  for (size_t i = 0; i < FRuns.size(); ++i) {
    TArchiveRun& run = *FRuns[i];
    if (run.Started) continue;
    if (!run.Kinded) {
      run.Kinded = true;
      const TSetPart part = SetPartOf(run.Archive);
      if (part.Later) {
        // A later part of a set listed with its first part is done with
        // it; alone, it names the part it needs.
        if (FListed.count(Lower(part.First)) == 0)
          run.Problem(Format(PathExists(part.First) ? kLaterPart : kLaterPartMissing, FileNameOf(part.First).c_str()));
        run.Started = true;
        run.Ended = true;
        FMeter->End(static_cast<int>(i));
        continue;
      }
      // The name decides what is an archive; the content what kind it is.
      run.Named = ArchiveKindOf(run.Archive);
      run.Kind = run.Named == TArchiveKind::None ? run.Named : ArchiveKindToExtract(run.Archive);
      std::wstring key = AnsiToWide(OutputFolderOf(FHere ? FolderOf(run.Archive) : FDestination, run.Archive));
      if (!key.empty()) CharLowerBuffW(&key[0], static_cast<DWORD>(key.size()));
      run.Key = WideToAnsi(key);
      run.Cost = static_cast<double>(run.Weight) * UnpackingCost(run.Kind);
    }
    if (run.Kind == TArchiveKind::Rar && rarRunning) continue;
    // Archives whose folders would be one go in the list's order, one at a
    // time, as they would one after another.
    bool waits = false;
    for (size_t j = 0; j < FRuns.size() && !waits; ++j)
      waits = j != i && FRuns[j]->Kinded && FRuns[j]->Key == run.Key && (j < i ? !FRuns[j]->Ended : FRuns[j]->Started && !FRuns[j]->Ended);
    if (!waits && (next < 0 || run.Cost > FRuns[static_cast<size_t>(next)]->Cost)) next = static_cast<int>(i);
  }
  return next;
}

void TUnzipCommand::Start(TArchiveRun& Run) {
  // Folders beside the archives take their free names in the list's order,
  // as they would one after another.
  for (const auto& run : FRuns) {
    if (run->Index > Run.Index) break;
    if (run->HasFolder || run->Started || run->Named == TArchiveKind::None) continue;
    run->HasFolder = true;
    try {
      run->Folder = FolderFor(run->Archive);
    } catch (const std::exception& e) {
      run->FolderError = ExceptionText(e);
    }
  }
  if (Run.Named == TArchiveKind::None) Run.HasFolder = true;
  Run.Started = true;
  FMeter->Begin(static_cast<int>(Run.Index), Run.Archive);
  Run.Thread = std::thread([this, &Run] {
    try {
      ExtractArchive(Run);
    } catch (const std::exception& e) {
      Run.Problem(GenericErrorText(ExceptionText(e)));
    }
    Run.Ended = true;
    SetEvent(FWake.Get());
  });
}

void TUnzipCommand::ExtractArchive(TArchiveRun& Run) {
  if (Run.Named == TArchiveKind::None) {
    Run.Problem(kNotAnArchive);
    return;
  }
  // The first part of numbered pieces is what its content shows.
  if (Run.Kind == TArchiveKind::Split) {
    Run.Problem(kNotAnArchive);
    return;
  }
  if (Run.Kind != Run.Named && Run.Named != TArchiveKind::Split) {
    const char* is = KindInfo(Run.Kind).Name;
    Run.Note(Format(kOtherKind, is, KindInfo(Run.Named).Name, is));
  }
  Run.Keep();
  if (!Run.FolderError.empty()) {
    Run.Problem(Run.FolderError);
    return;
  }
  IExtractor& extractor = FEngines.For(Run.Kind);
  Run.WebMark = WebMarkFor(Run.Archive);
  const bool folderWasThere = DirectoryExists(Run.Folder);
  // The walk's password is tried first; while the password is wrong, the
  // user is asked for another (three asks at most). A password that worked
  // becomes the walk's, tried first on the archives that follow.
  std::string password;
  {
    const std::lock_guard<std::mutex> lock(FLock);
    password = FPassword;
  }
  if (!password.empty()) Run.Tried.push_back(password);
  TExtractOutcome outcome = TExtractOutcome::Done;
  for (;;) {
    Run.NewAttempt();  // only the last attempt's problems are reported
    TExtractRequest request{Run.Archive, Run.Kind, Run.Folder, password, &Run};
    request.Threads = Run.Threads;
    TExtractResult result = extractor.Extract(request);
    Wipe(password);
    outcome = result.Outcome;
    {
      const std::lock_guard<std::mutex> lock(FLock);
      if (result.Password == TPasswordState::Given && !result.PasswordUsed.empty()) {
        Wipe(FPassword);
        FPassword = result.PasswordUsed;
      }
      Run.Trying = false;
    }
    FAnswered.notify_all();  // questions waiting for this password's outcome
    // A wrong password was tried, or none was there yet (a zip member).
    const bool retry = !result.PasswordUsed.empty();
    Wipe(result.PasswordUsed);
    if (outcome == TExtractOutcome::Stopped || FStopped) {
      outcome = TExtractOutcome::Stopped;
      break;
    }
    if (result.Password == TPasswordState::Cancelled) {
      Run.NewAttempt();
      Run.Problem(kNoPassword);
    } else if (result.Password == TPasswordState::Wrong) {
      Run.NewAttempt();
      if (Run.Asks >= kMaxPasswordAsks)
        Run.Problem(kWrongPassword);
      else if (!AskPassword(Run, retry, password))
        Run.Problem(kNoPassword);
      else
        continue;
    }
    break;
  }
  Run.StoppedInside = outcome == TExtractOutcome::Stopped;
  // An archive not started for want of room leaves no folder of its own.
  if (Run.NoRoom && !folderWasThere) RemoveDirectoryW(LongPathForm(AnsiToWide(Run.Folder)).c_str());
  if (FHere) FinishFolder(Run.Archive, Run.Folder);
}

bool TUnzipCommand::AskPassword(TArchiveRun& Run, bool Retry, std::string& Password) {
  {
    std::unique_lock<std::mutex> lock(FLock);
    // While another archive asks for a password, or tries one the user just
    // gave, the question waits: when it works, it is the walk's, and tried
    // here first.
    const auto othersTrying = [&] {
      for (const auto& run : FRuns)
        if (run.get() != &Run && run->Trying) return true;
      return false;
    };
    FAnswered.wait(lock, [&] { return FStopped || !othersTrying(); });
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
    const std::lock_guard<std::mutex> lock(FLock);
    if (given)
      Run.Tried.push_back(Password);
    else
      Run.Trying = false;
  }
  if (!given) FAnswered.notify_all();
  return given;
}

bool TUnzipCommand::Ask(const std::function<bool()>& Question) {
  TQuestion question{Question};
  std::unique_lock<std::mutex> lock(FLock);
  FQuestions.push_back(&question);
  SetEvent(FWake.Get());
  FAnswered.wait(lock, [&] { return question.Done; });
  return question.Answer;
}

void TUnzipCommand::AnswerQuestions() {
  for (;;) {
    TQuestion* question = nullptr;
    {
      const std::lock_guard<std::mutex> lock(FLock);
      if (FQuestions.empty()) return;
      question = FQuestions.front();
      FQuestions.pop_front();
    }
    // One dialog at a time; the other archives go on meanwhile.
    const bool answer = !FStopped && question->Ask();
    {
      const std::lock_guard<std::mutex> lock(FLock);
      question->Answer = answer;
      question->Done = true;
    }
    FAnswered.notify_all();
  }
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

void TUnzipCommand::FinishFolder(const std::string& Archive, const std::string& Folder) {
  const std::wstring folder = LongPathForm(AnsiToWide(Folder));
  if (RemoveDirectoryW(folder.c_str())) return;  // it received nothing
  LiftSingleFolder(folder, AnsiToWide(OutputNameOf(FolderOf(Archive), Archive)));
}

