// Building archives in memory and writing them out.

#include <gtest/gtest.h>

#include "ZipFile.h"
#include "ZipTestSupport.h"
#include "Zippit.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Save(TZipFile& zip) {
  TMemoryStream stream;
  zip.SaveToStream(stream);
  return stream.Data;
}

TEST(ZipWriter, CompressesAsZlibDoesWithoutHeaderOrTrailer) {
  TZipFile zip;
  zip.AddFile("empty", 0);
  zip.SetUncompressed(0, "");
  zip.AddFile("abc", 0);
  zip.SetUncompressed(1, "abc");
  EXPECT_EQ(Hex(zip.LocalFiles[0].CompressedData), "03 00");
  EXPECT_EQ(zip.LocalFiles[0].CompressedSize, 2u);
  EXPECT_EQ(zip.LocalFiles[0].UncompressedSize, 0u);
  EXPECT_EQ(zip.LocalFiles[0].CRC32, 0u);
  EXPECT_EQ(Hex(zip.LocalFiles[1].CompressedData), "4B 4C 4A 06 00");
  EXPECT_EQ(zip.LocalFiles[1].UncompressedSize, 3u);
  EXPECT_EQ(zip.LocalFiles[1].CRC32, 0x352441C2u);
  EXPECT_EQ(zip.GetUncompressed(0), "");
  EXPECT_EQ(zip.GetUncompressed(1), "abc");
}

TEST(ZipWriter, WritesTheExactBytesOfAOneMemberArchive) {
  TZipFile zip;
  zip.AddFile("a.txt", 0);
  zip.SetUncompressed(0, "abc");
  const std::string bytes = Save(zip);
  ASSERT_EQ(bytes.size(), 113u);

  // The DOS time and date are those of the member; everything else is fixed.
  const uint32_t t = zip.LocalFiles[0].LastModDateTime;
  std::string dos;
  Put32(dos, t);
  const std::string T = Hex(dos);
  EXPECT_EQ(Hex(bytes.substr(0, 40)), "50 4B 03 04 14 00 00 00 08 00 " + T +
                                          " C2 41 24 35 05 00 00 00 03 00 00 00 05 00 00 00 "
                                          "61 2E 74 78 74 4B 4C 4A 06 00");
  EXPECT_EQ(Hex(bytes.substr(40, 51)), "50 4B 01 02 14 00 14 00 00 00 08 00 " + T +
                                           " C2 41 24 35 05 00 00 00 03 00 00 00 05 00 "
                                           "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 61 2E 74 78 74");
  EXPECT_EQ(Hex(bytes.substr(91)), "50 4B 05 06 00 00 00 00 01 00 01 00 33 00 00 00 28 00 00 00 00 00");
  // Saving again without changes gives the same bytes.
  EXPECT_EQ(Save(zip), bytes);
}

TEST(ZipWriter, LaysOutRecordsForNamesOfAnyLength) {
  for (size_t n : {1u, 17u, 300u}) {
    TZipFile zip;
    zip.AddFile(std::string(n, 'n'), 0x20);
    zip.SetUncompressed(0, "");
    const std::string bytes = Save(zip);
    EXPECT_EQ(bytes.size(), (30 + n + 2) + (46 + n) + 22) << n;
    EXPECT_EQ(zip.EndOfCentralDirectory.CentralDirOffset, 32 + n);
    EXPECT_EQ(zip.EndOfCentralDirectory.CentralDirSize, 46 + n);
    EXPECT_EQ(zip.CentralDirectory[0].ExternalAttributes, 0x20u);  // kept by SetUncompressed
  }
}

TEST(ZipWriter, SavedArchivesReadBackTheSame) {
  TZipFile zip;
  const std::vector<std::pair<std::string, std::string>> members = {
      {"folder/", ""},
      {"folder/text.txt", "line one\r\nline two\r\n"},
      {"random.bin", RandomBytes(150000, 11)},
      {"repeats.txt", std::string(700000, 'r') + RandomBytes(70000, 12)},
  };
  for (const auto& m : members) {
    zip.AddFile(m.first, 0);
    zip.SetUncompressed(zip.Count() - 1, m.second);
  }
  TMemoryStream stream;
  stream.Data = "PREFIX!!";  // the archive goes at the stream's position
  stream.SetPosition(8);
  zip.SaveToStream(stream);
  EXPECT_EQ(stream.Data.substr(0, 8), "PREFIX!!");
  EXPECT_EQ(zip.CentralDirectory[0].LocalHeaderOffset, 8u);

  TZipFile back;
  stream.SetPosition(8);
  back.LoadFromStream(stream);
  ASSERT_EQ(back.Count(), static_cast<int32_t>(members.size()));
  for (int32_t i = 0; i < back.Count(); ++i) {
    EXPECT_EQ(back.GetName(i), members[i].first);
    EXPECT_EQ(back.GetUncompressed(i), members[i].second);
    EXPECT_EQ(back.LocalFiles[i].CRC32, ReferenceCrc32(members[i].second));
    EXPECT_EQ(back.CentralDirectory[i].LocalHeaderOffset, zip.CentralDirectory[i].LocalHeaderOffset);
  }
  EXPECT_EQ(back.EndOfCentralDirectory.TotalEntries, members.size());
}

