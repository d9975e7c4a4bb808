// Loading archives and extracting members: layouts made by other writers,
// damaged and hostile input.

#include <gtest/gtest.h>

#include "ZipFile.h"
#include "ZipReader.h"
#include "ZipTestSupport.h"

namespace {

TZipFile Load(const std::string& bytes) {
  TZipFile zip;
  TMemoryStream stream(bytes);
  zip.LoadFromStream(stream);
  return zip;
}

// Runs f and returns the message of the exception of type E it raises.
template <typename E, typename F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message;
  }
  ADD_FAILURE() << "expected an exception";
  return "";
}

TEST(ZipCrc, MatchesTheBitwiseReference) {
  EXPECT_EQ(ZipCRC32(""), 0u);
  EXPECT_EQ(ZipCRC32("abc"), 0x352441C2u);
  EXPECT_EQ(ZipCRC32("123456789"), 0xCBF43926u);
  for (size_t n : {1u, 7u, 64u, 1000u, 65537u}) {
    const std::string data = RandomBytes(n, static_cast<uint32_t>(n));
    EXPECT_EQ(ZipCRC32(data), ReferenceCrc32(data)) << n;
  }
  // Computing in pieces gives the same value as in one go.
  const std::string data = RandomBytes(5000, 9);
  const uint32_t first = ZipCRC32(data.data(), 1234);
  EXPECT_EQ(ZipCRC32(data.data() + 1234, data.size() - 1234, first), ZipCRC32(data));
}

TEST(ZipReader, ReadsMembersCommentsAndNamesByteForByte) {
  RawMember folder{"docs/", ""};
  RawMember text{"docs/readme.txt", "Hello, zip!\r\n", 8};
  text.Comment = "member comment";
  text.Extra = std::string("\x55\x54\x05\x00\x01\x00\x00\x00\x00", 9);
  RawMember odd{std::string("na\xE9me\0x", 7), std::string(1000, 'z')};
  const TZipFile zip = Load(BuildArchive({folder, text, odd}, "archive comment"));

  ASSERT_EQ(zip.Count(), 3);
  EXPECT_EQ(zip.GetName(0), "docs/");
  EXPECT_EQ(zip.GetName(1), "docs/readme.txt");
  EXPECT_EQ(zip.GetName(2), std::string("na\xE9me\0x", 7));
  EXPECT_EQ(zip.GetUncompressed(0), "");
  EXPECT_EQ(zip.GetUncompressed(1), "Hello, zip!\r\n");
  EXPECT_EQ(zip.GetUncompressed(2), std::string(1000, 'z'));
  EXPECT_EQ(zip.Comment, "archive comment");
  EXPECT_EQ(zip.CentralDirectory[1].FileComment, "member comment");
  EXPECT_EQ(zip.LocalFiles[1].ExtraField, text.Extra);
  EXPECT_EQ(zip.EndOfCentralDirectory.TotalEntries, 3);
  EXPECT_EQ(zip.CentralDirectory[2].LocalHeaderOffset,
            zip.LocalFiles[0].FileName.size() + 30 + zip.LocalFiles[0].CompressedData.size() +
                zip.LocalFiles[1].FileName.size() + 30 + 9 + zip.LocalFiles[1].CompressedData.size());
  // Extraction leaves the model as it was.
  EXPECT_EQ(zip.GetUncompressed(1), zip.GetUncompressed(1));
}

TEST(ZipReader, FindsTheFirstLocalHeaderInFourByteSteps) {
  const std::string archive = BuildArchive({{"a.txt", "first"}, {"b.txt", "second"}});
  EXPECT_EQ(Load("QRN!" + archive).Count(), 2);  // a prefix of 4 bytes
  EXPECT_EQ(Load(std::string(12, '\0') + archive).Count(), 2);
  EXPECT_EQ(Load("x" + archive).Count(), 0);  // misaligned: never seen
  EXPECT_EQ(Load("").Count(), 0);
  EXPECT_EQ(Load("not a zip file at all, just text").Count(), 0);
  // A file that holds only an end record has no members.
  EXPECT_EQ(Load(BuildArchive({})).Count(), 0);
}

TEST(ZipReader, StartsAtTheStreamPositionAndEmptiesTheModelFirst) {
  const std::string archive = BuildArchive({{"a.txt", "first"}});
  TMemoryStream stream("HEAD" + archive);
  stream.SetPosition(4);
  TZipFile zip;
  zip.AddFile("left over", 0);
  zip.LoadFromStream(stream);
  ASSERT_EQ(zip.Count(), 1);
  EXPECT_EQ(zip.GetName(0), "a.txt");
  EXPECT_EQ(zip.CentralDirectory.size(), 1u);
}

