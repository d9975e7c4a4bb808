#include "UnzipCommand.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "Exception.h"
#include "Files.h"
#include "SafePath.h"
#include "ShellPaths.h"
#include "Text.h"

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
const char kLaterPart[] =
    "a later part of a set, which is extracted through its part \"%s\"; that part is not in the list.";
const char kLaterPartMissing[] =
    "a later part of a set, which is extracted through its part \"%s\"; that part is missing.";
const char kNoPassword[] = "skipped: no password was given.";

constexpr int kMaxPasswordAsks = 3;  // per archive

constexpr size_t kProblemsShown = 5;  // per archive, in the report after the walk

// How many names ("name", "name (2)", ...) a folder beside an archive may try.
constexpr int kFreeNames = 10000;

std::string LowerCase(std::string Text) {
  for (char& c : Text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return Text;
}

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
  void FileWritten(const std::wstring&) override {}
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
  for (const std::string& archive : Archives) weights.push_back(SetWeightOf(archive));
  // A set is extracted once, through its first part: the later parts listed
  // with it are done with it.
  std::set<std::string> listed;
  for (const std::string& archive : Archives) listed.insert(LowerCase(archive));
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
    const TSetPart part = SetPartOf(archive);
    if (part.Later && listed.count(LowerCase(part.First)) != 0) {
      meter.EndItem();
      continue;
    }
    TArchiveRun run(*this, archive);
    bool finished = true;
    if (part.Later)
      run.Problem(Format(PathExists(part.First) ? kLaterPart : kLaterPartMissing, FileNameOf(part.First).c_str()));
    else
      finished = ExtractArchive(archive, run);
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
  // The first part of numbered pieces is what its content shows.
  if (kind == TArchiveKind::Split) {
    Run.Problem(kNotAnArchive);
    return true;
  }
  if (kind != named && named != TArchiveKind::Split) {
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
