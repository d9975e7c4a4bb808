// The UnRAR binding, a component without the library, the header translation
// in list mode and the DOS date conversion.

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "RarTestSupport.h"
#include "UnRar.h"
#include "UnRarLib.h"

using namespace rartest;

namespace {

// Stands for a machine without unrar.dll for the life of the object.
struct MissingLibrary {
  MissingLibrary() { SetUnRarLibraryName("quarn-no-such-unrar.dll"); }
  ~MissingLibrary() { SetUnRarLibraryName("unrar.dll"); }
};

}  // namespace

TEST(UnRarBinding, ComponentLoadsAndReleasesTheLibrary) {
  ASSERT_FALSE(IsUnRarLibraryLoaded());
  {
    TComponent owner(nullptr);
    TUnRar* rar = new TUnRar(&owner);
    EXPECT_TRUE(IsUnRarLibraryLoaded());
    EXPECT_NE(UnRarLib.RARProcessFile, nullptr);
    EXPECT_EQ(rar->DllVersion(), UnRarLib.RARGetDllVersion());
    EXPECT_GE(rar->DllVersion(), 8);
    EXPECT_EQ(rar->Mode(), UNRAR_LIST);
    EXPECT_EQ(rar->OverrideEvent, OR_ALWAYS);
    // The owner destroys the component, which unloads the library.
  }
  EXPECT_FALSE(IsUnRarLibraryLoaded());
  EXPECT_FALSE(UnRarLib.Module);
  EXPECT_EQ(UnRarLib.RAROpenArchive, nullptr);
}

TEST(UnRarBinding, TwoHoldersKeepTheTableUntilTheLastLeaves) {
  TUnRar* first = new TUnRar(nullptr);
  TUnRar* second = new TUnRar(nullptr);
  delete first;
  ASSERT_TRUE(IsUnRarLibraryLoaded());
  ASSERT_NE(UnRarLib.RARReadHeaderEx, nullptr);
  second->FileName = Fixture("basic.rar");
  Recorder rec;
  rec.Attach(*second);
  second->ProcessArchive();
  EXPECT_TRUE(rec.errors.empty());
  EXPECT_EQ(rec.headers.size(), 6u);
  delete second;
  EXPECT_FALSE(IsUnRarLibraryLoaded());
}

TEST(UnRarBinding, WithoutTheLibraryOnlyTheErrorIsReported) {
  MissingLibrary missing;
  TUnRar rar(nullptr);
  EXPECT_FALSE(IsUnRarLibraryLoaded());
  EXPECT_EQ(rar.DllVersion(), 0);
  rar.FileName = Fixture("basic.rar");
  rar.CanProgress = true;
  Recorder rec;
  rec.Attach(rar);
  rar.ProcessArchive();
  ASSERT_EQ(rec.events, std::vector<std::string>{"error:0"});
  EXPECT_EQ(rec.errors[0].first, "UnRar.Dll not loaded");
  rec.events.clear();
  rar.CountFiles();
  EXPECT_EQ(rec.events, std::vector<std::string>{"error:0"});
}

