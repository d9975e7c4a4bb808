// Quarn's entry point: one instance per user logon, the hidden owner window,
// the main window and the message loop. Paths on the command line go to the
// main window's lists, or are extracted beside themselves (/extract-here); a
// later start hands them to the running instance instead.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Unit1.h"
#include "UserInterface.h"
#include "Win32Kit.h"
#include "resource.h"

namespace {
const char kTitle[] = "Quarn 1.00";
const char kMutexName[] = "Quarn";
const char kNoAnswer[] = "Quarn is running but did not take the files.\r\nPlease try again when it is free.";

// The program's hidden owner window: it owns every top-level window, and the
// main window takes the taskbar button from it.
HWND CreateApplicationWindow(HINSTANCE instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QUARN));
  wc.lpszClassName = QUARN_APP_CLASS;
  RegisterClassExA(&wc);
  return CreateWindowExA(0, QUARN_APP_CLASS, kTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const TCommandLine line = ReadCommandLine();
  const bool extract = line.Request == TRequest::ExtractHere;
  if (extract && line.Paths.empty()) return 0;  // nothing to extract
  const THandle mutex(CreateMutexA(nullptr, TRUE, kMutexName));
  if (!mutex || GetLastError() != 0) {
    // Another instance runs (or the name cannot be had). Without paths the
    // start ends silently; with paths they go to the running instance, unless
    // that one ended meanwhile and this process becomes the instance.
    if (!mutex || line.Paths.empty()) return 0;
    const THandOver result = HandOverToRunningInstance(mutex.Get(), line);
    if (result != THandOver::MutexTaken) {
      if (result == THandOver::NoAnswer) MessageBoxA(nullptr, kNoAnswer, kTitle, MB_OK | MB_ICONWARNING);
      return 0;
    }
  }
  HWND application = CreateApplicationWindow(instance);
  int exitCode = 0;
  try {
    TForm1 form(application, std::make_unique<TWin32UserInterface>());
    Form1 = &form;
    // Archives to extract are queued before the window can take hand-overs,
    // so that they come first; the walk starts from the message loop.
    if (extract) form.ExtractHere(ProgramPaths(line.Paths), true);
    form.Show();
    if (!extract && !line.Paths.empty()) form.AddPaths(ProgramPaths(line.Paths));
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (form.PreTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Form1 = nullptr;
  } catch (const std::exception& e) {
    Form1 = nullptr;
    MessageBoxA(nullptr, e.what(), kTitle, MB_OK | MB_ICONERROR);
    exitCode = 1;
  }
  if (application != nullptr) DestroyWindow(application);
  return exitCode;
}
