#pragma once
// The modal interaction of the main window with its user: message boxes, the
// open and save dialogs and the folder browser. The program uses the Win32
// implementation; tests put a scripted one in its place, so that every command
// runs without a person.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Win32Kit.h"

// What the taskbar button shows of a running command.
enum class TTaskbarState { None, Normal, Error };

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;

  // An information box (title "Information", one OK button) whose top-left
  // corner is at the screen point (x, y).
  virtual void ShowInformation(HWND Owner, const std::string& Text, int X, int Y) = 0;

  // An error box (one OK button) with the given title, centred on the screen.
  virtual void ShowError(HWND Owner, const std::string& Title, const std::string& Text) = 0;

  // An open dialog for existing files, several at once, read-only box hidden,
  // resizable. Filter uses "|" between its parts; FilterIndex (from 1) is the
  // one to select and comes back as the one in use when confirmed. Returns
  // false when cancelled; otherwise Files holds the full paths in dialog order.
  virtual bool OpenFiles(HWND Owner, const std::string& Filter, int& FilterIndex, std::vector<std::string>& Files) = 0;

  // A save dialog without an overwrite prompt. FileName is the name to show
  // and, when confirmed (true), the full name chosen.
  virtual bool SaveFile(HWND Owner, const std::string& Filter, const std::string& DefaultExt,
                        const std::string& InitialDir, std::string& FileName) = 0;

  // The shell's folder browser rooted at the desktop. Returns false when
  // cancelled; otherwise Folder holds the chosen path.
  virtual bool BrowseForFolder(HWND Owner, const std::string& Title, std::string& Folder) = 0;

  // A question with Yes and No buttons (title "Quarn 1.00"), centred over
  // Owner; true for Yes.
  virtual bool Confirm(HWND Owner, const std::string& Text) = 0;

  // The password dialog for the archive Archive. Retry says that the password
  // given before was wrong. Returns false when cancelled; otherwise Password
  // holds what was typed (the caller wipes it when done).
  virtual bool AskPassword(HWND Owner, const std::string& Archive, bool Retry, std::string& Password) = 0;

  // An open dialog asking where the part Missing (its full path as expected)
  // of a volume set is. Returns false when cancelled; otherwise Found holds
  // the full path chosen.
  virtual bool AskVolume(HWND Owner, const std::string& Missing, std::string& Found) = 0;

  // The progress shown on Owner's taskbar button: Done of Total (Total 0:
  // no value), in the given state.
  virtual void TaskbarProgress(HWND Owner, TTaskbarState State, uint64_t Done, uint64_t Total) = 0;
};

struct ITaskbarList3;

// The real dialogs of Windows.
class TWin32UserInterface : public IUserInterface {
 public:
  TWin32UserInterface();
  ~TWin32UserInterface() override;

  void ShowInformation(HWND Owner, const std::string& Text, int X, int Y) override;
  void ShowError(HWND Owner, const std::string& Title, const std::string& Text) override;
  bool OpenFiles(HWND Owner, const std::string& Filter, int& FilterIndex, std::vector<std::string>& Files) override;
  bool SaveFile(HWND Owner, const std::string& Filter, const std::string& DefaultExt, const std::string& InitialDir,
                std::string& FileName) override;
  bool BrowseForFolder(HWND Owner, const std::string& Title, std::string& Folder) override;
  bool Confirm(HWND Owner, const std::string& Text) override;
  bool AskPassword(HWND Owner, const std::string& Archive, bool Retry, std::string& Password) override;
  bool AskVolume(HWND Owner, const std::string& Missing, std::string& Found) override;
  void TaskbarProgress(HWND Owner, TTaskbarState State, uint64_t Done, uint64_t Total) override;

 private:
  TComPtr<ITaskbarList3> FTaskbar;  // null when the shell has none
  bool FTaskbarTried = false;
};
