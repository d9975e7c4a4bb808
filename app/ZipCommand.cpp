#include "ZipCommand.h"

#include "Zippit.h"

void RunZipCommand(const std::vector<std::string>& Files, const std::string& Target, IProgressSink& Progress) {
  TZippit zip;
  const int n = static_cast<int>(Files.size());
  for (int i = 0; i < n; ++i) {
    Progress.BeginItem(i, n, Files[i]);
    zip.AddDiskFile(Files[i]);
    zip.SaveToFile(Target);
    Progress.Pump();
  }
}
