#include "ZipCommand.h"

#include "ZipWriter.h"

TZipResult RunZipCommand(const std::vector<std::string>& Files, const std::string& Target, IProgressSink& Progress) {
  std::vector<uint64_t> weights;
  for (const std::string& file : Files) weights.push_back(WeightOf(file));
  TProgressMeter meter(Progress, weights);
  TZipResult result;
  // The writer names the member at hand in every call; a new name is the next
  // file of the list. Its count of input bytes done, less the count when the
  // file began, is how far that file is (a big file is told chunk by chunk).
  size_t item = 0;
  std::string member;
  uint64_t itemStart = 0;
  const TZipProgressHook hook = [&](const TZipProgress& p) {
    if (p.Member != member) {
      if (!member.empty()) meter.EndItem();
      member = p.Member;
      itemStart = p.BytesDone;
      if (item < Files.size()) meter.BeginItem(static_cast<int>(item), Files[item]);
      ++item;
    }
    return meter.Step(p.BytesDone - itemStart, item <= weights.size() ? weights[item - 1] : 1);
  };
  TZipJobResult job;
  try {
    ZipDiskFiles(Target, Files, job, TZipWriterOptions(), hook);
  } catch (const EAbort&) {
    result.Stopped = true;
  }
  result.Added = static_cast<size_t>(job.Members);
  result.Renamed = job.Renamed;
  if (!result.Stopped) meter.EndItem();
  return result;
}