TEST(ZipReader, ExtractsStoredMembersAndChecksTheirCrc) {
  const std::string random = RandomBytes(3000, 1);
  TZipFile zip = Load(BuildArchive({{"stored.bin", random, 0}, {"empty.bin", "", 0}}));
  EXPECT_EQ(zip.GetUncompressed(0), random);
  EXPECT_EQ(zip.GetUncompressed(1), "");

  RawMember bad{"bad.bin", random, 0};
  bad.CrcOverride = ReferenceCrc32(random) ^ 1;
  zip = Load(BuildArchive({bad}));
  EXPECT_EQ(MessageOf<EZipFileCRCError>([&] { zip.GetUncompressed(0); }), "CRC Error in \"bad.bin\".");
}

TEST(ZipReader, RefusesEncryptedMembersAndUnknownMethodsByName) {
  RawMember encrypted{"secret.txt", "top secret", 8, 1};
  // The name holds printf directives: it must be shown, never read as a format.
  RawMember bzip2{"packed %s%n%s.txt", "some text", 12};
  bzip2.DataOverride = &bzip2.Content;  // any bytes: they must never be decoded
  RawMember emptyEncrypted{"nothing.txt", "", 8, 1};
  const std::string archive = BuildArchive({encrypted, bzip2, emptyEncrypted, {"plain.txt", "ok"}});
  const TZipFile zip = Load(archive);
  ASSERT_EQ(zip.Count(), 4);

  const std::string encryptedText = MessageOf<EZipFileError>([&] { zip.GetUncompressed(0); });
  EXPECT_NE(encryptedText.find("\"secret.txt\""), std::string::npos) << encryptedText;
  EXPECT_NE(encryptedText.find("encrypted"), std::string::npos) << encryptedText;
  const std::string methodText = MessageOf<EZipFileError>([&] { zip.GetUncompressed(1); });
  EXPECT_EQ(methodText, "Cannot extract \"packed %s%n%s.txt\": compression method 12 is not supported.");
  TMemoryStream stream(archive), out;
  TZipReader streamed(stream);
  ASSERT_TRUE(streamed.Next() && streamed.Next());
  EXPECT_EQ(MessageOf<EZipFileError>([&] { streamed.ExtractTo(out); }), methodText);
  // An empty member has nothing to decrypt or decode.
  EXPECT_EQ(zip.GetUncompressed(2), "");
  // One bad member does not spoil the others.
  EXPECT_EQ(zip.GetUncompressed(3), "ok");
}

TEST(ZipReader, ReadsMembersWhoseSizesFollowTheirData) {
  const std::string big = RandomBytes(200000, 5) + std::string(300000, 'q');
  RawMember withSignature{"one.txt", "descriptor with signature", 8, 8};
  RawMember withoutSignature{"two.bin", big, 8, 8};
  withoutSignature.DescriptorSignature = false;
  RawMember after{"three.txt", "a normal member after them"};
  const TZipFile zip = Load(BuildArchive({withSignature, withoutSignature, after}, "end"));

  ASSERT_EQ(zip.Count(), 3);
  EXPECT_EQ(zip.GetUncompressed(0), withSignature.Content);
  EXPECT_EQ(zip.GetUncompressed(1), big);
  EXPECT_EQ(zip.GetUncompressed(2), after.Content);
  EXPECT_EQ(zip.LocalFiles[1].UncompressedSize, big.size());
  EXPECT_EQ(zip.LocalFiles[1].CompressedSize, zip.LocalFiles[1].CompressedData.size());
  EXPECT_EQ(zip.CentralDirectory[2].FileName, "three.txt");
  EXPECT_EQ(zip.Comment, "end");
}

TEST(ZipReader, ADescriptorWithTheWrongCrcFailsTheCrcTest) {
  RawMember lying{"lying.txt", "the data", 8, 8};
  lying.CrcOverride = 0x12345678;
  const TZipFile zip = Load(BuildArchive({lying, {"next.txt", "next"}}));
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_THROW(zip.GetUncompressed(0), EZipFileCRCError);
  EXPECT_EQ(zip.GetUncompressed(1), "next");
}

