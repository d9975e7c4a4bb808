#pragma once
// The Unzip command without its window: the walk. Every archive of a list is
// extracted into a folder of its own below the destination (or beside the
// archive) by the extractor of its engine, several archives at a time, and
// what went wrong, or is worth knowing, is collected into one report in the
// list's order.
//
// The walk is the runner of a schedule (WalkSchedule.h decides which archive
// starts when): the thread that calls Run drives it, letting the window's
// messages run, telling the progress sink and asking the user every
// question, one at a time; each archive is extracted on a worker thread of
// the walk, through the IExtractHost the walk gives it. docs/walk.md follows
// one press of Unzip across the threads.

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "Extractor.h"
#include "Sync.h"
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

// What the box after a walk says: the problems, with the notes after them, in
// an error box (Error, title "Error"); notes alone in an information box;
// nothing (Text empty) when there is nothing to say.
struct TReportBox {
  bool Error = false;
  std::string Text;
};
TReportBox ReportBoxOf(const TUnzipResult& Result);

// The room free on the volume of Folder, and the volume's name (see
// FreeSpaceOf); false when the system tells nothing.
using TFreeSpaceQuery = std::function<bool(const std::wstring& Folder, uint64_t& Free, std::wstring& Volume)>;

class TUnzipCommand {
 public:
  // Owner is the window the user interface is modal to (may be null); the
  // archives are extracted by the extractors Extractors gives.
  TUnzipCommand(HWND Owner, IUserInterface& UI, IProgressSink& Progress, IExtractors& Extractors);
  ~TUnzipCommand();
  TUnzipCommand(const TUnzipCommand&) = delete;
  TUnzipCommand& operator=(const TUnzipCommand&) = delete;

  // Extracts Archives below Destination, each into a folder named after it.
  // Every archive is attempted, whatever became of the others; archives of
  // no known kind are skipped and reported. When the progress sink says the
  // user wants to stop, every archive stops at its next safe point: the
  // member being written is removed, what was extracted before stays.
  //
  // Up to ArchivesAtOnce archives are extracted at a time, with exactly the
  // output of one after another (see WalkSchedule.h for who waits for whom).
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
  // The worker threads the archives running share; 0: one per processor.
  int Processors = 0;
  // What the archives' decoders may take of the address space together, in
  // bytes; 0: this process's own (a 32-bit process's 2 to 4 GB, less what
  // the program needs; no limit in a 64-bit one).
  uint64_t MemoryBudget = 0;
  // Where the walk learns the room free on a volume (FreeSpaceOf).
  TFreeSpaceQuery FreeSpace;

 private:
  class TArchiveRun;
  struct TQuestion;
  TUnzipResult Walk(const std::vector<std::string>& Archives);
  // Decides what the schedule needs of every archive (its kind, folder, cost
  // and decoder's memory) and settles those that need no run.
  void Plan(class TWalkSchedule& Schedule);
  // Hands Run to a worker thread of the walk.
  void Start(TArchiveRun& Run, int Threads);
  void Work();
  // On a worker thread: extracts the archive of Run into its record.
  void ExtractArchive(TArchiveRun& Run);
  // The output folder of Archive, the one its extractor writes into: below
  // the destination, named after the archive (Run), or beside the archive
  // under a name that was free, made at once (RunHere).
  std::string FolderFor(const std::string& Archive);
  // After Run's extraction, whatever its end: removes its folder when the
  // walk made it and it stayed empty; beside the archives, lifts the content
  // of a single top folder of the archive's name into it.
  void FinishFolder(TArchiveRun& Run);
  // An archive's thread: the walk's password when the archive has not tried
  // it yet, else the user is asked (three times an archive at most). False
  // when none was given, or the walk is stopping.
  bool AskPassword(TArchiveRun& Run, bool Retry, std::string& Password);
  // An archive's thread: has the driving thread run Question (a dialog) and
  // returns its answer; false without asking once the walk is stopping.
  bool Ask(const std::function<bool()>& Question);
  // The driving thread: asks the questions waiting, one at a time.
  void AnswerQuestions();
  TUnzipResult Report() const;

  HWND FOwner;
  IUserInterface& FUI;
  IProgressSink& FProgress;
  IExtractors& FExtractors;
  std::string FDestination;
  bool FHere = false;  // RunHere: beside the archives
  std::vector<std::unique_ptr<TArchiveRun>> FRuns;
  TBatchProgress* FMeter = nullptr;   // not owned; set while a walk runs
  std::atomic<bool> FStopped{false};  // the user asked to stop
  THandle FWake;                      // set when an archive has ended or asks something
  TLock FLock;                        // guards what follows
  TCondition FChanged;                // a question was answered, a password's fate is known, a job came
  std::deque<TQuestion*> FQuestions;
  std::string FPassword;  // the walk's password; wiped when the walk ends
  std::deque<TArchiveRun*> FJobs;
  std::vector<std::thread> FWorkers;
  size_t FIdle = 0;  // workers waiting for a job
  bool FClosing = false;
};
