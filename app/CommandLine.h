#pragma once
// What quarn.exe is asked on its command line ("Open with", "Send to", files
// dropped on the program's icon, Explorer's verbs, a console) and its hand-over
// to the Quarn that already runs. Names travel as UTF-16 from the command line
// to the running window and become the program's byte strings in one place,
// UnpackHandOver / ProgramPaths, so that they depend on no code page on the way.

#include <windows.h>

#include <string>
#include <vector>

// What a start of the program asks for.
enum class TRequest {
  AddToLists,   // the paths go to the lists by their kind
  ExtractHere,  // "/extract-here": each archive is extracted into a folder beside it
};

struct TCommandLine {
  TRequest Request = TRequest::AddToLists;
  std::vector<std::wstring> Paths;
};

// The switch that asks for extraction beside the archives. It counts only as
// the first argument (in any case); anywhere else it is a path like the others.
extern const wchar_t kExtractHereSwitch[];

// Reads Arguments (the program's own name left out): the switch, then the
// paths, each made full against the current folder, which only this process
// knows; empty arguments are skipped.
TCommandLine ParseCommandLine(const std::vector<std::wstring>& Arguments);
// The same for this process's command line, read with GetCommandLineW.
TCommandLine ReadCommandLine();

// Paths in the program's byte strings (the process's ANSI code page).
std::vector<std::string> ProgramPaths(const std::vector<std::wstring>& Paths);

// The WM_COPYDATA block of a hand-over: dwData says what is asked
// (kHandOverPaths: to the lists; kHandOverExtract: extraction beside the
// archives), lpData holds the paths in UTF-16, each followed by its NUL.
constexpr ULONG_PTR kHandOverPaths = 0x51524E31;
constexpr ULONG_PTR kHandOverExtract = 0x51524558;
std::wstring PackHandOver(const std::vector<std::wstring>& Paths);

// Reads a hand-over block into a request and program paths. False, with Paths
// empty, when the block is not one (another id, an odd size, a last path
// without its NUL); empty paths inside it are skipped.
bool UnpackHandOver(const COPYDATASTRUCT& Data, TRequest& Request, std::vector<std::string>& Paths);

enum class THandOver {
  Delivered,   // the running instance took the paths and was brought to the front
  NoAnswer,    // an instance runs but could not be reached
  MutexTaken,  // the running instance ended meanwhile; this process now owns Mutex
};

// For a start that found the single-instance mutex held: waits for the running
// instance's main window (up to 30 s, as it may still be starting, or ending
// while another instance starts), sends it the request in WM_COPYDATA and
// brings it, or the box or dialog it shows, to the front. While the window
// answers "not now" (for the lists: a command runs, a modal window is up) the
// paths are offered again until it takes them; a request to extract is always
// taken and queued. Mutex is this process's handle of the named mutex; when
// the running instance ends first, the mutex is taken instead. NoAnswer: no
// window came, or one did not answer within 30 s.
THandOver HandOverToRunningInstance(HANDLE Mutex, const TCommandLine& Line);

// True while another process of this program runs in this logon session: a
// later start on its way to hand its paths over (Explorer starts one process
// per selected file, and they arrive one after another).
bool LaterStartsUnderWay();
