#pragma once
// TForm5: the modal help dialog with its "Help" and "License" pages.

#include <windows.h>

#include <exception>

#include <string>

#include "Win32Kit.h"
#include "Windowing.h"

class TForm5 final : public TObjectWindow {
 public:
  // Creates the dialog (hidden) owned by Owner, centred over it.
  explicit TForm5(HWND Owner);
  ~TForm5();
  TForm5(const TForm5&) = delete;
  TForm5& operator=(const TForm5&) = delete;

  // Shows the dialog and runs its modal loop until it is closed; the owner is
  // disabled meanwhile.
  void ShowModal();
  void Close();

  // ---- handlers ----
  void FormCreate();
  void Button1Click();
  bool FormKeyDown(WPARAM Key);
  void PageControl1Change();

  // The help page's text: how to use Quarn, and every kind it takes (the
  // kinds table's extensions).
  static std::string HelpText();

  // ---- controls (owned by the dialog) ----
  HWND Button1 = nullptr;
  HWND PageControl1 = nullptr;
  HWND Label1 = nullptr;
  HWND Memo1 = nullptr;

  // The dialog's font face and point size, as chosen by FormCreate.
  std::string FontName;
  int FontPoints = 8;

 private:
  void HandleException(const std::exception& E) override;
  LRESULT Dispatch(UINT Message, WPARAM wParam, LPARAM lParam) override;

  TFont FFont;
  bool FClosed = false;
  RECT FPageArea = {};
};