TEST(ZipWriter, RejectsIndicesOutOfRange) {
  TZipFile zip;
  zip.AddFile("a", 0);
  for (int32_t index : {-1, 1, 5}) {
    try {
      zip.SetUncompressed(index, "data");
      ADD_FAILURE() << index;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, "Index out of range.");
    }
  }
}

TEST(ZipWriter, StampsInDosForm) {
  EXPECT_EQ(DosDateTime(1979, 12, 31, 23, 59, 59), 0u);
  EXPECT_EQ(DosDateTime(2108, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(DosDateTime(1980, 1, 1, 0, 0, 0), 33u << 16);
  // 2026-12-07 21:43:31: seconds are halved, the odd one dropped.
  const uint32_t value = DosDateTime(2026, 12, 7, 21, 43, 31);
  EXPECT_EQ(value & 0xFFFF, 15u + 43u * 32 + 21u * 2048);
  EXPECT_EQ(value >> 16, 7u + 12u * 32 + 46u * 512);
  EXPECT_EQ(DosDateTime(2107, 12, 31, 23, 59, 58) >> 16, 31u + 12u * 32 + 127u * 512);

  TZipFile zip;
  zip.AddFile("now", 0);
  zip.SetUncompressed(0, "x");
  const uint32_t stamp = zip.LocalFiles[0].LastModDateTime;
  const uint32_t now = DosDateTimeNow();
  EXPECT_NE(stamp, 0u);
  EXPECT_LE(stamp, now);
  EXPECT_EQ(stamp >> 16, now >> 16);  // same day, barring a midnight between
}

TEST(ZipWriter, RefusesToWriteWhatTheFormatCannotHold) {
  {
    TZipFile zip;
    for (int i = 0; i < 65536; ++i) zip.AddFile("f", 0);
    TMemoryStream stream;
    EXPECT_THROW(zip.SaveToStream(stream), EZipFileError);
    EXPECT_EQ(stream.GetSize(), 0);  // nothing written
    zip.LocalFiles.pop_back();
    zip.CentralDirectory.pop_back();
    zip.SaveToStream(stream);  // 65,535 is the most the end record can count
    EXPECT_EQ(zip.EndOfCentralDirectory.TotalEntries, 65535);
  }
  {
    TZipFile zip;
    EXPECT_THROW(zip.AddFile(std::string(65536, 'x'), 0), EZipFileError);
    EXPECT_EQ(zip.Count(), 0);
    zip.AddFile(std::string(65535, 'x'), 0);
    EXPECT_EQ(zip.Count(), 1);
  }
  {
    TZipFile zip;
    zip.Comment = std::string(70000, 'c');
    TMemoryStream stream;
    EXPECT_THROW(zip.SaveToStream(stream), EZipFileError);
    EXPECT_EQ(stream.GetSize(), 0);
  }
  {
    // A rename without new data leaves the header out of step with the name;
    // writing it would give a corrupt archive.
    TZipFile zip;
    zip.AddFile("a.txt", 0);
    zip.SetUncompressed(0, "abc");
    zip.SetName(0, "longer-name.txt");
    TMemoryStream stream;
    EXPECT_THROW(zip.SaveToStream(stream), EZipFileError);
    EXPECT_EQ(stream.GetSize(), 0);
    zip.SetUncompressed(0, "abc");
    zip.SaveToStream(stream);
    TZipFile back;
    stream.SetPosition(0);
    back.LoadFromStream(stream);
    EXPECT_EQ(back.GetName(0), "longer-name.txt");
  }
}

TEST(ZipWriter, EveryShortWriteIsAnError) {
  TZipFile zip;
  zip.AddFile("one.txt", 0);
  zip.SetUncompressed(0, RandomBytes(1000, 4));
  zip.AddFile("two.txt", 0);
  zip.SetUncompressed(1, "second");
  zip.Comment = "comment";
  const int64_t full = static_cast<int64_t>(Save(zip).size());
  for (int64_t limit : {int64_t(0), int64_t(3), int64_t(30), int64_t(500), full - 50, full - 1}) {
    TLimitedStream stream(limit);
    try {
      zip.SaveToStream(stream);
      ADD_FAILURE() << "a save cut at " << limit << " bytes passed";
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.Message, "Stream write error");
    }
  }
  TLimitedStream roomy(full);
  zip.SaveToStream(roomy);
  EXPECT_EQ(roomy.GetSize(), full);
}

TEST(ZipMemberNames, AreRelativeWithForwardSlashes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\Users\\me\\a.txt", "Users/me/a.txt"},
      {"d:\\a.txt", "a.txt"},
      {"\\\\server\\share\\dir\\a.txt", "server/share/dir/a.txt"},
      {"\\\\?\\C:\\long\\path.txt", "long/path.txt"},
      {"\\\\?\\UNC\\server\\share\\f.txt", "server/share/f.txt"},
      {"\\rooted\\b.txt", "rooted/b.txt"},
      {"relative\\c.txt", "relative/c.txt"},
      {"/unix/style/d.txt", "unix/style/d.txt"},
      {"C:\\a\\.\\b\\..\\c.txt", "a/c.txt"},
      {"C:\\..\\..\\up.txt", "up.txt"},
      {"C:\\double\\\\sep.txt", "double/sep.txt"},
      {"plain.txt", "plain.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(ZipMemberName(c.first), c.second) << c.first;
}

}  // namespace
