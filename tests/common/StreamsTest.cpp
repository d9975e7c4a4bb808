// The stream layer: exact reads and writes, memory streams, file streams.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "Streams.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TEST(MemoryStream, ReadsWritesAndSeeks) {
  TMemoryStream s;
  s.WriteBuffer("hello world", 11);
  EXPECT_EQ(s.GetSize(), 11);
  EXPECT_EQ(s.GetPosition(), 11);
  s.SetPosition(6);
  s.WriteBuffer("there!", 6);  // overwrites and grows
  EXPECT_EQ(s.Data, "hello there!");
  s.Seek(-6, TSeekOrigin::soEnd);
  char buf[16] = {0};
  EXPECT_EQ(s.Read(buf, 100), 6);  // a partial read is no error
  EXPECT_EQ(std::string(buf, 6), "there!");
  EXPECT_EQ(s.Read(buf, 1), 0);
  EXPECT_THROW(s.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
  s.SetPosition(20);  // writing past the end fills the gap with zeros
  s.WriteBuffer("x", 1);
  EXPECT_EQ(s.Data.size(), 21u);
  EXPECT_EQ(s.Data[15], '\0');
}

TEST(MemoryStream, ReadBufferInsistsOnTheWholeCount) {
  TMemoryStream s("abc");
  char buf[4];
  try {
    s.ReadBuffer(buf, 4);
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message, "Stream read error");
  }
  s.SetPosition(0);
  s.ReadBuffer(buf, 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
}

std::string TempPath(const char* name) {
#ifdef _WIN32
  char base[260];
  GetTempPathA(sizeof base, base);
  return std::string(base) + name;
#else
  return std::string("/tmp/") + name;
#endif
}

TEST(FileStream, CreatesReadsAndReplaces) {
  const std::string path = TempPath("quarn-stream-test.bin");
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("0123456789", 10);
    EXPECT_EQ(f.GetSize(), 10);
  }
  {
    TFileStream f(path, fmOpenRead | fmShareDenyWrite);
    f.SetPosition(4);
    char buf[8];
    EXPECT_EQ(f.Read(buf, 8), 6);
    EXPECT_EQ(std::string(buf, 6), "456789");
  }
  {
    TFileStream f(path, fmCreate);  // an existing file starts empty again
    EXPECT_EQ(f.GetSize(), 0);
  }
  std::remove(path.c_str());
}

TEST(FileStream, FailuresCarryTheExpandedPathAndTheSystemText) {
  const std::string missing = TempPath("quarn-missing-folder/file.bin");
  try {
    TFileStream f(missing, fmOpenRead);
    ADD_FAILURE();
  } catch (const EFOpenError& e) {
    const std::string prefix = "Cannot open file \"" + ExpandFileName(missing) + "\". ";
    EXPECT_EQ(e.Message.rfind(prefix, 0), 0u) << e.Message;
    EXPECT_GT(e.Message.size(), prefix.size());
    EXPECT_NE(e.Message.back(), '\n');
  }
  try {
    TFileStream f(missing, fmCreate);
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    const std::string prefix = "Cannot create file \"" + ExpandFileName(missing) + "\". ";
    EXPECT_EQ(e.Message.rfind(prefix, 0), 0u) << e.Message;
  }
}

// A failed system call is reported with the file's name and the reason the
// system gave at the moment of the failure, never a stale or empty one.
TEST(FileStream, FailedCallsNameTheFileAndTheSystemsReason) {
#ifdef _WIN32
  const std::string full = "Z:\\dev\\full";
  const uint32_t denied = ERROR_ACCESS_DENIED, noSpace = ERROR_DISK_FULL;
#else
  const std::string full = "/dev/full";
  const uint32_t denied = EBADF, noSpace = ENOSPC;
#endif
  const std::string path = TempPath("quarn-stream-readonly.bin");
  { TFileStream create(path, fmCreate); }
  struct Case {
    std::string File;
    uint32_t Mode, Code;
  } cases[] = {{path, fmOpenRead, denied}, {full, fmOpenWrite, noSpace}};
  for (const Case& c : cases) {
    TFileStream f(c.File, c.Mode);
    try {
      f.WriteBuffer("data", 4);
      ADD_FAILURE() << c.File;
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.Message, "Cannot write file \"" + ExpandFileName(c.File) + "\". " + SystemErrorText(c.Code));
    }
  }
  std::remove(path.c_str());

  std::string temp;
  try {
    CreateFileBeside(TempPath("quarn-missing-folder/target.zip"), temp);
    ADD_FAILURE();
  } catch (const EFCreateError& e) {
    // Which reason depends on the system (a missing path, an invalid folder); never "success".
    EXPECT_NE(e.SystemText, SystemErrorText(0)) << e.Message;
    EXPECT_FALSE(e.SystemText.empty());
  }
}

TEST(FileStream, CreateFileBesidePutsANewFileInTheTargetsFolder) {
  const std::string target = TempPath("quarn-beside-target.bin");
  std::string temp;
  std::unique_ptr<TFileStream> f(CreateFileBeside(target, temp));
  // Left behind by a killed program, its name says what it is and whose.
  EXPECT_EQ(temp.rfind(target + ".quarn-partial-", 0), 0u) << temp;
  f->WriteBuffer("new content", 11);
  f->SetSize(3);  // cut back, as a writer does after a failed member
  EXPECT_EQ(f->GetSize(), 3);
  f.reset();
  PutFileInPlace(temp, target);
  {
    TFileStream check(target, fmOpenRead);
    EXPECT_EQ(check.GetSize(), 3);
  }
  // Without replacing, an existing target stays as it is.
  f = CreateFileBeside(target, temp);
  f.reset();
  EXPECT_THROW(PutFileInPlace(temp, target, false), EFCreateError);
  DeleteFileQuietly(temp);
  {
    TFileStream check(target, fmOpenRead);
    EXPECT_EQ(check.GetSize(), 3);
  }
  DeleteFileQuietly(target);
}

}  // namespace
