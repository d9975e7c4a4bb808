#include "UserInterface.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <vector>

#include "Exception.h"
#include "PasswordDialog.h"
#include "ShellPaths.h"
#include "Text.h"

namespace {

const char kInformationTitle[] = "Information";
const char kQuestionTitle[] = "Quarn 1.00";
const char kVolumeTitle[] = "Select volume";
const char kVolumesFilter[] = "%s-volumes|%s.*";

// Where the next message box of this thread goes: a CBT hook moves the box
// when it is activated, since MessageBox itself takes no position.
struct TBoxPlacement {
  bool Centre = false;
  int X = 0;
  int Y = 0;
  HHOOK Hook = nullptr;
};
thread_local TBoxPlacement* gPlacement = nullptr;

LRESULT CALLBACK PlaceBoxHook(int code, WPARAM wParam, LPARAM lParam) {
  TBoxPlacement* placement = gPlacement;
  if (placement == nullptr) return 0;
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    RECT r;
    GetWindowRect(box, &r);
    int x = placement->X;
    int y = placement->Y;
    if (placement->Centre) {
      x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
      y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    }
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    UnhookWindowsHookEx(placement->Hook);
    placement->Hook = nullptr;
    gPlacement = nullptr;
    return 0;
  }
  return CallNextHookEx(placement->Hook, code, wParam, lParam);
}

void PlacedMessageBox(HWND owner, const std::string& text, const std::string& title, UINT flags,
                      TBoxPlacement placement) {
  placement.Hook = SetWindowsHookExA(WH_CBT, PlaceBoxHook, nullptr, GetCurrentThreadId());
  gPlacement = &placement;
  MessageBoxA(owner, text.c_str(), title.c_str(), flags);
  if (placement.Hook != nullptr) UnhookWindowsHookEx(placement.Hook);
  gPlacement = nullptr;
}

// "a|b|c|d" becomes "a\0b\0c\0d\0\0", the form the common dialogs take.
std::string DialogFilter(const std::string& filter) {
  std::string result = filter;
  for (char& c : result)
    if (c == '|') c = '\0';
  result.push_back('\0');
  result.push_back('\0');
  return result;
}

// A common dialog's structure: its owner, Filter (in the dialogs' form,
// filter index 1) and the name buffer; the flags every dialog here shares
// are added to Flags.
OPENFILENAMEA FileDialog(HWND Owner, const std::string& Filter, std::vector<char>& Buffer, DWORD Flags) {
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Owner;
  ofn.lpstrFilter = Filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = Buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(Buffer.size());
  ofn.Flags = Flags | OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  return ofn;
}

// The folder browser opens centred on the screen.
int CALLBACK CentreBrowser(HWND window, UINT message, LPARAM, LPARAM) {
  if (message == BFFM_INITIALIZED) {
    RECT r;
    GetWindowRect(window, &r);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return 0;
}

}  // namespace

void TWin32UserInterface::ShowInformation(HWND Owner, const std::string& Text, int X, int Y) {
  TBoxPlacement placement;
  placement.X = X;
  placement.Y = Y;
  PlacedMessageBox(Owner, Text, kInformationTitle, MB_OK | MB_ICONINFORMATION, placement);
}

void TWin32UserInterface::ShowError(HWND Owner, const std::string& Title, const std::string& Text) {
  TBoxPlacement placement;
  placement.Centre = true;
  PlacedMessageBox(Owner, Text, Title, MB_OK | MB_ICONERROR, placement);
}

