#include "UnzipCommand.h"

#include <algorithm>
#include <memory>

#include "Exception.h"
#include "Files.h"
#include "SafePath.h"
#include "SevenZip.h"
#include "ShellPaths.h"
#include "Streams.h"
#include "Text.h"
#include "UnRar.h"
#include "UnRarLib.h"
#include "Win32Kit.h"
#include "ZipCrypto.h"
#include "ZipNames.h"
#include "ZipReader.h"

namespace {
const char kNotAnArchive[] = "not an archive of a kind Quarn extracts; skipped.";
const char kOtherKind[] = "it is a %s archive, though its name says %s; extracted as %s.";
const char kExtractResult[] = "extraction failed (result %d).";
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
const char kCutAway[] = "\"%s\" cannot be extracted: its data lie in a part of the archive that this file lacks.";
const char kNoMembers[] = "it holds no members; nothing was extracted.";

constexpr int kMaxPasswordAsks = 3;  // per archive

constexpr size_t kProblemsShown = 5;  // per archive, in the report after the walk

// How many names ("name", "name (2)", ...) a folder beside an archive may try.
constexpr int kFreeNames = 10000;

// The engines stay loaded from the first Unzip command on: each component
// loads and frees its engine, and an engine freed and loaded again for every
// archive costs time and leaks a handle of its own each time.
void KeepEnginesLoaded() {
  static bool held = false;
  if (held) return;
  held = true;
  static const TModule sevenZip = TModule::Load(L"7za.dll");
  static const TModule allFormats = TModule::Load(L"7z.dll");
  LoadUnRarLibrary();  // counted by the binding; never matched
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
  const HANDLE find = FindFirstFileW((Folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (names.empty() && First != nullptr) *First = data;
    names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
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

bool IsFolderName(const std::string& Name) { return !Name.empty() && (Name.back() == '/' || Name.back() == '\\'); }

// "./" and the like name the output folder itself: nothing to report.
bool NamesTheFolderItself(const std::string& Name) {
  return !Name.empty() && Name.find("..") == std::string::npos && Name.find_first_not_of("./\\") == std::string::npos;
}
}  // namespace

TUnzipCommand::TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, TComponent* Components)
    : FOwner(Owner), FUI(UI), FProgress(Progress), FComponents(Components) {}

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
  KeepEnginesLoaded();
  FResult = TUnzipResult();
  FFolders.clear();
  std::vector<uint64_t> weights;
  for (const std::string& archive : Archives) weights.push_back(WeightOf(archive));
  TProgressMeter meter(FProgress, weights);
  FMeter = &meter;
  const size_t n = Archives.size();
  std::string current;
  bool stoppedInside = false;  // stopped part-way through an archive
  try {
    for (size_t i = 0; i < n && !FResult.Stopped; ++i) {
      if (meter.Cancelled()) {
        FResult.Stopped = true;
        break;
      }
      FMember.clear();
      FFolder.clear();
      current = Archives[i];
      meter.BeginItem(static_cast<int>(i), current);
      // The name decides what is an archive; the content what kind it is.
      const TArchiveKind named = ArchiveKindOf(current);
      const TArchiveKind kind = named == TArchiveKind::None ? named : ArchiveKindToExtract(current);
      if (kind != named) {
        const char* is = KindInfo(kind).Name;
        Report(current, Format(kOtherKind, is, KindInfo(named).Name, is));
      }
      switch (kind) {
        case TArchiveKind::Zip: ExtractZipArchive(current); break;
        case TArchiveKind::Rar: ExtractRarArchive(current); break;
        case TArchiveKind::None: Report(current, kNotAnArchive); break;
        default: Extract7zArchive(current, kind); break;
      }
      FinishFolder(current);
      if (FResult.Stopped) {
        Report(current, FHere ? kStoppedHere : kStopped);
        stoppedInside = true;
        break;
      }
      meter.EndItem();
      FResult.Finished = i + 1;
    }
  } catch (const std::exception& e) {
    FinishFolder(current);
    FResult.FailedArchive = current;
    // The report names the member too when the error itself does not.
    const std::string text = GenericErrorText(ExceptionText(e));
    const bool named = FMember.empty() || text.find("\"" + FMember + "\"") != std::string::npos;
    Report(current, (named ? "" : "\"" + FMember + "\": ") + text);
  }
  FMeter = nullptr;
  Wipe(FPassword);
  const size_t notReached = n - FResult.Finished - (stoppedInside ? 1 : 0);
  if (FResult.Stopped && notReached > 0)
    FResult.Report.push_back(Format(FHere ? kNotReachedHere : kNotReached, static_cast<int>(notReached)));
  return FResult;
}

std::string TUnzipCommand::FolderFor(const std::string& Archive) {
  if (!FHere) return OutputFolderOf(FDestination, Archive);
  if (!FFolder.empty()) return FFolder;
  // Made here, under a name nobody had: nothing of the user's is ever
  // written into or over, also when another program takes names meanwhile.
  const std::string place = FolderOf(Archive);
  const std::string wanted = OutputNameOf(place, Archive);
  for (int n = 1; n <= kFreeNames; ++n) {
    const std::string name = n == 1 ? wanted : wanted + " (" + std::to_string(n) + ")";
    const std::string folder = place + "\\" + name;
    if (CreateDirectoryW(LongPathForm(AnsiToWide(folder)).c_str(), nullptr)) {
      FFolder = folder;
      FFolders.insert(folder);
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

void TUnzipCommand::FinishFolder(const std::string& Archive) {
  if (!FHere || FFolder.empty()) return;
  const std::wstring folder = LongPathForm(AnsiToWide(FFolder));
  FFolder.clear();
  FFolders.clear();                              // the folders below may move now
  if (RemoveDirectoryW(folder.c_str())) return;  // it received nothing
  LiftSingleFolder(folder, AnsiToWide(OutputNameOf(FolderOf(Archive), Archive)));
}

bool TUnzipCommand::Step(uint64_t Done, uint64_t Total) {
  if (FMeter != nullptr && !FMeter->Step(Done, Total)) FResult.Stopped = true;
  return !FResult.Stopped;
}

bool TUnzipCommand::AskPassword(const std::string& Archive, bool Retry, std::string& Password) {
  if (FAsks >= kMaxPasswordAsks) return false;
  ++FAsks;
  return FUI.AskPassword(FOwner, Archive, Retry, Password) && !Password.empty();
}

void TUnzipCommand::WithPassword(const std::string& Archive, std::vector<std::string>& Problems,
                                 const TAttempt& Attempt) {
  FAsks = 0;
  std::string password = FPassword;
  for (;;) {
    Problems.clear();  // only the last attempt's problems are reported
    std::string used;
    const TPasswordState state = Attempt(password, used);
    Wipe(password);
    if (state == TPasswordState::Given && !used.empty()) {
      Wipe(FPassword);
      FPassword = used;
    }
    // A wrong password was tried, or none was there yet (a zip member).
    const bool retry = !used.empty();
    Wipe(used);
    if (state == TPasswordState::Cancelled) {
      Problems = {kNoPassword};
    } else if (state == TPasswordState::Wrong) {
      if (FResult.Stopped) {
        Problems.clear();
      } else if (FAsks >= kMaxPasswordAsks) {
        Problems = {kWrongPassword};
      } else if (!AskPassword(Archive, retry, password)) {
        Problems = {kNoPassword};
      } else {
        continue;
      }
    }
    return;
  }
}

void TUnzipCommand::Report(const std::string& Archive, const std::string& Line) {
  FResult.Report.push_back(Archive + ": " + Line);
}

void TUnzipCommand::ReportProblems(const std::string& Archive, const std::vector<std::string>& Problems) {
  const size_t shown = std::min(Problems.size(), kProblemsShown);
  for (size_t i = 0; i < shown; ++i) Report(Archive, Problems[i]);
  if (Problems.size() > shown) Report(Archive, Format(kMoreProblems, static_cast<int>(Problems.size() - shown)));
}

void TUnzipCommand::ReportName(std::vector<std::string>& Problems, const std::string& Name,
                               const std::string& ExtractedAs) {
  if (Name.empty())
    Problems.push_back(kNoName);
  else if (ExtractedAs.empty())
    Problems.push_back(WithName(kNoSafeName, Name));
  else
    Problems.push_back(WithName(kRenamed, Name) + "\"" + ExtractedAs + "\".");
}

void TUnzipCommand::MakeFolder(const std::string& Folder) {
  if (FFolders.insert(Folder).second) ForceDirectories(Folder);
}

void TUnzipCommand::ExtractZipArchive(const std::string& Archive) {
  const std::string folder = FolderFor(Archive);
  std::vector<std::string> problems;
  // Names are decided and folders made here, in archive order.
  const TZipReader::TPathFor pathFor = [&](const TZipEntry& entry) -> std::string {
    const std::string name = DecodeZipName(entry.Name, entry.Flags, entry.Extra, entry.VersionMadeBy);
    MakeFolder(folder);
    // Nothing is ever written outside the archive's output folder, nor to a
    // device, whatever the member's name says.
    const TSafePath<std::string> safe = SafeRelativePath(name);
    if (safe.Path.empty()) {
      if (!NamesTheFolderItself(name)) ReportName(problems, name, "");
      return "";
    }
    if (safe.Renamed) ReportName(problems, name, safe.Path);
    if (IsFolderName(name)) {
      MakeFolder(folder + "\\" + safe.Path);
      return "";
    }
    if (!safe.Folder.empty()) MakeFolder(folder + "\\" + safe.Folder);
    return folder + "\\" + safe.Path;
  };
  // A member that fails (its partial file already removed) ends the archive's
  // step with its error, which names it; the files before it stay.
  size_t offered = 0;  // members the reader gave, in this attempt
  const TZipReader::TMemberDone done = [&](const TZipEntry& entry, const std::exception_ptr& error) {
    ++offered;
    if (!error) return;
    FMember = DecodeZipName(entry.Name, entry.Flags, entry.Extra, entry.VersionMadeBy);
    std::rethrow_exception(error);
  };
  try {
    WithPassword(Archive, problems, [&](const std::string& Password, std::string& Used) {
      // Streamed: members are read through the central directory (or, without
      // a sound one, by walking the local headers), inflated and written on
      // worker threads.
      TZipReader zip(Archive);
      zip.Password = Password;
      zip.OnProgress = [this](const TZipProgress& p) { return Step(p.BytesDone, p.BytesTotal); };
      Used = Password;
      offered = 0;
      try {
        zip.ExtractAll(pathFor, done);
      } catch (const EZipPasswordError&) {
        // No password, or a wrong one: asked (again) with the archive's
        // members before the encrypted one already out.
        Wipe(zip.Password);
        FMember.clear();
        return TPasswordState::Wrong;
      }
      Wipe(zip.Password);
      // Nothing is lost without a word: members the directory lists but the
      // file lacks are named, and so is an archive that gave nothing at all.
      for (const TZipEntry& entry : zip.MissingMembers())
        problems.push_back(
            WithName(kCutAway, DecodeZipName(entry.Name, entry.Flags, entry.Extra, entry.VersionMadeBy)));
      if (offered == 0 && zip.MissingMembers().empty()) problems.push_back(kNoMembers);
      return Password.empty() ? TPasswordState::NotAsked : TPasswordState::Given;
    });
  } catch (const EAbort&) {
    // Stopped by the user: the walk reports it.
  } catch (...) {
    ReportProblems(Archive, problems);
    throw;
  }
  FMember.clear();
  ReportProblems(Archive, problems);
}

void TUnzipCommand::ExtractRarArchive(const std::string& Archive) {
  // Owned by the window's components and released when the step ends.
  const auto component = std::make_unique<TUnRar>(FComponents);
  component->FileName = Archive;
  const std::string folder = FolderFor(Archive);
  MakeFolder(folder);
  component->Directory = folder + "\\";
  component->SetMode(UNRAR_EXTRACT);
  component->OverrideEvent = OR_ALWAYS;
  component->CanProgress = true;  // a quick listing gives the total for the progress
  // Everything the component reports (a missing library included) goes into
  // the report after the walk, which goes on with the next archive. Password
  // failures are the walk's own to report.
  std::vector<std::string> problems;
  component->OnError = [&problems](TUnRar*, const std::string& Message, int32_t Code) {
    if (Code != ERAR_MISSING_PASSWORD && Code != ERAR_BAD_PASSWORD) problems.push_back(Message);
  };
  component->OnRenamed = [&](TUnRar*, const std::string& Name, const std::string& ExtractedAs) {
    ReportName(problems, Name, ExtractedAs);
  };
  component->OnDataProgress = [&](TUnRar* Sender, uint64_t Done, uint64_t Total) {
    if (!Step(Done, Total)) Sender->StopProcessing = true;
  };
  std::string typed;  // what the user gave when the component asked
  component->OnPassword = [&](TUnRar*, std::string& Password) {
    AskPassword(Archive, false, Password);
    typed = Password;
  };
  WithPassword(Archive, problems, [&](const std::string& Password, std::string& Used) {
    component->Password = Password;
    component->ProcessArchive();
    Used = Password.empty() ? typed : Password;
    Wipe(component->Password);
    Wipe(typed);
    return component->PasswordState();
  });
  ReportProblems(Archive, problems);
}

void TUnzipCommand::Extract7zArchive(const std::string& Archive, TArchiveKind Kind) {
  // A missing engine raises here and ends the walk.
  const TArchiveKindInfo& info = KindInfo(Kind);
  const auto component = Kind == TArchiveKind::SevenZip
                             ? std::make_unique<TSevenZip>(FComponents)
                             : std::make_unique<TSevenZip>(FComponents, L"7z.dll", info.EngineFormat);
  component->UnwrapTarball = info.Compressor;
  component->DefaultItemName = AnsiToWide(CompressedItemName(Archive));
  const std::string folder = FolderFor(Archive);
  MakeFolder(folder);
  component->ExtrBaseDir = AnsiToWide(folder + "\\");
  component->ExtractOptions = ExtractOverwrite;
  component->SelectedItems.Clear();
  component->SZFileName = AnsiToWide(Archive);
  // Everything the component reports goes into the report after the walk.
  std::vector<std::string> problems;
  component->OnMessage = [&](TComponent*, int32_t Code, const std::string& Message, const std::wstring& File) {
    if (Code == SZ_USER_CANCELED && FResult.Stopped) return;  // the walk says so itself
    problems.push_back(File.empty() ? Message : Message + " (" + WideToAnsi(File) + ")");
  };
  uint64_t total = 0;
  component->OnPreProgress = [&total](TComponent*, int64_t Max) { total = static_cast<uint64_t>(Max); };
  component->OnProgress = [&](TComponent*, const std::wstring&, int64_t Done, int64_t) {
    if (!Step(static_cast<uint64_t>(Done), total)) component->CancelRequested = true;
  };
  component->OnRenamed = [&](TComponent*, const std::wstring& Name, const std::wstring& ExtractedAs) {
    ReportName(problems, WideToAnsi(Name), WideToAnsi(ExtractedAs));
  };
  component->OnPassword = [&](TComponent*, std::wstring& Password) {
    std::string typed;
    const bool given = AskPassword(Archive, false, typed);
    Password = AnsiToWide(typed);
    Wipe(typed);
    return given;
  };
  int32_t result = 0;
  WithPassword(Archive, problems, [&](const std::string& Password, std::string& Used) {
    component->Password = AnsiToWide(Password);
    result = component->Extract(false);
    Used = WideToAnsi(component->Password);
    Wipe(component->Password);
    return component->PasswordState();
  });
  if (problems.empty() && result != 0 && !FResult.Stopped)
    problems.push_back(Format(kExtractResult, static_cast<int>(result)));
  ReportProblems(Archive, problems);
}
