#pragma once
// Helpers of the 7z tests: the fixture folder (made by make-fixtures.sh before
// the tests run), scratch folders, file reading and an OnMessage recorder.

#include <windows.h>

#include <string>
#include <tuple>
#include <vector>

#include "ScratchDir.h"
#include "SevenZip.h"

// Folder with the generated archives (QUARN_7Z_FIXTURES, a Windows path).
std::wstring FixtureDir();
std::wstring Fixture(const std::wstring& name);
// Whole file as bytes; "<missing>" when it cannot be read.
std::string ReadAll(const std::wstring& path);
bool WriteAll(const std::wstring& path, const std::string& data);
bool Exists(const std::wstring& path);


struct TRecordedMessage {
  int32_t Code;
  std::string Text;
  std::wstring FileName;
};

// Records every OnMessage of a component.
struct TMessageLog {
  std::vector<TRecordedMessage> Items;
  void Attach(TSevenZip& sz);
  std::vector<int32_t> Codes() const;
  int CountOf(int32_t code) const;
};
