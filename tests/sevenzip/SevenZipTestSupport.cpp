#include "SevenZipTestSupport.h"

#include <cstdlib>
#include <fstream>

std::wstring FixtureDir() {
  const wchar_t* env = _wgetenv(L"QUARN_7Z_FIXTURES");
  if (env == nullptr || *env == L'\0') return std::wstring();
  std::wstring dir = env;
  for (wchar_t& c : dir)
    if (c == L'/') c = L'\\';
  return ExcludeTrailingBackslashW(dir);
}

std::wstring Fixture(const std::wstring& name) { return FixtureDir() + L"\\" + name; }

std::string ReadAll(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

bool WriteAll(const std::wstring& path, const std::string& data) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
  CloseHandle(h);
  return ok;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }


void TMessageLog::Attach(TSevenZip& sz) {
  sz.OnMessage = [this](TComponent*, int32_t code, const std::string& text, const std::wstring& file) {
    Items.push_back({code, text, file});
  };
}

std::vector<int32_t> TMessageLog::Codes() const {
  std::vector<int32_t> codes;
  for (const auto& m : Items) codes.push_back(m.Code);
  return codes;
}

int TMessageLog::CountOf(int32_t code) const {
  int n = 0;
  for (const auto& m : Items) n += m.Code == code;
  return n;
}
