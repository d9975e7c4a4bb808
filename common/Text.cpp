#include "Text.h"

#ifdef _WIN32
#include <windows.h>
#endif

std::string WithName(const char* Text, const std::string& Name) {
  std::string result = Text;
  const size_t at = result.find("%s");
  if (at != std::string::npos) result.replace(at, 2, Name);
  return result;
}

void WipeBytes(void* Data, size_t Count) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(Data);
  while (Count-- > 0) *p++ = 0;
}

namespace {
template <typename S>
void WipeString(S& text) {
  // The whole buffer, also what a longer value left beyond size().
  text.resize(text.capacity());
  if (!text.empty()) WipeBytes(&text[0], text.size() * sizeof(typename S::value_type));
  text.clear();
}
}  // namespace

void Wipe(std::string& Text) { WipeString(Text); }
void Wipe(std::wstring& Text) { WipeString(Text); }

#ifdef _WIN32

std::string WideToAnsi(const std::wstring& Text) {
  if (Text.empty()) return std::string();
  const int size = static_cast<int>(Text.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, Text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, Text.data(), size, &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring AnsiToWide(const std::string& Text) {
  if (Text.empty()) return std::wstring();
  const int size = static_cast<int>(Text.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, Text.data(), size, nullptr, 0);
  std::wstring out(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, Text.data(), size, &out[0], n);
  return out;
}

std::string WideToAnsi(const wchar_t* Text, size_t Size) {
  size_t n = 0;
  while (n < Size && Text[n] != 0) ++n;
  return WideToAnsi(std::wstring(Text, n));
}

std::wstring FoldedName(std::wstring Name) {
  if (!Name.empty()) CharUpperBuffW(&Name[0], static_cast<DWORD>(Name.size()));
  return Name;
}

#endif
