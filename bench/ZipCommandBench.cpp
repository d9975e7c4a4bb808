// The zip engine's side of the Unzip and Zip commands, without the window, for
// scripts/bench-zip.sh (a benchmark, not a test):
//
//   ZipCommandBench unzip <archive> <outdir>      streamed reader, as the Unzip command extracts
//   ZipCommandBench zip <target> <list file>      ZipDiskFiles over the files listed one per line
//
// Prints one line: "seconds <s> peak_ws <bytes> written <bytes> size <bytes>
// members <n>". The time starts after the process is up, as the command's would
// after its button was clicked; peak_ws is the process's peak working set.

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "ZipReader.h"
#include "ZipWriter.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

namespace {

uint64_t PeakWorkingSet() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return counters.PeakWorkingSetSize;
#endif
  return 0;
}

void MakeFolders(const std::string& path) {
#ifdef _WIN32
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
#else
  (void)path;
#endif
}

int Unzip(const std::string& archive, const std::string& outDir, uint64_t& written, uint64_t& size, int& members) {
  TZipReader reader(archive);
  reader.ExtractAll(
      [&](const TZipEntry& e) {
        std::string path = outDir + "\\" + e.Name;
        for (char& c : path)
          if (c == '/') c = '\\';
        MakeFolders(path);
        return e.IsFolder() ? std::string() : path;
      },
      [&](const TZipEntry& e, const std::exception_ptr& error) {
        if (error) std::rethrow_exception(error);
        written += e.UncompressedSize;
        members += e.IsFolder() ? 0 : 1;
      });
  TFileStream file(archive, fmOpenRead | fmShareDenyNone);
  size = static_cast<uint64_t>(file.GetSize());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: ZipCommandBench unzip <archive> <outdir> | zip <target> <list file>\n", stderr);
    return 2;
  }
  const std::string command = argv[1];
  const auto start = std::chrono::steady_clock::now();
  uint64_t written = 0, size = 0;
  int members = 0;
  try {
    if (command == "unzip") {
      Unzip(argv[2], argv[3], written, size, members);
    } else {
      std::vector<std::string> files;
      std::ifstream list(argv[3]);
      for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) files.push_back(line);
      }
      TZipJobResult result;
      ZipDiskFiles(argv[2], files, result);
      written = result.BytesWritten;
      size = result.ArchiveSize;
      members = result.Members;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds %.3f peak_ws %llu written %llu size %llu members %d\n", seconds,
              static_cast<unsigned long long>(PeakWorkingSet()), static_cast<unsigned long long>(written),
              static_cast<unsigned long long>(size), members);
  return 0;
}
