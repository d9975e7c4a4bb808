#pragma once
// What the Unzip and Zip commands need from the window while they run, without
// depending on it: a place to say how far they are, the chance to let the
// window's messages run, and the user's wish to stop. Tests use the silent
// default or a scripted one.

#include <cstdint>
#include <string>
#include <vector>

#include "Sync.h"

class IProgressSink {
 public:
  virtual ~IProgressSink() = default;
  // Item Index (from 0) of Count begins: an archive of the Unzip command, a
  // file of the Zip command.
  virtual void BeginItem(int Index, int Count, const std::string& Path) { (void)Index, (void)Count, (void)Path; }
  // The whole command has come to Done of Total (never less than before).
  virtual void Progress(uint64_t Done, uint64_t Total) { (void)Done, (void)Total; }
  // A line for the user about the item at hand, shown in passing (where an
  // archive is being extracted to, when that is not its usual place).
  virtual void Notice(const std::string& Text) { (void)Text; }
  // Lets pending window messages run (painting, input).
  virtual void Pump() {}
  // True once the user asked the command to stop.
  virtual bool Cancelled() { return false; }
};

// Turns the progress within each item of a command into the progress of the
// whole, each item weighted by its size, so that it never runs backwards; and
// tells the sink (letting the window's messages run) at least every 50 ms of
// work while steps keep coming, and at every item's start and end.
class TProgressMeter {
 public:
  TProgressMeter(IProgressSink& Sink, std::vector<uint64_t> Weights);

  void BeginItem(int Index, const std::string& Path);
  // The current item has come to Done of Total in units of its own. Returns
  // false once the user asked to stop (the caller stops at its next safe point).
  bool Step(uint64_t Done, uint64_t Total);
  // The current item is finished (it counts whole from now on).
  void EndItem();
  bool Cancelled() { return FSink.Cancelled(); }

 private:
  void Tell(bool Now);

  IProgressSink& FSink;
  std::vector<uint64_t> FWeights;
  uint64_t FTotal = 0;
  uint64_t FFinished = 0;  // the weight of the items before the current one
  uint64_t FShown = 0;     // the most told so far
  int FIndex = -1;
  uint64_t FLastTell = 0;  // tick of the last telling
};

// The progress of a batch whose items run several at a time: each item tells
// how far it is from the thread that works on it (Set, thread-safe), and the
// thread that drives the batch tells the sink (Tell) the whole, each item
// weighted by its size, never running backwards.
class TBatchProgress {
 public:
  TBatchProgress(IProgressSink& Sink, std::vector<uint64_t> Weights);

  // The driving thread: item Index begins (the sink is told at once).
  void Begin(int Index, const std::string& Path);
  // Any thread: item Index has come to Done of Total in units of its own.
  void Set(int Index, uint64_t Done, uint64_t Total);
  // Any thread: item Index is finished (it counts whole from now on).
  void End(int Index);
  // The driving thread: tells the sink the whole, at once or when 50 ms
  // passed since the last telling, and lets the window's messages run.
  void Tell(bool Now);

 private:
  IProgressSink& FSink;
  std::vector<uint64_t> FWeights;
  uint64_t FTotal = 0;
  TLock FLock;
  std::vector<double> FParts;  // how much of each item is done, 0 to 1
  uint64_t FShown = 0;         // the most told so far
  uint64_t FLastTell = 0;      // tick of the last telling
};

// The size of the file at Path, as a weight (1 for an empty or missing file).
uint64_t WeightOf(const std::string& Path);
