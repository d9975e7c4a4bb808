// The shell's path rules: archive kinds, output folders and the generic error
// text.

#include <gtest/gtest.h>

#include "ShellPaths.h"

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
