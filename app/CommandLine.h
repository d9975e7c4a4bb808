#pragma once
// Paths given to quarn.exe on its command line ("Open with", "Send to", files
// dropped on the program's icon, a console) and their hand-over to the Quarn
// that already runs. Names travel as UTF-16 from the command line to the
// running window and become the program's byte strings in one place,
// UnpackHandOver / ProgramPaths, so that they depend on no code page on the way.

#include <windows.h>

#include <string>
#include <vector>

// The paths on this process's command line, the program's own name left out,
// read with GetCommandLineW. A relative path is made full against the current
// folder, which only this process knows; empty arguments are skipped.
std::vector<std::wstring> CommandLinePaths();

// Paths in the program's byte strings (the process's ANSI code page).
std::vector<std::string> ProgramPaths(const std::vector<std::wstring>& Paths);

// The WM_COPYDATA block of a hand-over: dwData is kHandOverPaths, lpData the
// paths in UTF-16, each followed by its NUL.
constexpr ULONG_PTR kHandOverPaths = 0x51524E31;
std::wstring PackHandOver(const std::vector<std::wstring>& Paths);

// Reads a hand-over block into program paths. False, with Paths empty, when
// the block is not one (another id, an odd size, a last path without its NUL);
// empty paths inside it are skipped.
bool UnpackHandOver(const COPYDATASTRUCT& Data, std::vector<std::string>& Paths);

enum class THandOver {
  Delivered,   // the running instance took the paths and was brought to the front
  NoAnswer,    // an instance runs but could not be reached
  MutexTaken,  // the running instance ended meanwhile; this process now owns Mutex
};

// For a start that found the single-instance mutex held: waits for the running
// instance's main window (up to 10 s, as it may still be starting), sends it
// the paths in WM_COPYDATA and brings it, or the box or dialog it shows, to
// the front. While the window answers "not now" (a command runs, a modal
// window is up) the paths are offered again until it takes them. Mutex is this
// process's handle of the named mutex; when the running instance ends first,
// the mutex is taken instead. NoAnswer: no window came, or one did not answer
// within 30 s.
THandOver HandOverToRunningInstance(HANDLE Mutex, const std::vector<std::wstring>& Paths);
