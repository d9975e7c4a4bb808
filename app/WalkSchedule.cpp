#include "WalkSchedule.h"

#include <algorithm>

TWalkSchedule::TWalkSchedule(int Slots, int Processors, uint64_t MemoryBudget)
    : FSlots(std::max(1, Slots)), FProcessors(std::max(1, Processors)), FMemoryBudget(MemoryBudget) {}

size_t TWalkSchedule::Add(const TScheduledArchive& Archive) {
  FArchives.push_back({Archive});
  return FArchives.size() - 1;
}

void TWalkSchedule::Skip(size_t Index) { FArchives[Index].State = TState::Ended; }

TWalkSchedule::TBlocks TWalkSchedule::Blocks() const {
  TBlocks blocks;
  for (size_t i = 0; i < FArchives.size(); ++i) {
    const TEntry& entry = FArchives[i];
    if (entry.State == TState::Ended) continue;
    if (entry.State == TState::Running && entry.Archive.TakesTurns) blocks.TurnTaken = true;
    blocks.FolderHead.emplace(entry.Archive.Folder, i);
  }
  return blocks;
}

bool TWalkSchedule::MayStart(size_t Index, const TBlocks& Blocks) const {
  const TEntry& entry = FArchives[Index];
  if (entry.State != TState::Waiting) return false;
  if (FRunning > 0 && FMemoryInUse + entry.Archive.Memory > FMemoryBudget) return false;
  if (entry.Archive.TakesTurns && Blocks.TurnTaken) return false;
  // Of the archives of one folder, the first of the list not ended goes.
  return Blocks.FolderHead.at(entry.Archive.Folder) == Index;
}

int TWalkSchedule::Next() const {
  if (FRunning >= static_cast<size_t>(FSlots)) return -1;
  // An archive heads a chain of those that must wait for it: the archives
  // that take turns, the later archives of its folder. A chain runs one after
  // another, so it is as long as all of it: a folder of small RAR archives
  // starts at once and runs beside the rest, not alone at the end.
  double turns = 0;
  std::unordered_map<std::string, double> folders;
  for (const TEntry& entry : FArchives) {
    if (entry.State != TState::Waiting) continue;
    if (entry.Archive.TakesTurns) turns += entry.Archive.Cost;
    folders[entry.Archive.Folder] += entry.Archive.Cost;
  }
  const auto chain = [&](const TEntry& entry) {
    return std::max(entry.Archive.TakesTurns ? turns : entry.Archive.Cost, folders[entry.Archive.Folder]);
  };
  const TBlocks blocks = Blocks();
  int next = -1;
  double longest = 0;
  for (size_t i = 0; i < FArchives.size(); ++i) {
    if (!MayStart(i, blocks)) continue;
    const double length = chain(FArchives[i]);
    if (next < 0 || length > longest) next = static_cast<int>(i), longest = length;
  }
  return next;
}

int TWalkSchedule::Start(size_t Index) {
  TEntry& entry = FArchives[Index];
  entry.State = TState::Running;
  ++FRunning;
  FMemoryInUse += entry.Archive.Memory;
  // The archives that may start beside this one get their share too.
  const TBlocks blocks = Blocks();
  size_t beside = 0;
  for (size_t i = 0; i < FArchives.size(); ++i) beside += MayStart(i, blocks);
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
