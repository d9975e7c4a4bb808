// The streamed paths: TZipReader (central directory as the index, the local
// walk as the fallback) and TZipWriter (linear, zip64 where needed).

#include <gtest/gtest.h>

#include <algorithm>

#include "ZipFile.h"
#include "ZipReader.h"
#include "ZipTestSupport.h"
#include "ZipWriter.h"

namespace {

// What a reader made of an archive: one line per member ("name=data" or
// "name: <error>"), "! <error>" for a walk that ended at damage, and whether
// the central directory was the index.
struct TWalk {
  bool Central = false;
  std::vector<std::string> Lines;
};

TWalk Walk(const std::string& archive) {
  TMemoryStream stream(archive);
  TZipReader reader(stream);
  TWalk walk;
  walk.Central = reader.UsesCentralDirectory();
  for (;;) {
    try {
      if (!reader.Next()) break;
    } catch (const Exception& e) {
      walk.Lines.push_back("! " + e.Message);
      break;
    }
    TMemoryStream out;
    try {
      reader.ExtractTo(out);
      walk.Lines.push_back(reader.Entry().Name + "=" + out.Data);
    } catch (const Exception& e) {
      walk.Lines.push_back(reader.Entry().Name + ": " + e.Message);
    }
  }
  return walk;
}

const std::string kAlpha = std::string(300, 'a') + "lpha";
const std::vector<RawMember> kMembers = {{"a.txt", kAlpha}, {"b.txt", "bravo", 0}, {"c.txt", "charlie"}};
const std::string kArchive = BuildArchive(kMembers);
const size_t kCentralAt = kArchive.find("PK\x01\x02");
const size_t kSecondLocal = kArchive.find("PK\x03\x04", 4);

std::string Changed(std::string s, size_t at, char c) {
  s[at] = c;
  return s;
}

TEST(ZipStreamReader, UsesTheCentralDirectoryAndFallsBackToTheLocalHeaders) {
  const std::vector<std::string> all = {"a.txt=" + kAlpha, "b.txt=bravo", "c.txt=charlie"};
  std::vector<RawMember> deferred = kMembers;
  for (RawMember& m : deferred) m.Flags = 8, m.Method = 8;
  const std::string streamed = BuildArchive(deferred);
  const std::string damagedSecond = Changed(kArchive, kSecondLocal + 1, 'X');
  struct {
    const char* What;
    std::string Archive;
    bool Central;
    std::vector<std::string> Lines;
  } cases[] = {
      {"intact", kArchive, true, all},
      // Readers that index by the directory ignore the local sizes.
      {"first local compressed size changed", Changed(kArchive, 18, '\x7F'), true, all},
      {"second local signature damaged",
       damagedSecond,
       true,
       {"a.txt=" + kAlpha, "b.txt: Cannot extract \"b.txt\": its local header is missing or damaged.",
        "c.txt=charlie"}},
      {"data before the archive", "MZ\x90\x00\x03" + kArchive, true, all},
      {"cut before the central directory", kArchive.substr(0, kCentralAt), false, all},
      {"central directory damaged", Changed(kArchive, kCentralAt + 2, 'X'), false, all},
      {"sizes after the data, no directory", streamed.substr(0, streamed.find("PK\x01\x02")), false, all},
      {"second local signature and the directory damaged",
       Changed(damagedSecond, kCentralAt + 2, 'X'),
       false,
       {"a.txt=" + kAlpha,
        "! The archive is damaged after the member \"a.txt\": the members after it cannot be found. The "
        "archive lists 3 members; 1 were found."}},
  };
  for (const auto& c : cases) {
    const TWalk walk = Walk(c.Archive);
    EXPECT_EQ(walk.Central, c.Central) << c.What;
    EXPECT_EQ(walk.Lines, c.Lines) << c.What;
  }
  EXPECT_THROW(Walk("just some text, no zip at all"), EZipFileError);
}

TEST(ZipStreamReader, AFailedOrStoppedMemberLeavesNoFile) {
  ScratchDir dir;
  RawMember bad{"bad.txt", std::string(100000, 'x')};
  bad.CrcOverride = 1234;
  TMemoryStream stream(BuildArchive({bad, {"good.txt", std::string(600000, 'g')}}));
  TZipReader reader(stream);
  ASSERT_TRUE(reader.Next());
  EXPECT_THROW(reader.ExtractToFile(dir.File("bad.txt")), EZipFileCRCError);
  ASSERT_TRUE(reader.Next());
  std::vector<TZipProgress> told;
  reader.OnProgress = [&](const TZipProgress& p) {
    told.push_back(p);
    return told.size() < 2;
  };
  EXPECT_THROW(reader.ExtractToFile(dir.File("good.txt")), EAbort);
  EXPECT_EQ(dir.List(), std::vector<std::string>());
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[1].Member, "good.txt");
  EXPECT_LT(told[0].BytesDone, told[1].BytesDone);
  EXPECT_EQ(told[1].BytesTotal, static_cast<uint64_t>(stream.GetSize()));
}

