#include "CommandLine.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include "SevenZipPaths.h"
#include "Win32Kit.h"
#include "resource.h"

namespace {

// How long a second start looks for the running instance's window, which may
// still be on its way up when several starts come at once ("Open with" on a
// selection starts one process per file, and each of them costs the machine a
// process start), or be gone while the next instance comes up.
constexpr DWORD kFindWindowMs = 30000;
constexpr DWORD kPollMs = 50;
// How often the paths are offered again while the running instance says "not
// now" (a command runs, or a box or dialog is up). There is no limit: they go
// in once it is free, or this process becomes the instance once it ended.
constexpr DWORD kRetryMs = 250;
// How long the running instance may take to answer at all: it answers between
// two archives of a command, so the limit is generous.
constexpr UINT kAnswerMs = 30000;

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (n == 0) return path;  // left as given: it then shows as a missing file
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
}

}  // namespace

const wchar_t kExtractHereSwitch[] = L"/extract-here";

TCommandLine ParseCommandLine(const std::vector<std::wstring>& Arguments) {
  TCommandLine line;
  size_t first = 0;
  if (!Arguments.empty() && lstrcmpiW(Arguments[0].c_str(), kExtractHereSwitch) == 0) {
    line.Request = TRequest::ExtractHere;
    first = 1;
  }
  for (size_t i = first; i < Arguments.size(); ++i)
    if (!Arguments[i].empty()) line.Paths.push_back(FullPath(Arguments[i]));
  return line;
}

TCommandLine ReadCommandLine() {
  std::vector<std::wstring> arguments;
  int argc = 0;
  const TLocalMem<LPWSTR*> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
  if (!argv) return TCommandLine();
  for (int i = 1; i < argc; ++i) arguments.push_back(argv.Get()[i]);
  return ParseCommandLine(arguments);
}

std::vector<std::string> ProgramPaths(const std::vector<std::wstring>& Paths) {
  std::vector<std::string> result;
  result.reserve(Paths.size());
  for (const std::wstring& path : Paths) result.push_back(WideToAnsi(path));
  return result;
}

std::wstring PackHandOver(const std::vector<std::wstring>& Paths) {
  std::wstring block;
  for (const std::wstring& path : Paths) {
    block += path;
    block += L'\0';
  }
  return block;
}

bool UnpackHandOver(const COPYDATASTRUCT& Data, TRequest& Request, std::vector<std::string>& Paths) {
  Paths.clear();
  if (Data.dwData != kHandOverPaths && Data.dwData != kHandOverExtract) return false;
  if (Data.cbData % sizeof(wchar_t) != 0) return false;
  if (Data.cbData > 0 && Data.lpData == nullptr) return false;
  const wchar_t* text = static_cast<const wchar_t*>(Data.lpData);
  const size_t length = Data.cbData / sizeof(wchar_t);
  if (length > 0 && text[length - 1] != L'\0') return false;
  std::vector<std::wstring> paths;
  for (size_t start = 0; start < length;) {
    const std::wstring path(text + start);  // ends at the NUL checked above at the latest
    if (!path.empty()) paths.push_back(path);
    start += path.size() + 1;
  }
  Paths = ProgramPaths(paths);
  Request = Data.dwData == kHandOverExtract ? TRequest::ExtractHere : TRequest::AddToLists;
  return true;
}

THandOver HandOverToRunningInstance(HANDLE Mutex, const TCommandLine& Line) {
  const std::wstring block = PackHandOver(Line.Paths);
  COPYDATASTRUCT data = {Line.Request == TRequest::ExtractHere ? kHandOverExtract : kHandOverPaths,
                         static_cast<DWORD>(block.size() * sizeof(wchar_t)), const_cast<wchar_t*>(block.data())};
  DWORD started = GetTickCount();  // of the wait for a window that answers
  bool refused = false;
  for (;;) {
    HWND main = FindWindowA(QUARN_MAIN_CLASS, nullptr);
    if (main != nullptr) {
      DWORD_PTR answer = FALSE;
      if (SendMessageTimeoutW(main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, kAnswerMs, &answer) !=
          0) {
        if (answer == TRUE || !refused) {
          // This process was started by the user, so it may give the focus
          // away: to the main window, or to the box or dialog it shows, which
          // is what holds the paths back until it closes.
          if (IsIconic(main)) ShowWindowAsync(main, SW_RESTORE);
          SetForegroundWindow(GetLastActivePopup(main));
        }
        if (answer == TRUE) return THandOver::Delivered;
        refused = true;  // a command runs or a modal window is up: try again
        started = GetTickCount();
      } else if (IsWindow(main)) {
        return THandOver::NoAnswer;
      } else {
        // The window went away: the instance is ending, and this process or
        // another start becomes the next one, whose window is waited for anew.
        started = GetTickCount();
      }
    } else if (GetTickCount() - started > kFindWindowMs) {
      return THandOver::NoAnswer;
    }
    const DWORD wait = WaitForSingleObject(Mutex, refused ? kRetryMs : kPollMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return THandOver::MutexTaken;
  }
}

bool LaterStartsUnderWay() {
  std::wstring self(32768, L'\0');  // the longest path there is
  const DWORD length = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
  if (length == 0 || length >= self.size()) return false;
  self.resize(length);
  const size_t cut = self.find_last_of(L"\\/");
  const wchar_t* name = self.c_str() + (cut == std::wstring::npos ? 0 : cut + 1);
  DWORD session = 0;
  ProcessIdToSessionId(GetCurrentProcessId(), &session);
  const THandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    DWORD other = 0;
    if (entry.th32ProcessID != GetCurrentProcessId() && lstrcmpiW(entry.szExeFile, name) == 0 &&
        ProcessIdToSessionId(entry.th32ProcessID, &other) && other == session)
      return true;
  }
  return false;
}
