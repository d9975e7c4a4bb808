// Times the extraction of one RAR archive through TUnRar (UNRAR_EXTRACT,
// OR_ALWAYS, no handlers: the Unzip step's settings) and prints the seconds.
// Usage: rar_bench <archive> <output folder>

#include <windows.h>

#include <cstdio>
#include <string>

#include "UnRar.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: rar_bench <archive> <output folder>\n");
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
