#include "UnzipCommand.h"

#include <algorithm>
#include <mutex>

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
const char kStopped[] = "stopped by the user before its end; it stays in the list.";
const char kNotReached[] = "Stopped by the user: %d archive(s) not reached stay in the list.";
const char kStoppedHere[] = "stopped by the user before its end.";
const char kNotReachedHere[] = "Stopped by the user: %d archive(s) not reached were not extracted.";
const char kExtractingInto[] = "Extracting into \"%s\"";
const char kExtractingIntoFree[] = "\"%s\" exists: extracting into \"%s\"";
const char kNoFolder[] = "The folder \"%s\" cannot be made beside the archive (error %lu).";
const char kWrongPassword[] = "wrong password.";
const char kNoPassword[] = "skipped: no password was given.";
const char kNoRoom[] = "not extracted: it needs %s; %s are free on %s.";
const char kDiskFull[] = "the disk is full: the extraction stopped at \"%s\", which was removed.";

constexpr int kMaxPasswordAsks = 3;  // per archive

constexpr size_t kProblemsShown = 5;  // per archive, in the report after the walk

// How many names ("name", "name (2)", ...) a folder beside an archive may try.
constexpr int kFreeNames = 10000;

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

// "./" and the like name the output folder itself: nothing to report.
bool NamesTheFolderItself(const std::wstring& Name) {
  return !Name.empty() && Name.find(L"..") == std::wstring::npos && Name.find_first_not_of(L"./\\") == std::wstring::npos;
}
}  // namespace

// What the walk gives the extractor of one archive, and what it keeps of the
// archive: the problems and notes of its last attempt (a wrong password makes
// another attempt).
class TUnzipCommand::TArchiveRun final : public IExtractHost {
 public:
  TArchiveRun(TUnzipCommand& Command, const std::string& Archive) : FCommand(Command), FArchive(Archive) {}

  std::vector<std::string> Problems, Notes;
  // The problems and notes the walk itself found before the extraction (a
  // kind other than the name says) stay through the attempts.
  size_t KeptProblems = 0, KeptNotes = 0;
  // Set before the extraction, read by the engines' threads: the output
  // folder, and the archive's mark of the web for every file written out of
  // it ("" when the archive has none).
  std::string Folder;
  std::string WebMark;
  bool NoRoom = false;  // the archive was not started: it cannot fit

  void NewAttempt() {
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
    } else if (safe.Renamed) {
      Note(WithName(kRenamed, WideToAnsi(Name)) + "\"" + WideToAnsi(safe.Path) + "\".");
    }
    return safe.Path;
  }
  bool Step(uint64_t Done, uint64_t Total) override {
    if (FCommand.FMeter != nullptr && !FCommand.FMeter->Step(Done, Total)) FCommand.FStopped = true;
    return !FCommand.FStopped;
  }
  bool AskPassword(bool Retry, std::string& Password) override {
    return FCommand.AskPassword(FArchive, Retry, Password);
  }
  bool AskVolume(const std::string& Missing, std::string& Found) override {
    return FCommand.FUI.AskVolume(FCommand.FOwner, Missing, Found);
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
  const std::string& FArchive;
  std::mutex FLock;  // engines may report from threads of their own
};

TUnzipCommand::TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, TEngines& Engines)
    : FOwner(Owner), FUI(UI), FProgress(Progress), FEngines(Engines) {}

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
  TUnzipResult result;
  FStopped = false;
  std::vector<uint64_t> weights;
  for (const std::string& archive : Archives) weights.push_back(WeightOf(archive));
  TProgressMeter meter(FProgress, weights);
  FMeter = &meter;
  const auto report = [](std::vector<std::string>& Lines, const std::string& Archive,
                         const std::vector<std::string>& Found, bool Cut) {
    const size_t shown = Cut ? std::min(Found.size(), kProblemsShown) : Found.size();
    for (size_t i = 0; i < shown; ++i) Lines.push_back(Archive + ": " + Found[i]);
    if (Found.size() > shown)
      Lines.push_back(Archive + ": " + Format(kMoreProblems, static_cast<int>(Found.size() - shown)));
  };
  size_t i = 0;
  for (; i < Archives.size(); ++i) {
    if (meter.Cancelled()) FStopped = true;
    if (FStopped) break;
    const std::string& archive = Archives[i];
    meter.BeginItem(static_cast<int>(i), archive);
    TArchiveRun run(*this, archive);
    const bool finished = ExtractArchive(archive, run);
    report(result.Report, archive, run.Problems, true);
    report(result.Notes, archive, run.Notes, false);
    if (!finished) {
      result.Report.push_back(archive + ": " + (FHere ? kStoppedHere : kStopped));
      result.Unfinished.push_back(i++);
      break;
    }
    meter.EndItem();
  }
  const size_t notReached = Archives.size() - i;
  for (; i < Archives.size(); ++i) result.Unfinished.push_back(i);
  result.Stopped = FStopped;
  if (FStopped && notReached > 0)
    result.Report.push_back(Format(FHere ? kNotReachedHere : kNotReached, static_cast<int>(notReached)));
  FMeter = nullptr;
  Wipe(FPassword);
  return result;
}

bool TUnzipCommand::ExtractArchive(const std::string& Archive, TArchiveRun& Run) {
  // The name decides what is an archive; the content what kind it is.
  const TArchiveKind named = ArchiveKindOf(Archive);
  if (named == TArchiveKind::None) {
    Run.Problem(kNotAnArchive);
    return true;
  }
  const TArchiveKind kind = ArchiveKindToExtract(Archive);
  if (kind != named) {
    const char* is = KindInfo(kind).Name;
    Run.Note(Format(kOtherKind, is, KindInfo(named).Name, is));
  }
  Run.Keep();
  std::string folder;
  try {
    folder = FolderFor(Archive);
  } catch (const std::exception& e) {
    Run.Problem(ExceptionText(e));
    return true;
  }
  IExtractor& extractor = FEngines.For(kind);
  Run.Folder = folder;
  Run.WebMark = WebMarkFor(Archive);
  const bool folderWasThere = DirectoryExists(folder);
  // The walk's password is tried first; while the password is wrong, the
  // user is asked for another (three asks at most). A password that worked
  // becomes the walk's, tried first on the archives that follow.
  FAsks = 0;
  std::string password = FPassword;
  TExtractOutcome outcome = TExtractOutcome::Done;
  for (;;) {
    Run.NewAttempt();  // only the last attempt's problems are reported
    TExtractResult result = extractor.Extract({Archive, kind, folder, password, &Run});
    Wipe(password);
    outcome = result.Outcome;
    if (result.Password == TPasswordState::Given && !result.PasswordUsed.empty()) {
      Wipe(FPassword);
      FPassword = result.PasswordUsed;
    }
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
      if (FAsks >= kMaxPasswordAsks)
        Run.Problem(kWrongPassword);
      else if (!AskPassword(Archive, retry, password))
        Run.Problem(kNoPassword);
      else
        continue;
    }
    break;
  }
  // An archive not started for want of room leaves no folder of its own.
  if (Run.NoRoom && !folderWasThere) RemoveDirectoryW(LongPathForm(AnsiToWide(folder)).c_str());
  if (FHere) FinishFolder(Archive, folder);
  return outcome != TExtractOutcome::Stopped;
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

bool TUnzipCommand::AskPassword(const std::string& Archive, bool Retry, std::string& Password) {
  if (FAsks >= kMaxPasswordAsks) return false;
  ++FAsks;
  return FUI.AskPassword(FOwner, Archive, Retry, Password) && !Password.empty();
}