// On worker threads too, a member that fails ends the extraction as one
// member after another would: nothing after it stays on disk, even what the
// workers wrote ahead.
TEST(ZipStreamReader, AFailureEndsAParallelExtractionInOrder) {
  ScratchDir dir;
  std::vector<RawMember> members;
  for (int i = 0; i < 20; ++i) members.push_back({"m" + std::to_string(i + 10), std::string(20000 + i, 'a' + i)});
  members[2].CrcOverride = 1234;
  WriteWholeFile(dir.File("a.zip"), BuildArchive(members));
  TZipReader reader(dir.File("a.zip"));
  const auto pathFor = [&](const TZipEntry& e) { return dir.File(e.Name); };
  const auto done = [](const TZipEntry&, const std::exception_ptr& error) {
    if (error) std::rethrow_exception(error);
  };
  EXPECT_THROW(reader.ExtractAll(pathFor, done, 4), EZipFileCRCError);
  std::vector<std::string> left = dir.List();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.zip", "m10", "m11"}));
}

// Members that share their data, as a zip bomb's do, are not offered: the
// index ends before the first member whose data run into another member's
// local header or into the directory, and the members from there on are
// named. Members that touch, or keep a data descriptor between them, do not
// overlap.
TEST(ZipStreamReader, EndsBeforeMembersThatShareTheirData) {
  const std::vector<RawMember> touching = {{"empty", "", 0}, {"described", "charlie", 8, 8}, {"last", "x", 0}};
  struct Case {
    const char* Name;
    std::string Archive;
    std::vector<std::string> Offered;
    size_t Refused;
  };
  const Case cases[] = {
      {"full overlap", FullOverlapZip(40, 1 << 20), {}, 40},
      {"full overlap after an honest member", FullOverlapZip(40, 1 << 20, true), {"readme.txt"}, 40},
      {"quoted overlap", QuotedOverlapZip(20, 1 << 20), {}, 20},
      {"members that touch", BuildArchive(touching), {"empty", "described", "last"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream stream(c.Archive);
    TZipReader reader(stream);
    std::vector<std::string> offered;
    while (reader.Next()) offered.push_back(reader.Entry().Name);
    EXPECT_EQ(offered, c.Offered);
    EXPECT_EQ(reader.MembersFromOverlap().size(), c.Refused);
  }
}

TEST(ZipStreamWriter, WritesWhatTheModelWritesWithoutZip64) {
  const uint32_t time = 0x5A8B6C21;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty", ""}, {"abc.txt", "abc"}, {"dir/big.bin", RandomBytes(70000, 3) + std::string(90000, 'q')}};
  TZipFile model;
  for (const auto& f : files) {
    model.AddFile(f.first, 0);
    model.SetUncompressed(model.Count() - 1, f.second);
    model.LocalFiles.back().LastModDateTime = model.CentralDirectory.back().LastModDateTime = time;
  }
  TMemoryStream expected;
  model.SaveToStream(expected);
  for (bool zlib : {true, false}) {
    TMemoryStream out;
    TZipWriterOptions options;
    options.Zlib = zlib;
    options.Time = time;
    TZipWriter writer(out, options);
    for (const auto& f : files) writer.AddMember(f.first, f.second);
    writer.Finish();
    EXPECT_EQ(writer.BytesWritten(), out.Data.size());
    if (zlib) {
      EXPECT_EQ(out.Data, expected.Data);
    }
    EXPECT_EQ(out.Data.find("PK\x06\x06"), std::string::npos);
    TZipFile back;
    out.SetPosition(0);
    back.LoadFromStream(out);
    ASSERT_EQ(back.Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(back.GetUncompressed(i), files[i].second);
  }
}

TEST(ZipStreamWriter, AFailedWriteLeavesTheMembersBeforeIt) {
  // A "disk" that fills up inside the second member.
  TLimitedStream out(3000);
  TZipWriter writer(out);
  writer.AddMember("first.txt", "fits");
  EXPECT_THROW(writer.AddMember("second.bin", RandomBytes(5000, 1)), EWriteError);
  EXPECT_THROW(writer.AddMember(std::string(70000, 'n'), ""), EZipFileError);
  writer.Finish();
  const TWalk walk = Walk(out.Data);
  EXPECT_TRUE(walk.Central);
  EXPECT_EQ(walk.Lines, std::vector<std::string>{"first.txt=fits"});
}

TEST(ZipStreamWriter, MoreThan65535MembersTakeTheZip64EndRecords) {
  TMemoryStream out;
  TZipWriter writer(out);
  const int count = 70000;
  for (int i = 0; i < count; ++i) writer.AddMember(std::to_string(i), i % 1000 ? "" : "x");
  writer.Finish();
  const size_t end = out.Data.rfind("PK\x05\x06");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(out.Data.substr(end + 8, 4), "\xFF\xFF\xFF\xFF");  // the counts defer to zip64
  EXPECT_EQ(out.Data.substr(end - 20, 4), "PK\x06\x07");
  EXPECT_EQ(out.Data.substr(end - 76, 4), "PK\x06\x06");
  out.SetPosition(0);
  TZipReader reader(out);
  EXPECT_TRUE(reader.UsesCentralDirectory());
  int n = 0;
  TMemoryStream data;
  while (reader.Next()) {
    EXPECT_EQ(reader.Entry().Name, std::to_string(n));
    if (n % 7919 == 0) reader.ExtractTo(data);
    ++n;
  }
  EXPECT_EQ(n, count);
  EXPECT_EQ(data.Data, "x");
}

TEST(ZipRecords, Zip64ExtraHoldsOnlyTheMarkedFieldsInOrder) {
  const TZip64Values v{0x123456789ull, 0x987654321ull, 0x500000000ull};
  const TZip64Fields cases[] = {{true, true, true}, {false, true, false}, {true, false, true}, {false, false, true}};
  for (const TZip64Fields& f : cases) {
    const std::string extra = std::string("\x55\x54\x01\x00\x07", 5) + Zip64Extra(f, v);  // after another block
    TZip64Values back;
    ASSERT_TRUE(ReadZip64Extra(extra, f, back));
    EXPECT_EQ(extra.size(), 5 + 4 + 8u * (f.UncompressedSize + f.CompressedSize + f.LocalHeaderOffset));
    if (f.UncompressedSize) {
      EXPECT_EQ(back.UncompressedSize, v.UncompressedSize);
    }
    if (f.CompressedSize) {
      EXPECT_EQ(back.CompressedSize, v.CompressedSize);
    }
    if (f.LocalHeaderOffset) {
      EXPECT_EQ(back.LocalHeaderOffset, v.LocalHeaderOffset);
    }
    // A field the block does not hold.
    EXPECT_FALSE(ReadZip64Extra(extra.substr(0, extra.size() - 8), f, back));
  }
}

}  // namespace
