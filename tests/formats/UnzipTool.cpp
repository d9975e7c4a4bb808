// unzip_tool: the Unzip command without its window, for the archive-kind
// tests (formats_test.py) and the extraction benchmark.
//
//   unzip_tool [--password=<password>] [--stop-after=<ms>] <destination> <archive>...
//
// Runs the Unzip walk over the archives into the destination, each archive
// into its own folder, as the Unzip button does (a password is answered with
// the one given, once per archive). Prints one "REPORT <line>" per problem
// the walk reports and one "NOTE <line>" per note, then "PEAK <bytes>" (the process's peak working set) and "MS
// <milliseconds>" (the walk's wall time). With --stop-after, the user asks to stop that many milliseconds after the
// walk began, as Escape does, and "STOPPED <ms>" tells how long the walk took from there to its end. Exit code 0 when
// the walk ran, 2 on bad usage. The environment's QUARN_AT_ONCE sets how many archives run at a time.

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Engines.h"
#include "UnzipCommand.h"
#include "UserInterface.h"

namespace {

// Answers what the walk asks without a person: the given password, and no
// to everything else.
class TAnsweringUI : public IUserInterface {
 public:
  explicit TAnsweringUI(std::string Password) : FPassword(std::move(Password)) {}
  void ShowInformation(HWND, const std::string&, int, int) override {}
  void ShowError(HWND, const std::string&, const std::string&) override {}
  bool OpenFiles(HWND, const std::string&, int&, std::vector<std::string>&) override { return false; }
  bool SaveFile(HWND, const std::string&, const std::string&, const std::string&, std::string&) override {
    return false;
  }
  bool BrowseForFolder(HWND, const std::string&, std::string&) override { return false; }
  bool Confirm(HWND, const std::string&) override { return false; }
  bool AskPassword(HWND, const std::string&, bool Retry, std::string& Password) override {
    if (Retry || FPassword.empty()) return false;
    Password = FPassword;
    return true;
  }
  bool AskVolume(HWND, const std::string&, std::string&) override { return false; }
  void TaskbarProgress(HWND, TTaskbarState, uint64_t, uint64_t) override {}

 private:
  std::string FPassword;
};

// Silent, but for the user's wish to stop, which comes After milliseconds
// from its construction (never when After is 0).
class TStoppingSink : public IProgressSink {
 public:
  explicit TStoppingSink(DWORD After) : FAfter(After), FStarted(GetTickCount()) {}
  bool Cancelled() override {
    if (FAfter == 0 || GetTickCount() - FStarted < FAfter) return false;
    if (FStoppedAt == 0) FStoppedAt = GetTickCount();
    return true;
  }
  // When the wish to stop was first seen (0: never).
  DWORD StoppedAt() const { return FStoppedAt; }

 private:
  const DWORD FAfter, FStarted;
  DWORD FStoppedAt = 0;
};

void Print(const std::string& Line) {
  std::fwrite(Line.data(), 1, Line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string password;
  DWORD stopAfter = 0;
  int first = 1;
  const std::string option = "--password=", stopOption = "--stop-after=";
  for (; first < argc && std::string(argv[first]).rfind("--", 0) == 0; ++first) {
    const std::string arg = argv[first];
    if (arg.rfind(option, 0) == 0)
      password = arg.substr(option.size());
    else if (arg.rfind(stopOption, 0) == 0)
      stopAfter = static_cast<DWORD>(std::atol(arg.c_str() + stopOption.size()));
    else
      break;
  }
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: unzip_tool [--password=<password>] [--stop-after=<ms>] <destination> <archive>...\n");
    return 2;
  }
  const std::string destination = argv[first];
  const std::vector<std::string> archives(argv + first + 1, argv + argc);
  TAnsweringUI ui(password);
  TEngines engines;
  const DWORD started = GetTickCount();
  TStoppingSink sink(stopAfter);
  TUnzipCommand command(nullptr, ui, sink, engines);
  // QUARN_AT_ONCE: how many archives at a time (the walk's own choice when unset).
  char atOnce[16] = "";
  if (GetEnvironmentVariableA("QUARN_AT_ONCE", atOnce, sizeof atOnce) > 0) command.ArchivesAtOnce = atoi(atOnce);
  const TUnzipResult result = command.Run(archives, destination);
  const DWORD ended = GetTickCount();
  const DWORD elapsed = ended - started;
  for (const std::string& line : result.Report) Print("REPORT " + line);
  for (const std::string& line : result.Notes) Print("NOTE " + line);
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  Print("PEAK " + std::to_string(counters.PeakWorkingSetSize));
  Print("MS " + std::to_string(elapsed));
  if (sink.StoppedAt() != 0) Print("STOPPED " + std::to_string(ended - sink.StoppedAt()));
  return 0;
}
