#include "ZipCommand.h"

#include "Zippit.h"

TZipResult RunZipCommand(const std::vector<std::string>& Files, const std::string& Target, IProgressSink& Progress) {
  std::vector<uint64_t> weights;
  for (const std::string& file : Files) weights.push_back(WeightOf(file));
  TProgressMeter meter(Progress, weights);
  TZipResult result;
  TZippit zip;
  for (size_t i = 0; i < Files.size(); ++i) {
    if (meter.Cancelled()) {
      result.Stopped = true;
      break;
    }
    meter.BeginItem(static_cast<int>(i), Files[i]);
    zip.AddDiskFile(Files[i]);
    zip.SaveToFile(Target);
    meter.EndItem();
    result.Added = i + 1;
  }
  return result;
}
