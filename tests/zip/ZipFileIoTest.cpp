// Archives and input files on disk: opening, sharing, replacing, failing.

#include <gtest/gtest.h>

#include <memory>

#include "ZipFile.h"
#include "ZipTestSupport.h"
#include "Zippit.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

#ifdef _WIN32
// Another program holding a file open with the given access and sharing.
class OpenElsewhere {
 public:
  OpenElsewhere(const std::string& path, DWORD access, DWORD share)
      : FHandle(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {
    EXPECT_NE(FHandle, INVALID_HANDLE_VALUE) << path;
  }
  ~OpenElsewhere() { CloseHandle(FHandle); }

 private:
  HANDLE FHandle;
};
#endif

TEST(ZipFiles, AddDiskFileReadsWholeFilesUnderConformantNames) {
  ScratchDir dir;
  const std::string content = RandomBytes(70000, 21) + std::string(100000, 'a');
  WriteWholeFile(dir.File("data.bin"), content);
  WriteWholeFile(dir.File("empty.txt"), "");

  TZippit zip;
  zip.AddDiskFile(dir.File("data.bin"));
  zip.AddDiskFile(dir.File("empty.txt"));
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.GetName(0), ZipMemberName(dir.File("data.bin")));
  EXPECT_EQ(zip.GetName(0).find('\\'), std::string::npos);
  EXPECT_EQ(zip.GetName(0).find(':'), std::string::npos);
  EXPECT_NE(zip.GetName(0)[0], '/');
  EXPECT_EQ(zip.GetUncompressed(0), content);
  EXPECT_EQ(zip.GetUncompressed(1), "");
  EXPECT_EQ(zip.CentralDirectory[0].ExternalAttributes, 0u);
  EXPECT_EQ(zip.LocalFiles[1].CompressedData, std::string("\x03\x00", 2));
}

TEST(ZipFiles, MissingFilesGiveTheOpenErrorWithTheFullPath) {
  ScratchDir dir;
  const std::string missing = dir.File("no-such-file.zip");
  const std::string prefix = "Cannot open file \"" + ExpandFileName(missing) + "\". ";
  try {
    TZipFile zip;
    zip.LoadFromFile(missing);
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_TRUE(StartsWith(e.Message, prefix)) << e.Message;
    EXPECT_GT(e.Message.size(), prefix.size()) << "the system's reason is missing";
  }
  TZippit zip;
  try {
    zip.AddDiskFile(missing);
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_TRUE(StartsWith(e.Message, prefix)) << e.Message;
  }
  EXPECT_EQ(zip.Count(), 0);
}

TEST(ZipFiles, RelativePathsAreExpandedInMessages) {
  const std::string expanded = ExpandFileName("quarn-missing-relative.zip");
  EXPECT_NE(expanded, "quarn-missing-relative.zip");
  EXPECT_EQ(expanded.substr(expanded.size() - 26), "quarn-missing-relative.zip");
  try {
    TZipFile().LoadFromFile("quarn-missing-relative.zip");
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message.find("\"" + expanded + "\""), std::string::npos) << e.Message;
  }
}

TEST(ZipFiles, SaveToFileReplacesTheArchiveAndLeavesNothingElse) {
  ScratchDir dir;
  const std::string target = dir.File("out.zip");
  WriteWholeFile(target, std::string(100000, 'o'));  // longer than the new archive

  TZipFile zip;
  zip.AddFile("a.txt", 0);
  zip.SetUncompressed(0, "abc");
  zip.SaveToFile(target);
  const std::string first = ReadWholeFile(target);
  EXPECT_EQ(first.size(), 113u);
  zip.SaveToFile(target);
  EXPECT_EQ(ReadWholeFile(target), first);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"out.zip"});

  TZipFile back;
  back.LoadFromFile(target);
  ASSERT_EQ(back.Count(), 1);
  EXPECT_EQ(back.GetUncompressed(0), "abc");
}

TEST(ZipFiles, AFailedSaveKeepsTheLastGoodArchive) {
  ScratchDir dir;
  const std::string target = dir.File("keep.zip");
  TZipFile zip;
  zip.AddFile("good.txt", 0);
  zip.SetUncompressed(0, "good");
  zip.SaveToFile(target);
  const std::string good = ReadWholeFile(target);

  zip.AddFile("bad.txt", 0);
  zip.SetUncompressed(1, "bad");
  zip.SetName(1, "renamed without new data");  // the model can no longer be written
  EXPECT_THROW(zip.SaveToFile(target), EZipFileError);
  EXPECT_EQ(ReadWholeFile(target), good);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"keep.zip"});

#ifdef _WIN32
  // Another program holds the archive open without sharing: the replacement
  // fails and the archive it had is untouched.
  zip.SetUncompressed(1, "fine now");
  {
    OpenElsewhere holder(target, GENERIC_READ, 0);
    try {
      zip.SaveToFile(target);
      ADD_FAILURE();
    } catch (const EFCreateError& e) {
      EXPECT_TRUE(StartsWith(e.Message, "Cannot create file \"" + ExpandFileName(target) + "\". ")) << e.Message;
    }
  }
  EXPECT_EQ(ReadWholeFile(target), good);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"keep.zip"});
  zip.SaveToFile(target);
  EXPECT_NE(ReadWholeFile(target), good);
#endif
}

TEST(ZipFiles, SavingIntoAMissingFolderGivesTheCreateError) {
  ScratchDir dir;
  const std::string target = dir.File(std::string("missing") + kSep + "out.zip");
  TZipFile zip;
  try {
    zip.SaveToFile(target);
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    EXPECT_TRUE(StartsWith(e.Message, "Cannot create file \"" + ExpandFileName(target) + "\". ")) << e.Message;
  }
  EXPECT_TRUE(dir.List().empty());
}

#ifdef _WIN32
TEST(ZipFiles, SharingRulesOfReadingAndAdding) {
  ScratchDir dir;
  const std::string archive = dir.File("shared.zip");
  WriteWholeFile(archive, BuildArchive({{"m.txt", "member"}}));

  {  // Loading lets others read the archive at the same time...
    OpenElsewhere reader(archive, GENERIC_READ, FILE_SHARE_READ);
    TZipFile zip;
    zip.LoadFromFile(archive);
    EXPECT_EQ(zip.Count(), 1);
  }
  {  // ...but not while another program writes to it.
    OpenElsewhere writer(archive, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_THROW(TZipFile().LoadFromFile(archive), EFOpenError);
  }

  const std::string input = dir.File("input.txt");
  WriteWholeFile(input, "input data");
  {  // Adding a file needs it to itself: even a reader elsewhere blocks it.
    OpenElsewhere reader(input, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    TZippit zip;
    EXPECT_THROW(zip.AddDiskFile(input), EFOpenError);
    EXPECT_EQ(zip.Count(), 0);
  }
  TZippit zip;
  zip.AddDiskFile(input);
  EXPECT_EQ(zip.GetUncompressed(0), "input data");
}
#endif

}  // namespace
