#pragma once
// The Unzip command without its window: every archive of a list is extracted
// into a folder of its own below the destination (or beside the archive), each
// kind through its engine, and what went wrong is collected into one report.

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "Component.h"
#include "PasswordState.h"
#include "ShellPaths.h"
#include "UserInterface.h"

struct TUnzipResult {
  // One line per problem, "<archive>: <what happened>": archives skipped or
  // damaged, members that failed, were skipped or were renamed to be safe.
  std::vector<std::string> Report;
  // The archive whose failure ended the walk (the archives after it were not
  // attempted); empty when the walk went through.
  std::string FailedArchive;
  // The user stopped the walk: the archives from Finished on were not (or not
  // completely) extracted.
  bool Stopped = false;
  // How many archives, from the first, the walk finished.
  size_t Finished = 0;
};

class TUnzipCommand {
 public:
  // Owner is the window the user interface is modal to (may be null); the 7z
  // and RAR components are created with Components as their owner.
  TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, TComponent* Components);

  // Extracts Archives in order below Destination. Archives of no known kind
  // are skipped and reported. A zip archive that cannot be read or written,
  // or an exception from a component (a missing 7-Zip engine), ends the walk;
  // failures a component reports do not. When the progress sink says the user
  // wants to stop, the walk stops at the next safe point: the member being
  // written is removed, what was extracted before stays.
  TUnzipResult Run(const std::vector<std::string>& Archives, const std::string& Destination);

  // Extracts Archives in order as Run does, each into a folder of its own
  // beside it (in the archive's own folder), with two rules of their own:
  // a folder that exists already is never extracted into (the next free name,
  // "name (2)", "name (3)", ..., is made instead, and the progress sink is told
  // which one); and an archive whose only item at the top is a folder of the
  // archive's name is not nested in a second one (src.zip holding src\...
  // fills the folder "src" itself). Nothing is changed but the folders this
  // walk made; one that received nothing is removed again. Stopping, and
  // failures, work as in Run.
  TUnzipResult RunHere(const std::vector<std::string>& Archives);

  // The per-archive steps, given the archive's path.
  void ExtractZipArchive(const std::string& Archive);
  void ExtractRarArchive(const std::string& Archive);
  // 7z through 7za.dll; the other kinds of the 7-Zip engine through 7z.dll.
  void Extract7zArchive(const std::string& Archive, TArchiveKind Kind);

 private:
  TUnzipResult Walk(const std::vector<std::string>& Archives);
  // The output folder of Archive, the one every step extracts into: below the
  // destination, named after the archive (Run), or beside the archive under a
  // name that was free, made at once (RunHere; the same folder until the
  // archive's step has ended).
  std::string FolderFor(const std::string& Archive);
  // RunHere, after Archive's step (whatever its end): removes its folder when
  // it stayed empty, or lifts the content of a single top folder of the
  // archive's name into it.
  void FinishFolder(const std::string& Archive);
  void Report(const std::string& Archive, const std::string& Line);
  void ReportProblems(const std::string& Archive, const std::vector<std::string>& Problems);
  void ReportName(std::vector<std::string>& Problems, const std::string& Name, const std::string& ExtractedAs);
  // Creates a folder below the destination once per command.
  void MakeFolder(const std::string& Folder);
  // Tells the meter how far the current archive is; false (and the walk marked
  // stopped) once the user asked to stop.
  bool Step(uint64_t Done, uint64_t Total);
  // Asks the user for the password of Archive; counts the asks of the archive.
  bool AskPassword(const std::string& Archive, bool Retry, std::string& Password);
  // Runs Attempt (one extraction of Archive with the password given; empty:
  // the component asks through AskPassword) first with the walk's password,
  // then, while the password was wrong, with one the user types (three asks
  // at most). Attempt returns the password's outcome and the password it
  // used; Problems hold the last attempt's. A password that worked becomes
  // the walk's, tried first on the archives that follow.
  using TAttempt = std::function<TPasswordState(const std::string& Password, std::string& Used)>;
  void WithPassword(const std::string& Archive, std::vector<std::string>& Problems, const TAttempt& Attempt);

  HWND FOwner;
  IUserInterface& FUI;
  IProgressSink& FProgress;
  TComponent* FComponents;
  std::string FDestination;
  bool FHere = false;   // RunHere: beside the archives
  std::string FFolder;  // RunHere: the current archive's folder, made by this walk
  std::string FMember;  // the zip member being extracted, for the report
  std::set<std::string> FFolders;
  TUnzipResult FResult;
  TProgressMeter* FMeter = nullptr;  // not owned; set while Run runs
  std::string FPassword;             // the walk's password; wiped when the walk ends
  int FAsks = 0;                     // password dialogs shown for the current archive
};