TEST(ZipReader, MembersWithSizesAfterDataThatCannotBeDelimitedFailToLoad) {
  struct Case {
    RawMember member;
    const char* reason;
  };
  const std::string garbage = "this is not deflate data \xFF\xFF\xFF";
  RawMember damaged{"damaged.txt", "x", 8, 8};
  damaged.DataOverride = &garbage;
  std::vector<Case> cases = {
      {{"stored.txt", "plain", 0, 8}, "end cannot be found"},
      {{"crypt.txt", "secret", 8, 9}, "encrypted"},
      {{"lzma.txt", "abc", 14, 8}, "method 14"},
      {damaged, "damaged"},
  };
  // Without the descriptor's signature only deflate data can be delimited.
  for (size_t i = 0; i < 3; ++i) cases[i].member.DescriptorSignature = false;
  for (const Case& c : cases) {
    TZipFile zip;
    TMemoryStream stream(BuildArchive({{"first.txt", "kept"}, c.member}));
    const std::string text = MessageOf<EZipFileError>([&] { zip.LoadFromStream(stream); });
    EXPECT_NE(text.find("\"" + c.member.Name + "\""), std::string::npos) << text;
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    // What came before the member stays readable.
    ASSERT_GE(zip.Count(), 1) << c.member.Name;
    EXPECT_EQ(zip.GetUncompressed(0), "kept");
  }
}

TEST(ZipReader, OtherMembersWithSizesAfterTheirDataEndAtTheirDescriptor) {
  // Stored data that contain a descriptor signature which does not fit them.
  std::string tricky = "before PK\x07\x08";
  Put32(tricky, 0x11111111);
  Put32(tricky, 3);
  Put32(tricky, 3);
  tricky += " after";
  RawMember stored{"stored.txt", tricky, 0, 8};
  RawMember empty{"empty.txt", "", 0, 8};  // as Info-ZIP writes an empty file to a pipe
  RawMember encrypted{"crypt.txt", "secret", 8, 9};
  RawMember lzma{"lzma.txt", "abc", 14, 8};
  lzma.DataOverride = &lzma.Content;
  const TZipFile zip = Load(BuildArchive({stored, empty, encrypted, lzma, {"last.txt", "last"}}));

  ASSERT_EQ(zip.Count(), 5);
  EXPECT_EQ(zip.GetUncompressed(0), tricky);
  EXPECT_EQ(zip.GetUncompressed(1), "");
  EXPECT_NE(MessageOf<EZipFileError>([&] { zip.GetUncompressed(2); }).find("\"crypt.txt\": the member is encrypted"),
            std::string::npos);
  EXPECT_NE(MessageOf<EZipFileError>([&] { zip.GetUncompressed(3); }).find("method 14"), std::string::npos);
  EXPECT_EQ(zip.GetUncompressed(4), "last");
}

TEST(ZipReader, ReportsDamagedDataClearly) {
  const std::string content = RandomBytes(100, 3) + std::string(5000, 'k');
  RawMember corrupt{"corrupt.bin", content};
  const std::string broken = "\xFF\xFF\xFF\xFF garbage that is no deflate stream";
  corrupt.DataOverride = &broken;
  RawMember shortData{"short.bin", content};
  const std::string deflated = RawDeflate(content);
  const std::string cut = deflated.substr(0, deflated.size() / 2);
  shortData.DataOverride = &cut;
  RawMember wrongCrc{"wrong.bin", content};
  wrongCrc.CrcOverride = 7;
  RawMember zeroCrcButShort{"zero.bin", "abc"};
  zeroCrcButShort.CrcOverride = 0;
  zeroCrcButShort.UncompressedOverride = 10;  // claims more than the data hold

  TZipFile zip = Load(BuildArchive({corrupt, shortData, wrongCrc, zeroCrcButShort}));
  ASSERT_EQ(zip.Count(), 4);
  EXPECT_EQ(MessageOf<EDecompressionError>([&] { zip.GetUncompressed(0); }), "Error");
  EXPECT_EQ(MessageOf<EZipFileCRCError>([&] { zip.GetUncompressed(1); }), "CRC Error in \"short.bin\".");
  EXPECT_EQ(MessageOf<EZipFileCRCError>([&] { zip.GetUncompressed(2); }), "CRC Error in \"wrong.bin\".");
  EXPECT_EQ(MessageOf<EZipFileCRCError>([&] { zip.GetUncompressed(3); }), "CRC Error in \"zero.bin\".");

  // The error names the member by its current name.
  zip.SetName(2, "renamed.bin");
  EXPECT_EQ(zip.GetName(2), "renamed.bin");
  EXPECT_EQ(MessageOf<EZipFileCRCError>([&] { zip.GetUncompressed(2); }), "CRC Error in \"renamed.bin\".");
}

