#pragma once
// The Unzip command without its window: the walk. Every archive of a list is
// extracted into a folder of its own below the destination (or beside the
// archive) by the extractor of its engine, several archives at a time, and
// what went wrong, or is worth knowing, is collected into one report in the
// list's order.

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "Engines.h"
#include "UserInterface.h"
#include "Win32Kit.h"

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
  // finish: those it stopped inside and those it did not reach.
  std::vector<size_t> Unfinished;
};

class TUnzipCommand {
 public:
  // Owner is the window the user interface is modal to (may be null); the
  // archives are extracted by the extractors of Engines.
  TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, TEngines& Engines);
  ~TUnzipCommand();

  // Extracts Archives below Destination, each into a folder named after it.
  // Every archive is attempted, whatever became of the others; archives of
  // no known kind are skipped and reported. When the progress sink says the
  // user wants to stop, every archive stops at its next safe point: the
  // member being written is removed, what was extracted before stays.
  //
  // Up to ArchivesAtOnce archives are extracted at a time, each on a thread
  // of its own, with exactly the output of one after another: archives
  // whose folders would be one take turns, and so do RAR archives (the
  // UnRAR library keeps the state of its errors for the whole process).
  // The calling thread (the window's) drives them: it lets the window's
  // messages run, tells the progress sink, and asks the user interface
  // every question, one at a time, while the others go on.
  TUnzipResult Run(const std::vector<std::string>& Archives, const std::string& Destination);

  // Extracts Archives as Run does, each into a folder of its own beside it
  // (in the archive's own folder), with two rules of their own: a folder
  // that exists already is never extracted into (the next free name,
  // "name (2)", "name (3)", ..., is made instead, in the list's order, and
  // the progress sink is told which one); and an archive whose only item at
  // the top is a folder of the archive's name is not nested in a second one
  // (src.zip holding src\... fills the folder "src" itself). Nothing is
  // changed but the folders this walk made; one that received nothing is
  // removed again.
  TUnzipResult RunHere(const std::vector<std::string>& Archives);

  // How many archives are extracted at a time; 0: one per processor.
  int ArchivesAtOnce = 0;

 private:
  class TArchiveRun;
  TUnzipResult Walk(const std::vector<std::string>& Archives);
  // The next archive that may start now (see Run), or -1.
  int NextToStart();
  void Start(TArchiveRun& Run);
  // On the archive's own thread: extracts it into its record.
  void ExtractArchive(TArchiveRun& Run);
  // The output folder of Archive, the one its extractor writes into: below
  // the destination, named after the archive (Run), or beside the archive
  // under a name that was free, made at once (RunHere).
  std::string FolderFor(const std::string& Archive);
  // RunHere, after Archive's extraction (whatever its end): removes its
  // folder when it stayed empty, or lifts the content of a single top folder
  // of the archive's name into it.
  void FinishFolder(const std::string& Archive, const std::string& Folder);
  // An archive's thread: the walk's password when the archive has not tried
  // it yet, else the user is asked (three times an archive at most).
  bool AskPassword(TArchiveRun& Run, bool Retry, std::string& Password);
  // An archive's thread: has the driving thread run Question (a dialog) and
  // returns its answer; false without asking once the walk is stopping.
  bool Ask(const std::function<bool()>& Question);
  // The driving thread: asks the questions waiting, one at a time.
  void AnswerQuestions();

  HWND FOwner;
  IUserInterface& FUI;
  IProgressSink& FProgress;
  TEngines& FEngines;
  std::string FDestination;
  bool FHere = false;  // RunHere: beside the archives
  std::vector<std::unique_ptr<TArchiveRun>> FRuns;
  std::set<std::string> FListed;  // the archives of the walk, folded
  TBatchProgress* FMeter = nullptr;  // not owned; set while a walk runs
  std::atomic<bool> FStopped{false};  // the user asked to stop
  THandle FWake;                      // set when an archive has ended or asks something
  struct TQuestion;
  std::mutex FLock;  // guards what follows
  std::condition_variable FAnswered;
  std::deque<TQuestion*> FQuestions;
  std::string FPassword;  // the walk's password; wiped when the walk ends
};
