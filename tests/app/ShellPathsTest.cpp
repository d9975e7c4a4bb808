// The shell's path rules: archive kinds, output folders and the generic error
// text.

#include <gtest/gtest.h>

#include <algorithm>

#include "ShellPaths.h"
#include "ShellTestSupport.h"

namespace {

TEST(ShellPaths, ArchiveKindsIgnoreTheCaseOfTheExtension) {
  const std::vector<std::pair<std::string, TArchiveKind>> cases = {
      {"C:\\in\\a.zip", TArchiveKind::Zip},
      {"C:\\in\\A.ZIP", TArchiveKind::Zip},
      {"C:\\in\\b.Rar", TArchiveKind::Rar},
      {"C:\\in\\c.7Z", TArchiveKind::SevenZip},
      {"C:\\in\\d.txt", TArchiveKind::None},
      {"C:\\in.zip\\noext", TArchiveKind::None},
      {"C:\\in\\archive.zip.bak", TArchiveKind::None},
      {"D:x.7z", TArchiveKind::SevenZip},
      {"C:\\in\\.zip", TArchiveKind::Zip},
      {"", TArchiveKind::None},
      {"C:\\in\\src.TAR.GZ", TArchiveKind::Gzip},
      {"C:\\in\\src.tgz", TArchiveKind::Gzip},
      {"C:\\in\\old.Z", TArchiveKind::Compress},
      {"C:\\in\\old.lha", TArchiveKind::Lzh},
      {"C:\\in\\disk.iso", TArchiveKind::Iso},
      {"C:\\in\\pkg.deb", TArchiveKind::Deb},
      {"C:\\in\\notes.txt.gz.part", TArchiveKind::None},
      {"C:\\in\\x.ZIPX", TArchiveKind::Zip},
      {"C:\\in\\Setup.EXE", TArchiveKind::SelfExtracting},
      {"C:\\in\\photos.sfx", TArchiveKind::SelfExtracting},
      // The parts of sets have their set's kind; numbered pieces of no
      // named kind are told by their content.
      {"C:\\in\\movie.7z.001", TArchiveKind::SevenZip},
      {"C:\\in\\movie.7z.004", TArchiveKind::SevenZip},
      {"C:\\in\\src.tar.gz.002", TArchiveKind::Gzip},
      {"C:\\in\\x.001", TArchiveKind::Split},
      {"C:\\in\\x.017", TArchiveKind::Split},
      {"C:\\in\\x.000", TArchiveKind::None},
      {"C:\\in\\x.01", TArchiveKind::None},
      {"C:\\in\\s.Z01", TArchiveKind::Zip},
      {"C:\\in\\s.zx02", TArchiveKind::Zip},
      {"C:\\in\\old.r00", TArchiveKind::Rar},
      {"C:\\in\\old.Z", TArchiveKind::Compress},
  };
  for (const auto& c : cases) EXPECT_EQ(ArchiveKindOf(c.first), c.second) << c.first;
  EXPECT_EQ(ExtensionOf("C:\\dir.v2\\file"), "");
  EXPECT_EQ(ExtensionOf("C:\\dir\\photos.2007.zip"), ".zip");
}

TEST(ShellPaths, OutputFoldersAreNamedAfterTheArchive) {
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\dl\\photos.2007.zip"), "C:\\Out\\photos.2007");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\dl\\noext"), "C:\\Out\\noext");
  EXPECT_EQ(OutputFolderOf("C:\\", "D:\\a.rar"), "C:\\\\a");  // a drive root as destination
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:b.7z"), "C:\\Out\\b");
  // Without the extensions of the kind: both of a compressed tarball.
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\src.tar.gz"), "C:\\Out\\src");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\src.TAR.XZ"), "C:\\Out\\src");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\notes.txt.gz"), "C:\\Out\\notes.txt");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\old.tar.zip"), "C:\\Out\\old.tar");  // zip holds no tarball
  EXPECT_EQ(CompressedItemName("D:\\notes.txt.gz"), "notes.txt");
  EXPECT_EQ(CompressedItemName("D:\\src.tgz"), "src.tar");
  // A set is named after the set.
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\movie.7z.001"), "C:\\Out\\movie");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\src.tar.gz.001"), "C:\\Out\\src");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\x.001"), "C:\\Out\\x");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\report.v2.001"), "C:\\Out\\report.v2");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\movie.part01.rar"), "C:\\Out\\movie");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\x.zipx"), "C:\\Out\\x");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\drivers.exe"), "C:\\Out\\drivers");
  EXPECT_EQ(OutputFolderOf("C:\\Out", "D:\\vol.part1.exe"), "C:\\Out\\vol");
  EXPECT_EQ(CompressedItemName("D:\\notes.txt.gz.001"), "notes.txt");
}

