#include "WalkSchedule.h"

#include <algorithm>

TWalkSchedule::TWalkSchedule(int Slots, int Processors, uint64_t MemoryBudget)
    : FSlots(std::max(1, Slots)), FProcessors(std::max(1, Processors)), FMemoryBudget(MemoryBudget) {}

size_t TWalkSchedule::Add(const TScheduledArchive& Archive) {
  FArchives.push_back({Archive});
  return FArchives.size() - 1;
}

void TWalkSchedule::Skip(size_t Index) { FArchives[Index].State = TState::Ended; }

bool TWalkSchedule::MayStart(size_t Index) const {
  const TEntry& entry = FArchives[Index];
  if (entry.State != TState::Waiting) return false;
  if (FRunning > 0 && FMemoryInUse + entry.Archive.Memory > FMemoryBudget) return false;
  for (size_t j = 0; j < FArchives.size(); ++j) {
    if (j == Index) continue;
    const TEntry& other = FArchives[j];
    if (other.State == TState::Ended) continue;
    if (entry.Archive.TakesTurns && other.Archive.TakesTurns && other.State == TState::Running) return false;
    // Of the archives of one folder, the first of the list not ended goes.
    if (other.Archive.Folder == entry.Archive.Folder && (j < Index || other.State == TState::Running)) return false;
  }
  return true;
}

int TWalkSchedule::Next() const {
  if (FRunning >= static_cast<size_t>(FSlots)) return -1;
  int next = -1;
  for (size_t i = 0; i < FArchives.size(); ++i)
    if (MayStart(i) && (next < 0 || FArchives[i].Archive.Cost > FArchives[static_cast<size_t>(next)].Archive.Cost))
      next = static_cast<int>(i);
  return next;
}

int TWalkSchedule::Start(size_t Index) {
  TEntry& entry = FArchives[Index];
  entry.State = TState::Running;
  ++FRunning;
  FMemoryInUse += entry.Archive.Memory;
  // The archives that may start beside this one get their share too.
  size_t beside = 0;
  for (size_t i = 0; i < FArchives.size(); ++i) beside += MayStart(i);
  beside = std::min(beside, static_cast<size_t>(FSlots) - std::min(FRunning, static_cast<size_t>(FSlots)));
  const int free = std::max(0, FProcessors - FThreadsInUse);
  entry.Threads = std::max(1, free / static_cast<int>(1 + beside));
  FThreadsInUse += entry.Threads;
  return entry.Threads;
}

void TWalkSchedule::End(size_t Index) {
  TEntry& entry = FArchives[Index];
  if (entry.State != TState::Running) {
    entry.State = TState::Ended;
    return;
  }
  entry.State = TState::Ended;
  --FRunning;
  FThreadsInUse -= entry.Threads;
  FMemoryInUse -= entry.Archive.Memory;
}