bool TWin32UserInterface::OpenFiles(HWND Owner, const std::string& Filter, int& FilterIndex,
                                    std::vector<std::string>& Files) {
  const std::string filter = DialogFilter(Filter);
  // Room for many long names: the dialog fails with FNERR_BUFFERTOOSMALL otherwise.
  std::vector<char> buffer(65536, '\0');
  OPENFILENAMEA ofn = FileDialog(Owner, filter, buffer, OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
  ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
  if (!GetOpenFileNameA(&ofn)) return false;
  FilterIndex = static_cast<int>(ofn.nFilterIndex);
  Files.clear();
  // One name: the full path. Several: the folder, then the names, NUL-separated.
  const std::string first = buffer.data();
  const char* p = buffer.data() + first.size() + 1;
  if (*p == '\0') {
    Files.push_back(first);
    return true;
  }
  const bool root = !first.empty() && first.back() == '\\';
  while (*p != '\0') {
    const std::string name = p;
    Files.push_back(first + (root ? "" : "\\") + name);
    p += name.size() + 1;
  }
  return true;
}

bool TWin32UserInterface::SaveFile(HWND Owner, const std::string& Filter, const std::string& DefaultExt,
                                   const std::string& InitialDir, std::string& FileName) {
  const std::string filter = DialogFilter(Filter);
  std::vector<char> buffer(32768, '\0');
  FileName.copy(buffer.data(), buffer.size() - 1);
  // The dialog wants the extension without "*." ("zip").
  std::string ext = DefaultExt;
  if (ext.rfind("*.", 0) == 0) ext.erase(0, 2);
  OPENFILENAMEA ofn = FileDialog(Owner, filter, buffer, OFN_PATHMUSTEXIST);
  ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
  ofn.lpstrDefExt = ext.c_str();
  if (!GetSaveFileNameA(&ofn)) return false;
  FileName = buffer.data();
  return true;
}

bool TWin32UserInterface::BrowseForFolder(HWND Owner, const std::string& Title, std::string& Folder) {
  BROWSEINFOA info = {};
  info.hwndOwner = Owner;
  info.pidlRoot = nullptr;  // the desktop
  info.lpszTitle = Title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;  // 0x241
  info.lpfn = CentreBrowser;
  // The new dialog style needs COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const TCoTaskMem<LPITEMIDLIST> chosen(SHBrowseForFolderA(&info));
  bool ok = false;
  wchar_t path[MAX_PATH] = {0};
  if (chosen && SHGetPathFromIDListW(chosen.Get(), path)) {
    Folder = WideToAnsi(path);
    ok = true;
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return ok;
}

TWin32UserInterface::TWin32UserInterface() = default;

TWin32UserInterface::~TWin32UserInterface() = default;

bool TWin32UserInterface::Confirm(HWND Owner, const std::string& Text) {
  return MessageBoxA(Owner, Text.c_str(), kQuestionTitle, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool TWin32UserInterface::AskPassword(HWND Owner, const std::string& Archive, bool Retry, std::string& Password) {
  TPasswordDialog dialog(Owner, Archive, Retry);
  return dialog.ShowModal(Password);
}

bool TWin32UserInterface::AskVolume(HWND Owner, const std::string& Missing, std::string& Found) {
  // The parts of a set share the name before their number: "movie.7z.003"
  // is offered among "movie.7z.*".
  std::string stem = FileNameOf(Missing);
  const std::string folder = Missing.substr(0, Missing.size() - stem.size());  // with its "\"
  if (stem.find('.') != std::string::npos) stem.erase(stem.rfind('.'));
  const std::string filter = DialogFilter(Format(kVolumesFilter, stem.c_str(), stem.c_str()));
  std::vector<char> buffer(32768, '\0');
  OPENFILENAMEA ofn = FileDialog(Owner, filter, buffer, OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = kVolumeTitle;
  if (!GetOpenFileNameA(&ofn)) return false;
  Found = buffer.data();
  return true;
}

void TWin32UserInterface::TaskbarProgress(HWND Owner, TTaskbarState State, uint64_t Done, uint64_t Total) {
  // The taskbar's object is made once; a shell without one shows nothing.
  if (!FTaskbarTried) {
    FTaskbarTried = true;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // kept for the thread's life
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                FTaskbar.PutVoid())) ||
        !FTaskbar || FAILED(FTaskbar->HrInit()))
      FTaskbar.Reset();
  }
  if (!FTaskbar) return;
  const TBPFLAG flags[] = {TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_ERROR};
  FTaskbar->SetProgressState(Owner, flags[static_cast<int>(State)]);
  if (State != TTaskbarState::None && Total > 0) FTaskbar->SetProgressValue(Owner, Done, Total);
}
