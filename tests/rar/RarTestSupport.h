#pragma once
// Helpers shared by the RAR component tests: the archives made by
// make_fixtures.py, scratch folders, file contents, and a recorder that keeps
// every event a TUnRar fires in order.

#include <windows.h>

#include <cstdint>
#include <string>

#include "Files.h"
#include <vector>

#include "ScratchDir.h"
#include "UnRar.h"

namespace rartest {

// Windows path of an archive made by make_fixtures.py.
std::string Fixture(const std::string& name);

// The bytes make_fixtures.py writes for pattern(size, seed).
std::string Pattern(size_t size, uint32_t seed);

uint32_t Crc32(const std::string& data);

bool DirExists(const std::string& path);
std::string ReadFile(const std::string& path);
// The same through the wide functions, for a path of any length.
std::string ReadFile(const std::wstring& path);
void WriteFile(const std::string& path, const std::string& data);
// Every file below root (full paths), recursively.
std::vector<std::string> ListFiles(const std::string& root);


// Records the events of one component as lines, e.g. "status:1",
// "error:12:donnees...", "header:hello.txt:0".
struct Recorder {
  std::vector<std::string> events;
  std::vector<std::pair<std::string, int>> errors;
  std::vector<TUnRarHeaderData> headers;

  void Attach(TUnRar& rar, bool headerEvents = true);
  std::vector<std::string> Only(const std::string& prefix) const;
};

}  // namespace rartest