TEST(UnRarHeaders, ListModeTranslatesEveryHeaderAndWritesNothing) {
  ScratchDir out;
  TUnRar rar(nullptr);
  rar.FileName = Fixture("basic.rar");
  rar.Directory = out.Path();
  Recorder rec;
  rec.Attach(rar);
  rar.ProcessArchive();
  EXPECT_TRUE(rec.errors.empty());
  EXPECT_TRUE(ListFiles(out.Path()).empty());

  std::vector<std::string> names;
  for (const TUnRarHeaderData& h : rec.headers) names.push_back(h.FileName);
  std::sort(names.begin(), names.end());
  const std::vector<std::string> expected = {"café à l'été.txt",     "dir",      "dir\\sub",
                                             "dir\\sub\\nested.bin", "emptydir", "hello.txt"};
  std::vector<std::string> sortedExpected = expected;
  std::sort(sortedExpected.begin(), sortedExpected.end());
  ASSERT_EQ(GetACP(), 65001u) << "the program's byte strings are UTF-8";
  EXPECT_EQ(names, sortedExpected);

  for (const TUnRarHeaderData& h : rec.headers) {
    SCOPED_TRACE(h.FileName);
    const bool dir = h.FileName == "dir" || h.FileName == "dir\\sub" || h.FileName == "emptydir";
    EXPECT_EQ(h.IsDirectory, dir);
    EXPECT_EQ(h.ArcName, Fixture("basic.rar"));
    EXPECT_FALSE(h.Encrypted);
    EXPECT_FALSE(h.ContinuedNext);
    EXPECT_FALSE(h.ContinuedPrev);
    EXPECT_EQ(h.HostOS, "Unix");
    EXPECT_GT(h.FileTime, 40000.0);  // a date after 2009
    if (h.FileName == "hello.txt") {
      const std::string data = "Hello from Quarn\r\n";
      EXPECT_EQ(h.UnpSize, static_cast<int32_t>(data.size()));
      char crc[16];
      snprintf(crc, sizeof crc, "%X", Crc32(data));
      EXPECT_EQ(h.FileCRC, crc);
      EXPECT_EQ(h.Method, "pas de compression");  // too small: rar stores it
      EXPECT_EQ(h.UnpVerMajor * 10 + h.UnpVerMinor, 50);
    }
    if (h.FileName == "dir\\sub\\nested.bin") {
      EXPECT_EQ(h.UnpSize, 100000);
    }
  }
}

TEST(UnRarHeaders, DosDateTimeMatchesTheSystemConversion) {
  struct Case {
    WORD year, month, day, hour, minute, second;
  } cases[] = {{1980, 1, 1, 0, 0, 0}, {2000, 2, 29, 23, 59, 58}, {2024, 12, 31, 12, 30, 10}, {2107, 12, 31, 1, 2, 4}};
  for (const Case& c : cases) {
    const uint32_t dos = (static_cast<uint32_t>(((c.year - 1980) << 9) | (c.month << 5) | c.day) << 16) |
                         static_cast<uint32_t>((c.hour << 11) | (c.minute << 5) | (c.second / 2));
    SYSTEMTIME st{};
    st.wYear = c.year;
    st.wMonth = c.month;
    st.wDay = c.day;
    st.wHour = c.hour;
    st.wMinute = c.minute;
    st.wSecond = c.second;
    double expected = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &expected));
    double got = -1;
    ASSERT_TRUE(DosDateTimeToDateTime(dos, got)) << c.year;
    EXPECT_NEAR(got, expected, 1e-7) << c.year << "-" << c.month << "-" << c.day;
  }
  double unused = 0;
  EXPECT_FALSE(DosDateTimeToDateTime(0, unused));                                                   // month 0
  EXPECT_FALSE(DosDateTimeToDateTime(((((2023u - 1980u) << 9) | (2u << 5) | 29u) << 16), unused));  // 29 Feb 2023
  EXPECT_FALSE(DosDateTimeToDateTime(((((2023u - 1980u) << 9) | (3u << 5) | 1u) << 16) | (24u << 11), unused));
}

TEST(UnRarHeaders, MethodAndDictionaryOfACompressedFile) {
  TUnRar rar(nullptr);
  rar.FileName = Fixture("best.rar");
  Recorder rec;
  rec.Attach(rar);
  rar.ProcessArchive();
  ASSERT_EQ(rec.headers.size(), 1u);
  const TUnRarHeaderData& h = rec.headers[0];
  EXPECT_EQ(h.Method, "la meilleure");
  EXPECT_LT(h.PackSize, h.UnpSize / 10);
  EXPECT_FALSE(h.IsDirectory);
  // A power of two of at least 128 KB (RAR5 windows).
  EXPECT_GE(h.DictionarySize, 128 * 1024);
  EXPECT_EQ(h.DictionarySize & (h.DictionarySize - 1), 0);
}
