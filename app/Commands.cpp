#include "Commands.h"

#include <windows.h>

#include <algorithm>

#include "Files.h"
#include "Sync.h"

namespace {
constexpr uint64_t kTellEveryMs = 50;
}  // namespace

TProgressMeter::TProgressMeter(IProgressSink& Sink, std::vector<uint64_t> Weights)
    : FSink(Sink), FWeights(std::move(Weights)) {
  for (uint64_t w : FWeights) FTotal += w;
}

void TProgressMeter::BeginItem(int Index, const std::string& Path) {
  FFinished = 0;
  for (int i = 0; i < Index && i < static_cast<int>(FWeights.size()); ++i) FFinished += FWeights[i];
  FIndex = Index;
  FSink.BeginItem(Index, static_cast<int>(FWeights.size()), Path);
  Tell(true);
}

bool TProgressMeter::Step(uint64_t Done, uint64_t Total) {
  if (FIndex >= 0 && FIndex < static_cast<int>(FWeights.size()) && Total > 0) {
    const double part = std::min(1.0, static_cast<double>(Done) / static_cast<double>(Total));
    FShown = std::max(FShown, FFinished + static_cast<uint64_t>(part * static_cast<double>(FWeights[FIndex])));
  }
  Tell(false);
  return !FSink.Cancelled();
}

void TProgressMeter::EndItem() {
  if (FIndex >= 0 && FIndex < static_cast<int>(FWeights.size()))
    FShown = std::max(FShown, FFinished + FWeights[FIndex]);
  Tell(true);
}

void TProgressMeter::Tell(bool Now) {
  const uint64_t tick = GetTickCount64();
  if (!Now && tick - FLastTell < kTellEveryMs) return;
  FLastTell = tick;
  FSink.Progress(FShown, FTotal);
  FSink.Pump();
}

TBatchProgress::TBatchProgress(IProgressSink& Sink, std::vector<uint64_t> Weights)
    : FSink(Sink), FWeights(std::move(Weights)), FParts(FWeights.size(), 0.0) {
  for (uint64_t w : FWeights) FTotal += w;
}

void TBatchProgress::Begin(int Index, const std::string& Path) {
  FSink.BeginItem(Index, static_cast<int>(FWeights.size()), Path);
  Tell(true);
}

void TBatchProgress::Set(int Index, uint64_t Done, uint64_t Total) {
  if (Index < 0 || Index >= static_cast<int>(FParts.size()) || Total == 0) return;
  const double part = std::min(1.0, static_cast<double>(Done) / static_cast<double>(Total));
  const std::lock_guard<TLock> lock(FLock);
  FParts[Index] = std::max(FParts[Index], part);
}

void TBatchProgress::End(int Index) {
  if (Index < 0 || Index >= static_cast<int>(FParts.size())) return;
  const std::lock_guard<TLock> lock(FLock);
  FParts[Index] = 1.0;
}

void TBatchProgress::Tell(bool Now) {
  const uint64_t tick = GetTickCount64();
  if (!Now && tick - FLastTell < kTellEveryMs) return;
  FLastTell = tick;
  uint64_t done = 0;
  {
    const std::lock_guard<TLock> lock(FLock);
    for (size_t i = 0; i < FParts.size(); ++i)
      done += FParts[i] >= 1.0 ? FWeights[i] : static_cast<uint64_t>(FParts[i] * static_cast<double>(FWeights[i]));
  }
  FShown = std::max(FShown, done);
  FSink.Progress(FShown, FTotal);
  FSink.Pump();
}

uint64_t WeightOf(const std::string& Path) { return std::max<uint64_t>(FileSizeOf(Path), 1); }
