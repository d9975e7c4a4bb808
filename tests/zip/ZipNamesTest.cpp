// Member names: decoded from archives of other tools (UTF-8 flag, Unicode Path
// field, the system's OEM code page), invalid bytes, and the form the writer
// stores.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "ZipFile.h"
#include "ZipNames.h"
#include "ZipTestSupport.h"

namespace {

const std::vector<std::string> kUnicodeNames = {"café.txt",
                                                "Фото/снимок.txt",
                                                "日本語.txt",
                                                "中文.txt",
                                                "עברית.txt",
                                                "emoji_😀.txt",
                                                "Ελληνικά.txt",
                                                "e\xCC\x81"
                                                "cole.txt",  // e and a combining acute accent
                                                "plain.txt"};

// The decoded names of an archive's members, sorted. The central header,
// decoded with its own flags and extra field, must give the same name.
std::vector<std::string> DecodedNames(const std::string& archive) {
  TZipFile zip;
  zip.LoadFromFile(FixtureFile(archive));
  std::vector<std::string> names;
  for (int32_t i = 0; i < zip.Count(); ++i) {
    const TLocalFile& local = zip.LocalFiles[i];
    const TFileHeader& central = zip.CentralDirectory[i];
    names.push_back(DecodeZipName(local.FileName, local.Flags, local.ExtraField));
    EXPECT_EQ(DecodeZipName(central.FileName, central.Flags, central.ExtraField), names.back()) << archive;
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// An Info-ZIP Unicode Path (or Comment) field for a stored name Raw.
std::string UnicodeField(uint16_t id, const std::string& raw, const std::string& text, uint8_t version = 1) {
  std::string field;
  Put16(field, id);
  Put16(field, static_cast<uint16_t>(5 + text.size()));
  field += static_cast<char>(version);
  Put32(field, ReferenceCrc32(raw));
  return field + text;
}

TEST(ZipNames, DecodesTheNamesOfOtherTools) {
  ASSERT_FALSE(FixtureFile("").empty()) << "QUARN_ZIP_FIXTURES is not set";
  for (const char* archive : {"names-utf8-flag.zip", "names-7zip.zip", "names-unicode-path.zip"}) {
    SCOPED_TRACE(archive);
    EXPECT_EQ(DecodedNames(archive), Sorted(kUnicodeNames));
  }
}

// The archive in the system's OEM code page. ctest runs this test a second
// time with a Russian locale, where Wine's OEM code page is 866, and tells it
// the page to expect.
TEST(ZipNames, DecodesLegacyNamesInTheSystemOemCodePage) {
  ASSERT_FALSE(FixtureFile("").empty()) << "QUARN_ZIP_FIXTURES is not set";
  if (const char* expected = std::getenv("QUARN_EXPECT_OEM_CODE_PAGE")) {
    ASSERT_EQ(SystemOemCodePage(), static_cast<unsigned>(std::atoi(expected)));
  }
  struct {
    unsigned Page;
    const char* Archive;
    std::vector<std::string> Names;
  } const cases[] = {
      {437, "names-cp437.zip", {"café.txt", "Ñandú/año.txt", "naïve ½.txt", "plain.txt"}},
      {866, "names-cp866.zip", {"Фото/снимок.txt", "Привет.txt", "plain.txt"}},
  };
  for (const auto& c : cases) {
    if (c.Page != SystemOemCodePage()) continue;
    EXPECT_EQ(DecodedNames(c.Archive), Sorted(c.Names));
    return;
  }
  GTEST_SKIP() << "no archive in the system's OEM code page " << SystemOemCodePage();
}

TEST(ZipNames, InvalidBytesBecomeVisibleEscapesAndStaleFieldsAreIgnored) {
  const std::string x = "x.txt";
  struct {
    const char* What;
    std::string Raw;
    uint16_t Flags;
    std::string Extra;
    std::string Name;
  } const cases[] = {
      {"a Latin-1 byte under the UTF-8 flag", "caf\xE9.txt", kZipFlagUtf8, "", "caf%E9.txt"},
      {"an overlong slash and dot", "\xC0\xAF..\xC0\xAE", kZipFlagUtf8, "", "%C0%AF..%C0%AE"},
      {"a surrogate", "a\xED\xA0\x80z", kZipFlagUtf8, "", "a%ED%A0%80z"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", kZipFlagUtf8, "", "%F4%90%80%80"},
      {"a sequence cut by the end", "end\xE6\x97", kZipFlagUtf8, "", "end%E6%97"},
      {"a stray continuation byte",
       "\x80"
       "\xE6\x97\xA5",
       kZipFlagUtf8, "", "%80日"},
      {"a Unicode Path field of another name", x, 0, UnicodeField(0x7075, "y.txt", "other.txt"), x},
      {"a Unicode Path field of an unknown version", x, 0, UnicodeField(0x7075, x, "other.txt", 2), x},
      {"a Unicode Path field whose text is not UTF-8", x, 0, UnicodeField(0x7075, x, "\xFF.txt"), x},
      {"a Unicode Path field cut short", x, 0, UnicodeField(0x7075, x, "other.txt").substr(0, 8), x},
      {"a Unicode Comment field on a name", x, 0, UnicodeField(0x6375, x, "other.txt"), x},
      {"a Unicode Path field after another field", x, 0,
       std::string("\x01\x02\x01\x00!", 5) + UnicodeField(0x7075, x, "é"), "é"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EXPECT_EQ(DecodeZipName(c.Raw, c.Flags, c.Extra), c.Name);
  }
  // Comments read their own field, and only it.
  EXPECT_EQ(DecodeZipComment(x, 0, UnicodeField(0x6375, x, "ça")), "ça");
  EXPECT_EQ(DecodeZipComment(x, 0, UnicodeField(0x7075, x, "ça")), x);
}

TEST(ZipNames, StoresAsciiNamesAsTheyAreAndOthersAsUtf8WithTheFlag) {
  struct {
    std::string Name;
    std::string Bytes;
    uint16_t Flags;
  } const cases[] = {
      {"dir/a b~.txt", "dir/a b~.txt", 0},
      {"Фото/снимок.txt", "Фото/снимок.txt", kZipFlagUtf8},
      {"bad\xFF.txt", "bad%FF.txt", kZipFlagUtf8},  // never stored as invalid UTF-8 under the flag
  };
  for (const auto& c : cases) {
    const TZipStoredName stored = EncodeZipName(c.Name);
    EXPECT_EQ(stored.Bytes, c.Bytes) << c.Name;
    EXPECT_EQ(stored.Flags, c.Flags) << c.Name;
    EXPECT_EQ(stored.VersionMadeBy, c.Flags ? kZipVersionMadeByNtfs : 0) << c.Name;
  }
  for (const std::string& name : kUnicodeNames) {
    const TZipStoredName stored = EncodeZipName(name);
    EXPECT_EQ(DecodeZipName(stored.Bytes, stored.Flags, ""), name);
  }
}

}  // namespace