// Which part of a set a name is, and the part the set is extracted through.
TEST(ShellPaths, ThePartsOfSets) {
  const struct {
    const char* Path;
    TSetScheme Scheme;
    bool Later;
    const char* First;
    const char* Name;
  } cases[] = {
      {"D:\\a\\movie.7z.001", TSetScheme::Numbered, false, "D:\\a\\movie.7z.001", "D:\\a\\movie.7z"},
      {"D:\\a\\movie.7z.012", TSetScheme::Numbered, true, "D:\\a\\movie.7z.001", "D:\\a\\movie.7z"},
      {"D:\\a\\x.002", TSetScheme::Numbered, true, "D:\\a\\x.001", "D:\\a\\x"},
      {"D:\\a\\s.z01", TSetScheme::Spanned, true, "D:\\a\\s.zip", "D:\\a\\s.zip"},
      {"D:\\a\\s.zx03", TSetScheme::Spanned, true, "D:\\a\\s.zipx", "D:\\a\\s.zipx"},
      {"D:\\a\\s.zip", TSetScheme::None, false, "D:\\a\\s.zip", "D:\\a\\s.zip"},
      {"D:\\a\\v.part1.rar", TSetScheme::RarParts, false, "D:\\a\\v.part1.rar", "D:\\a\\v.rar"},
      {"D:\\a\\v.Part07.RAR", TSetScheme::RarParts, true, "D:\\a\\v.Part01.RAR", "D:\\a\\v.RAR"},
      {"D:\\a\\v.r00", TSetScheme::RarOld, true, "D:\\a\\v.rar", "D:\\a\\v.rar"},
      {"D:\\a\\v.part1.exe", TSetScheme::RarParts, false, "D:\\a\\v.part1.exe", "D:\\a\\v.rar"},
      {"D:\\a\\v.part2.exe", TSetScheme::None, false, "D:\\a\\v.part2.exe", "D:\\a\\v.part2.exe"},
      {"D:\\a\\v.rar", TSetScheme::None, false, "D:\\a\\v.rar", "D:\\a\\v.rar"},
      {"D:\\a.001\\v.txt", TSetScheme::None, false, "D:\\a.001\\v.txt", "D:\\a.001\\v.txt"},
  };
  for (const auto& c : cases) {
    const TSetPart part = SetPartOf(c.Path);
    EXPECT_EQ(part.Scheme, c.Scheme) << c.Path;
    EXPECT_EQ(part.Later, c.Later) << c.Path;
    EXPECT_EQ(part.First, c.First) << c.Path;
    EXPECT_EQ(part.Name, c.Name) << c.Path;
  }
}