TEST(ZipReader, ExtractionStopsAtTheDeclaredSize) {
  RawMember longer{"longer.txt", "0123456789"};
  longer.UncompressedOverride = 4;
  longer.CrcOverride = ReferenceCrc32("0123");
  const TZipFile zip = Load(BuildArchive({longer}));
  EXPECT_EQ(zip.GetUncompressed(0), "0123");
}

TEST(ZipReader, RejectsIndicesOutOfRange) {
  const TZipFile zip = Load(BuildArchive({{"a", "b"}}));
  for (int32_t index : {-1, 1, 1000}) {
    EXPECT_EQ(MessageOf<Exception>([&] { zip.GetUncompressed(index); }), "Index out of range.");
  }
}

TEST(ZipReader, HeadersThatClaimMoreThanTheFileHoldsCostNoMemory) {
  // A local header whose data length points far beyond the end of a tiny input.
  std::string header;
  Put32(header, 0x04034B50);
  Put16(header, 20);
  Put16(header, 0);
  Put16(header, 8);
  Put32(header, 0);
  Put32(header, 0xDEADBEEF);
  Put32(header, 0xFFFFFFF0);  // compressed size
  Put32(header, 0xFFFFFFF0);  // uncompressed size
  Put16(header, 10);          // name length
  Put16(header, 0);           // extra length
  const TZipFile zip = Load(header + "short name" + "\x03");
  ASSERT_EQ(zip.Count(), 1);
  EXPECT_EQ(zip.GetName(0), "short name");
  EXPECT_EQ(zip.LocalFiles[0].CompressedData, "\x03");
  EXPECT_THROW(zip.GetUncompressed(0), EZipFileCRCError);

  // Names and extra fields that run past the end: no member, no allocation.
  std::string longName = header;
  longName[26] = longName[27] = longName[28] = longName[29] = '\xFF';
  TZipFile cut;
  TMemoryStream cutStream(longName + "short name");
  EXPECT_THROW(cut.LoadFromStream(cutStream), EZipFileError);
  EXPECT_EQ(cut.Count(), 0);

  // Real deflate data that promise 4 GiB but give a few bytes.
  RawMember liar{"liar.txt", "tiny"};
  liar.UncompressedOverride = 0xFFFFFFF0;
  const TZipFile zip2 = Load(BuildArchive({liar}));
  EXPECT_THROW(zip2.GetUncompressed(0), EZipFileCRCError);

  // A central directory with more headers than members, each claiming long strings.
  std::string archive = BuildArchive({{"only.txt", "one"}});
  const size_t central = archive.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  std::string extra = archive.substr(central, 46);
  extra[28] = extra[29] = '\xFF';
  archive.insert(central, extra + extra);
  const TZipFile zip3 = Load(archive);
  ASSERT_EQ(zip3.Count(), 1);
  EXPECT_EQ(zip3.CentralDirectory.size(), 1u);
  EXPECT_EQ(zip3.GetUncompressed(0), "one");
}

TEST(ZipReader, EveryCutOfAnArchiveLoadsOrFailsCleanly) {
  RawMember deferred{"d.txt", std::string(3000, 'd') + "tail", 8, 8};
  const std::vector<RawMember> members = {
      {"a.txt", RandomBytes(500, 2)}, {"b/", ""}, deferred, {"s.bin", "stored bytes", 0}};
  const std::string archive = BuildArchive(members, "comment");
  for (size_t length = 0; length <= archive.size(); ++length) {
    TZipFile zip;
    TMemoryStream stream(archive.substr(0, length));
    try {
      zip.LoadFromStream(stream);
    } catch (const EZipFileError&) {
      // a cut inside a local header or inside the deferred member's data
    }
    ASSERT_LE(zip.Count(), 4) << length;
    for (int32_t i = 0; i < zip.Count(); ++i) {
      try {
        EXPECT_EQ(zip.GetUncompressed(i), members[i].Content) << length << " member " << i;
      } catch (const EZipFileCRCError&) {
      } catch (const EDecompressionError&) {
      }
    }
    if (length == archive.size()) {
      EXPECT_EQ(zip.Count(), 4);
      EXPECT_EQ(zip.Comment, "comment");
    }
  }
}

}  // namespace
