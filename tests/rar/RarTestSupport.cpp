#include "RarTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace rartest {

std::string Fixture(const std::string& name) {
  const char* env = std::getenv("QUARN_RAR_FIXTURES");
  std::string dir = env != nullptr && *env ? env : QUARN_RAR_FIXTURES;
  for (char& c : dir)
    if (c == '/') c = '\\';
  return dir + "\\" + name;
}

std::string Pattern(size_t size, uint32_t seed) {
  std::string out;
  out.reserve(size + 3);
  uint32_t x = seed;
  while (out.size() < size) {
    x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
    const uint32_t v = x >> 8;
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>((v >> 16) & 0xFF);
  }
  out.resize(size);
  return out;
}

uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : data) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

bool DirExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ReadFile(const std::wstring& path) {
  const HANDLE h =
      CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data;
  char buf[65536];
  DWORD got = 0;
  while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  return data;
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

std::vector<std::string> ListFiles(const std::string& root) {
  std::vector<std::string> files;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((root + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return files;
  do {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    const std::string full = root + "\\" + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (const std::string& f : ListFiles(full)) files.push_back(f);
    } else {
      files.push_back(full);
    }
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return files;
}


void Recorder::Attach(TUnRar& rar, bool headerEvents) {
  rar.OnRarStatus = [this](TUnRar*, const std::string& message, TRarStatus status) {
    static const char* const names[] = {"ONOPEN", "ONBEFOREOPEN", "AFTERCLOSE", "ONPASSWORD"};
    events.push_back(std::string("status:") + names[status] + (message.empty() ? "" : ":" + message));
  };
  rar.OnError = [this](TUnRar*, const std::string& message, int32_t id) {
    events.push_back("error:" + std::to_string(id));
    errors.emplace_back(message, id);
  };
  rar.OnComment = [this](TUnRar*, const std::string& comment) { events.push_back("comment:" + comment); };
  if (headerEvents)
    rar.OnFileProcessing = [this](TUnRar*, const TUnRarHeaderData& h, int32_t status) {
      events.push_back("header:" + h.FileName + ":" + std::to_string(status));
      headers.push_back(h);
    };
}

std::vector<std::string> Recorder::Only(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& e : events)
    if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
  return out;
}

}  // namespace rartest