// The content decides the kind: each format's mark where the format puts it,
// old tar by its header's checksum, and nothing for text or zeros.
TEST(ShellPaths, ArchiveKindsByTheirSignatures) {
  std::string ustar(1024, '\0');
  ustar.replace(257, 5, "ustar");
  std::string oldTar(1024, '\0');
  oldTar.replace(0, 5, "a.txt");
  oldTar.replace(100, 7, "0000644");
  unsigned sum = 0;
  for (size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(oldTar[i]);
  char checksum[8];
  snprintf(checksum, sizeof checksum, "%06o", sum);
  oldTar.replace(148, 7, std::string(checksum, 6) + '\0');
  std::string iso(0x8010, '\0');
  iso.replace(0x8001, 5, "CD001");
  const std::vector<std::pair<std::string, TArchiveKind>> cases = {
      {std::string("7z\xBC\xAF\x27\x1C\0\4", 8), TArchiveKind::SevenZip},
      {"PK\x03\x04rest", TArchiveKind::Zip},
      {"Rar!\x1A\x07\x01", TArchiveKind::Rar},
      {"\x1F\x8B\x08\0", TArchiveKind::Gzip},
      {"BZh91AY", TArchiveKind::Bzip2},
      {std::string("\xFD"
                   "7zXZ\0\0",
                   8),
       TArchiveKind::Xz},
      {"\x28\xB5\x2F\xFD\0", TArchiveKind::Zstd},
      {std::string("MSCF\0\0\0\0rest", 12), TArchiveKind::Cab},
      {"!<arch>\ndebian-binary", TArchiveKind::Deb},
      {"070701000", TArchiveKind::Cpio},
      {std::string("\x20\x01-lh5-rest", 11), TArchiveKind::Lzh},
      {ustar, TArchiveKind::Tar},
      {oldTar, TArchiveKind::Tar},
      {iso, TArchiveKind::Iso},
      {"just some text, no archive", TArchiveKind::None},
      {std::string(1024, '\0'), TArchiveKind::None},
  };
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(ArchiveKindOfContent(cases[i].first), cases[i].second) << i;
}

// The installers register their entries for the extensions of
// packaging/kinds.txt: exactly the extensions the program takes as archives,
// which the open dialog offers.
TEST(ShellPaths, TheInstallersKindsAreTheProgramsKinds) {
  std::string listed = ReadWholeFile(std::string("Z:") + QUARN_SOURCE_DIR + "/packaging/kinds.txt");
  std::vector<std::string> fromFile, fromTable;
  for (size_t at = 0; at < listed.size();) {
    size_t end = listed.find('\n', at);
    if (end == std::string::npos) end = listed.size();
    std::string ext = listed.substr(at, end - at);
    if (!ext.empty() && ext.back() == '\r') ext.pop_back();
    if (!ext.empty()) fromFile.push_back(ext);
    at = end + 1;
  }
  // Programs get no Explorer verb: every .exe would carry it.
  std::vector<std::string> programs;
  for (size_t i = 0; i < kArchiveKindCount; ++i) {
    std::string list = kArchiveKinds[i].Extensions;
    for (size_t at = 0; at < list.size();) {
      const size_t end = std::min(list.find(';', at), list.size());
      (kArchiveKinds[i].Kind == TArchiveKind::SelfExtracting ? programs : fromTable)
          .push_back(list.substr(at, end - at));
      at = end + 1;
    }
  }
  EXPECT_EQ(fromFile, fromTable);
  EXPECT_EQ(programs, (std::vector<std::string>{".exe", ".sfx"}));
  // The open dialog's "All Archives" takes every one of them too, and the
  // programs have an entry of their own.
  const std::string filter = ArchiveFilter();
  const size_t all = filter.find("All Archives|");
  ASSERT_NE(all, std::string::npos);
  const std::string patterns = ";" + filter.substr(all + 13, filter.find('|', all + 13) - all - 13) + ";";
  fromFile.insert(fromFile.end(), programs.begin(), programs.end());
  for (const std::string& ext : fromFile) {
    EXPECT_NE(ArchiveKindOf("C:\\a" + ext), TArchiveKind::None) << ext;
    EXPECT_NE(patterns.find(";*" + (ext == ".z" ? std::string(".Z") : ext) + ";"), std::string::npos) << ext;
  }
  EXPECT_NE(filter.find("|Self-extracting archives (*.exe)|*.exe;*.sfx|"), std::string::npos) << filter;
}

TEST(ShellPaths, GenericErrorTextEndsWithAFullStop) {
  EXPECT_EQ(GenericErrorText("Stream read error"), "Stream read error.");
  EXPECT_EQ(GenericErrorText("Cannot open file \"C:\\a\". Access is denied."),
            "Cannot open file \"C:\\a\". Access is denied.");
  EXPECT_EQ(GenericErrorText("Error!"), "Error!");  // "!" sorts before "."
  EXPECT_EQ(GenericErrorText("ends in )"), "ends in )");
  EXPECT_EQ(GenericErrorText("ends in 7"), "ends in 7.");
  EXPECT_EQ(GenericErrorText(""), "");
}

}  // namespace
