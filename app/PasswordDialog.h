#pragma once
// TPasswordDialog: asks for the password of an encrypted archive. Modal to its
// owner; a masked edit with a "Show password" check box, OK and Cancel.

#include <windows.h>

#include <exception>
#include <string>

#include "Win32Kit.h"
#include "Windowing.h"

class TPasswordDialog final : public TObjectWindow {
 public:
  // Archive is named in the dialog; Retry adds the line saying that the
  // password given before was wrong.
  TPasswordDialog(HWND Owner, const std::string& Archive, bool Retry);
  ~TPasswordDialog();
  TPasswordDialog(const TPasswordDialog&) = delete;
  TPasswordDialog& operator=(const TPasswordDialog&) = delete;

  // Shows the dialog until OK or Cancel (Escape, the close box); true for OK,
  // with the typed password in Password. Nothing typed stays in the dialog.
  bool ShowModal(std::string& Password);

  // ---- handlers ----
  void FormCreate();
  void ShowPasswordClick();
  void Close(bool Accepted);

  // ---- controls (owned by the dialog) ----
  HWND Prompt = nullptr, ArchiveLabel = nullptr, Hint = nullptr, PasswordEdit = nullptr, ShowPassword = nullptr;
  HWND OkButton = nullptr, CancelButton = nullptr;

 private:
  void HandleException(const std::exception& E) override;
  LRESULT Dispatch(UINT Message, WPARAM wParam, LPARAM lParam) override;

  std::string FArchive;
  bool FRetry;
  TFont FFont;
  wchar_t FMask = 0;  // the edit's own password character
  bool FDone = false;
  bool FAccepted = false;
};
