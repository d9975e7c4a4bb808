// Hostile archives: entry names that climb out of the output folder, absolute
// paths, drive paths and UNC-like paths must never put a file outside it.

#include <gtest/gtest.h>

#include <algorithm>

#include "RarTestSupport.h"
#include "UnRar.h"

using namespace rartest;

namespace {

const char* const EvilNames[] = {"quarn-evil1.txt", "quarn-evil2.txt", "quarn-evil3.txt",
                                 "quarn-evil4.txt", "quarn-evil5.txt", "quarn-evil6.txt"};

// Places outside the output folder where an unguarded extraction would land.
std::vector<std::string> OutsidePlaces(const std::string& root) {
  std::vector<std::string> places;
  char cwd[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, cwd);
  const std::string drive = std::string(cwd, 2);
  for (const char* name : EvilNames) {
    places.push_back(root + "\\" + name);
    places.push_back(root + "\\deep\\" + name);
    places.push_back(std::string("C:\\") + name);
    places.push_back(drive + "\\" + name);
    places.push_back(drive + "\\tmp\\" + name);
    places.push_back(std::string("Z:\\tmp\\") + name);
  }
  return places;
}

void RemovePlaces(const std::vector<std::string>& places) {
  for (const std::string& p : places) DeleteFileA(p.c_str());
}

}  // namespace

TEST(UnRarSafety, HostileNamesAreReallyInTheArchive) {
  TUnRar rar(nullptr);
  rar.FileName = Fixture("hostile.rar");
  Recorder rec;
  rec.Attach(rar);
  rar.ProcessArchive();
  std::vector<std::string> names;
  for (const TUnRarHeaderData& h : rec.headers) names.push_back(h.FileName);
  // The library shows the names with Windows separators.
  for (const char* climbing : {"..\\quarn-evil1.txt", "a\\..\\..\\quarn-evil2.txt"})
    EXPECT_NE(std::find(names.begin(), names.end(), climbing), names.end()) << climbing;
  // Names the library changes itself on Windows: "\\" of a Unix name and the
  // drive colon become "_".
  for (const char* changed : {"..\\quarn-evil1.txt", ".._quarn-evil5.txt", "C_\\quarn-evil4.txt"})
    EXPECT_NE(std::find(names.begin(), names.end(), changed), names.end()) << changed;
  EXPECT_EQ(names.size(), 6u);
}

TEST(UnRarSafety, NothingIsWrittenOutsideTheOutputFolder) {
  ScratchDir root;
  const std::string out = root / "deep\\out";
  ASSERT_TRUE(CreateDirectoryA((root / "deep").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
  const std::vector<std::string> places = OutsidePlaces(root.Path());
  RemovePlaces(places);

  for (TUnRarMode mode : {UNRAR_EXTRACT, UNRAR_LIST}) {
    for (TOverrideOptions policy : {OR_ALWAYS, OR_NEVER}) {
      TUnRar rar(nullptr);
      rar.FileName = Fixture("hostile.rar");
      rar.Directory = out + "\\";
      rar.SetMode(mode);
      rar.OverrideEvent = policy;
      rar.ProcessArchive();
    }
  }
  for (const std::string& p : places) EXPECT_FALSE(FileExists(p)) << p;
  RemovePlaces(places);
  // Whatever was extracted lies inside the output folder.
  const std::vector<std::string> files = ListFiles(root.Path());
  for (const std::string& f : files) EXPECT_EQ(f.compare(0, out.size() + 1, out + "\\"), 0) << f;
  EXPECT_FALSE(files.empty());
}
