#include "ExtractQueue.h"

#include <algorithm>

#include "Exception.h"
#include "ShellPaths.h"

namespace {
const char kQueueNotReached[] = "Stopped by the user: %d archive(s) handed over later were not extracted.";
}  // namespace

void TExtractQueue::Add(const std::vector<std::string>& Archives) {
  for (const std::string& archive : Archives) {
    const TSetPart part = SetPartOf(archive);
    if (part.Later && FFirstParts.count(Lower(part.First)) > 0) continue;  // done with its first part
    if (std::find(FWaiting.begin(), FWaiting.end(), archive) != FWaiting.end()) continue;
    if (std::find(FWalking.begin(), FWalking.end(), archive) != FWalking.end()) continue;
    if (!part.Later) FFirstParts.insert(Lower(archive));
    FWaiting.push_back(archive);
  }
}

TUnzipResult TExtractQueue::Run(const TWalk& Walk) {
  TUnzipResult all;
  while (!FWaiting.empty() && !all.Stopped) {
    FWalking.swap(FWaiting);
    FWaiting.clear();
    const TUnzipResult result = Walk(FWalking);
    all.Report.insert(all.Report.end(), result.Report.begin(), result.Report.end());
    all.Notes.insert(all.Notes.end(), result.Notes.begin(), result.Notes.end());
    all.Stopped = result.Stopped;
    FWalking.clear();
  }
  if (all.Stopped && !FWaiting.empty()) {
    all.Report.push_back(Format(kQueueNotReached, static_cast<int>(FWaiting.size())));
    FWaiting.clear();
  }
  return all;
}

TExtractQueue::TClosing TExtractQueue::Closing(bool Quiet, bool ListsEmpty) {
  if (!CloseWhenDone || !Empty()) return TClosing::No;
  if (!Quiet || !FQuietOnce) {
    FQuietOnce = Quiet;
    return TClosing::LookAgain;
  }
  FQuietOnce = false;
  CloseWhenDone = false;
  // Paths the user put in the lists meanwhile keep the window.
  return ListsEmpty ? TClosing::Now : TClosing::No;
}
