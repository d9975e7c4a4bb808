// Times drops of many files onto a hidden main window: 300 archives on the
// first page, then 5,000 files on the second (real files in a scratch folder).
// Prints one line per drop: the count and the milliseconds it took.

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Unit1.h"
#include "UserInterface.h"

namespace {

HDROP MakeDrop(const std::vector<std::wstring>& paths) {
  std::wstring names;
  for (const std::wstring& p : paths) names += p + L'\0';
  names += L'\0';
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

std::vector<std::wstring> MakeFiles(const std::wstring& folder, const wchar_t* ext, int count) {
  std::vector<std::wstring> paths;
  for (int i = 0; i < count; ++i) {
    paths.push_back(folder + L"\\file" + std::to_wstring(i) + ext);
    HANDLE h = CreateFileW(paths.back().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, "data", 4, &written, nullptr);
    CloseHandle(h);
  }
  return paths;
}

double TimeDrop(TForm1& form, const std::vector<std::wstring>& paths) {
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&a);
  form.HandleDroppedFiles(MakeDrop(paths));
  QueryPerformanceCounter(&b);
  return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"quarn-drop-bench-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::vector<std::wstring> archives = MakeFiles(folder, L".zip", 300);
  const std::vector<std::wstring> files = MakeFiles(folder, L".txt", 5000);

  TForm1 form(nullptr, std::make_unique<TWin32UserInterface>());
  form.FormActivate();
  std::printf("drop of %zu archives: %.0f ms\n", archives.size(), TimeDrop(form, archives));
  SendMessageA(form.PageControl1, TCM_SETCURSEL, 1, 0);
  form.PageControl1Change();
  std::printf("drop of %zu files: %.0f ms\n", files.size(), TimeDrop(form, files));

  for (const auto* list : {&archives, &files})
    for (const std::wstring& p : *list) DeleteFileW(p.c_str());
  RemoveDirectoryW(folder.c_str());
  return 0;
}
