#pragma once
// The Unzip command without its window: the walk. Every archive of a list is
// extracted into a folder of its own below the destination (or beside the
// archive) by the extractor of its engine, and what went wrong, or is worth
// knowing, is collected into one report.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "Commands.h"
#include "Engines.h"
#include "UserInterface.h"

struct TUnzipResult {
  // One line per problem, "<archive>: <what happened>", archives in list
  // order: archives skipped, damaged or not readable, members that failed or
  // were skipped. Any line here means something was not extracted.
  std::vector<std::string> Report;
  // One line per note, "<archive>: <note>", in list order: an archive of
  // another kind than its name says, a member renamed to be safe. Nothing
  // was lost.
  std::vector<std::string> Notes;
  // The user stopped the walk.
  bool Stopped = false;
  // The archives (their indices in the list given) that the walk did not
  // finish: the one it stopped inside and those it did not reach.
  std::vector<size_t> Unfinished;
};

class TUnzipCommand {
 public:
  // Owner is the window the user interface is modal to (may be null); the
  // archives are extracted by the extractors of Engines.
  TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, TEngines& Engines);

  // Extracts Archives in order below Destination. Every archive is
  // attempted, whatever became of the ones before it; archives of no known
  // kind are skipped and reported. When the progress sink says the user
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
  // walk made; one that received nothing is removed again.
  TUnzipResult RunHere(const std::vector<std::string>& Archives);

 private:
  class TArchiveRun;
  TUnzipResult Walk(const std::vector<std::string>& Archives);
  // Extracts one archive into Run's record; false when the user stopped it.
  bool ExtractArchive(const std::string& Archive, TArchiveRun& Run);
  // The output folder of Archive, the one its extractor writes into: below
  // the destination, named after the archive (Run), or beside the archive
  // under a name that was free, made at once (RunHere).
  std::string FolderFor(const std::string& Archive);
  // RunHere, after Archive's extraction (whatever its end): removes its
  // folder when it stayed empty, or lifts the content of a single top folder
  // of the archive's name into it.
  void FinishFolder(const std::string& Archive, const std::string& Folder);
  // Asks the user for the password of Archive; counts the asks of the archive.
  bool AskPassword(const std::string& Archive, bool Retry, std::string& Password);

  HWND FOwner;
  IUserInterface& FUI;
  IProgressSink& FProgress;
  TEngines& FEngines;
  std::string FDestination;
  bool FHere = false;   // RunHere: beside the archives
  TProgressMeter* FMeter = nullptr;  // not owned; set while a walk runs
  bool FStopped = false;             // the user asked to stop
  std::string FPassword;             // the walk's password; wiped when the walk ends
  int FAsks = 0;                     // password dialogs shown for the current archive
};
