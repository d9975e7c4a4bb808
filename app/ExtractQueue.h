#pragma once
// The archives handed over to be extracted beside themselves (quarn.exe
// /extract-here, and later starts of the program that pass theirs on), kept
// apart from the window: they wait here in the order received, once each,
// and are taken walk after walk until none is left.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "UnzipCommand.h"

class TExtractQueue {
 public:
  // Adds Archives in order; one already waiting, or in the walk in progress,
  // is not added again. A later part of a set whose first part was added
  // before (waiting, being extracted or extracted) is done with that part:
  // it is not added (Explorer hands over every part of a selected set).
  void Add(const std::vector<std::string>& Archives);
  bool Empty() const { return FWaiting.empty(); }
  size_t Waiting() const { return FWaiting.size(); }

  // Runs Walk over the archives waiting, then over those added meanwhile,
  // until none is left or a walk was stopped by the user (the archives still
  // waiting then are dropped and counted in the report). Returns the problems
  // and notes of every walk, in order.
  using TWalk = std::function<TUnzipResult(const std::vector<std::string>& Archives)>;
  TUnzipResult Run(const TWalk& Walk);

  // The program was started for the queue: it closes by itself once the
  // queue went well (see TForm1::ExtractHere).
  bool CloseWhenDone = false;

  // Whether the window closes now that the queue is served. Quiet: the
  // window is free and no later start of the program is on its way with
  // more; ListsEmpty: the user put nothing in the lists meanwhile. Explorer
  // starts one program per selected archive, and a start just made may not
  // be seen yet: the window closes only after two quiet looks in a row, and
  // looks again meanwhile.
  enum class TClosing { No, LookAgain, Now };
  TClosing Closing(bool Quiet, bool ListsEmpty);

 private:
  std::vector<std::string> FWaiting;
  std::vector<std::string> FWalking;  // those of the walk in progress
  bool FQuietOnce = false;            // the last look was quiet
  std::set<std::string> FFirstParts;  // every archive added that is no later part, folded
};
