// Times the extraction of one RAR archive through TUnRar (UNRAR_EXTRACT,
// OR_ALWAYS) and prints the seconds; with --progress as the walk runs it
// (CanProgress and a data progress handler), else with no handlers.
// Usage: rar_bench [--progress] <archive> <output folder>

#include <windows.h>

#include <cstdio>
#include <string>

#include "UnRar.h"

int main(int argc, char** argv) {
  const bool progress = argc == 4 && std::string(argv[1]) == "--progress";
  if (progress) ++argv, --argc;
  if (argc != 3) {
    std::fprintf(stderr, "usage: rar_bench [--progress] <archive> <output folder>\n");
    return 2;
  }
  TComponent owner(nullptr);
  TUnRar* rar = new TUnRar(&owner);
  if (rar->DllVersion() == 0) {
    std::fprintf(stderr, "unrar.dll not loaded\n");
    return 1;
  }
  rar->FileName = argv[1];
  rar->Directory = std::string(argv[2]) + "\\";
  rar->SetMode(UNRAR_EXTRACT);
  rar->OverrideEvent = OR_ALWAYS;
  uint64_t told = 0;
  if (progress) {
    rar->CanProgress = true;
    rar->OnDataProgress = [&told](TUnRar*, uint64_t, uint64_t) { ++told; };
  }
  int errors = 0;
  rar->OnError = [&](TUnRar*, const std::string& message, int32_t id) {
    std::fprintf(stderr, "error %d: %s\n", id, message.c_str());
    ++errors;
  };
  LARGE_INTEGER freq, start, stop;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&start);
  rar->ProcessArchive();
  QueryPerformanceCounter(&stop);
  std::printf("%.3f\n", static_cast<double>(stop.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart));
  return errors == 0 ? 0 : 1;
}
