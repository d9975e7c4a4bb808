// Times one extraction through TSevenZip: SevenZipBench <archive> <output folder>.
// Prints the elapsed milliseconds; exit code 1 when the extraction failed.
#include <windows.h>

#include <cstdio>

#include "SevenZip.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: SevenZipBench <archive> <output folder>\n");
    return 2;
  }
  try {
    TSevenZip sz(nullptr);
    int failures = 0;
    sz.OnMessage = [&](TComponent*, int32_t code, const std::string& text, const std::wstring&) {
      ++failures;
      fprintf(stderr, "message %d: %s\n", code, text.c_str());
    };
    sz.SZFileName = argv[1];
    sz.ExtrBaseDir = argv[2];
    sz.ExtractOptions = ExtractOverwrite;
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    const int32_t result = sz.Extract(false);
    QueryPerformanceCounter(&t1);
    printf("%.0f\n", (t1.QuadPart - t0.QuadPart) * 1000.0 / freq.QuadPart);
    return (result == 0 && failures == 0) ? 0 : 1;
  } catch (const Exception& e) {
    fprintf(stderr, "%s\n", e.Message.c_str());
    return 1;
  }
}
