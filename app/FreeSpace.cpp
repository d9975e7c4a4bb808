#include "FreeSpace.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "Files.h"

bool FreeSpaceOf(const std::wstring& Folder, uint64_t& Free, std::wstring& Volume) {
  std::wstring place = Folder;
  while (!place.empty() && place.back() == L'\\') place.pop_back();
  ULARGE_INTEGER available{};
  while (!GetDiskFreeSpaceExW(LongPathForm(place + L"\\").c_str(), &available, nullptr, nullptr)) {
    const size_t cut = place.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut == 0 || place[cut - 1] == L'\\') return false;
    place.resize(cut);
  }
  Free = available.QuadPart;
  std::vector<wchar_t> root(32768, L'\0');
  if (GetVolumePathNameW(place.c_str(), root.data(), static_cast<DWORD>(root.size())))
    Volume = root.data();
  else
    Volume = place;
  if (Volume.size() > 1 && Volume.back() == L'\\') Volume.pop_back();
  return true;
}

std::string SizeText(uint64_t Bytes, bool Exact) {
  if (Exact || Bytes < 1024) {
    std::string digits = std::to_string(Bytes);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits + (Bytes == 1 ? " byte" : " bytes");
  }
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(Bytes) / 1024;
  size_t unit = 0;
  // 1023.7 KB reads as 1.0 MB, not as 1024 KB.
  while (value >= 1023.5 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, value < 99.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
  return text;
}
