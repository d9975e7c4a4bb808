#pragma once
// The modal interaction of the main window with its user: message boxes, the
// open and save dialogs and the folder browser. The program uses the Win32
// implementation; tests put a scripted one in its place, so that every command
// runs without a person.

#include <windows.h>

#include <string>
#include <vector>

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
};

// The real dialogs of Windows.
class TWin32UserInterface : public IUserInterface {
 public:
  void ShowInformation(HWND Owner, const std::string& Text, int X, int Y) override;
  void ShowError(HWND Owner, const std::string& Title, const std::string& Text) override;
  bool OpenFiles(HWND Owner, const std::string& Filter, int& FilterIndex, std::vector<std::string>& Files) override;
  bool SaveFile(HWND Owner, const std::string& Filter, const std::string& DefaultExt, const std::string& InitialDir,
                std::string& FileName) override;
  bool BrowseForFolder(HWND Owner, const std::string& Title, std::string& Folder) override;
};
