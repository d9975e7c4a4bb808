#pragma once
// The walk's policy, apart from its machinery: which archive of a batch may
// start now, and how many worker threads its extractor may use. Plain
// bookkeeping, called from the thread that drives the walk: no threads, no
// files, no engines.
//
// The rules:
// - Archives whose output folders would be one go in the list's order, one at
//   a time, as they would one after another.
// - Archives of an engine that runs one archive at a time (the UnRAR library
//   keeps the state of its errors for the whole process) take turns.
// - Archives whose decoders need more of the address space together than the
//   process has for them are not started together (a 32-bit process has 2 to
//   4 GB, and a 7z or xz archive needs about its dictionary's size).
// - Of the archives that may start, the one that heads the longest work
//   starts first (its own, or that of the archives that must wait for it):
//   the batch ends soonest when no long one is left for the end.
// - The worker threads of the archives running add up to the processors.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// What the schedule knows of one archive.
struct TScheduledArchive {
  std::string Folder;       // its output folder, folded: archives of one folder take turns
  bool TakesTurns = false;  // its engine runs one archive at a time
  double Cost = 0;          // how long it will take, roughly (its bytes, by how slowly its kind unpacks)
  uint64_t Memory = 0;      // what its decoder needs of the address space (0: little)
};

class TWalkSchedule {
 public:
  // At most Slots archives run at a time; their threads share Processors;
  // their decoders share MemoryBudget bytes (one archive alone may need
  // more: it then runs alone).
  TWalkSchedule(int Slots, int Processors, uint64_t MemoryBudget);

  // Adds the next archive of the list; returns its index.
  size_t Add(const TScheduledArchive& Archive);
  // The archive needs no run of its own (it was done without one): it counts
  // as ended from now on.
  void Skip(size_t Index);

  // The archive that may start now, or -1 when none may (all started, all
  // slots taken, or each one left waits for another to end).
  int Next() const;
  // Marks Index as running; returns the worker threads its extractor may use
  // (at least 1): the processors not used by the archives running, shared
  // with the archives that may start beside it.
  int Start(size_t Index);
  // Index has ended; its slot, threads and memory are free again.
  void End(size_t Index);

  size_t Running() const { return FRunning; }
  // Whether the decoders' memory limits anything: when it does not, the
  // archives' Memory need not be known.
  bool MemoryLimited() const { return FMemoryBudget != UINT64_MAX; }
  bool Started(size_t Index) const { return FArchives[Index].State != TState::Waiting; }

 private:
  enum class TState { Waiting, Running, Ended };
  struct TEntry {
    TScheduledArchive Archive;
    TState State = TState::Waiting;
    int Threads = 0;
  };
  // What keeps archives waiting, as it stands: an archive that takes turns
  // running, and the first archive not ended of each folder.
  struct TBlocks {
    bool TurnTaken = false;
    std::unordered_map<std::string, size_t> FolderHead;
  };
  TBlocks Blocks() const;
  bool MayStart(size_t Index, const TBlocks& Blocks) const;

  const int FSlots, FProcessors;
  const uint64_t FMemoryBudget;
  std::vector<TEntry> FArchives;
  size_t FRunning = 0;
  int FThreadsInUse = 0;
  uint64_t FMemoryInUse = 0;
};
