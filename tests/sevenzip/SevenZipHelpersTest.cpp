// Path helpers, stream adapters and component settings of the 7z component.

#include <gtest/gtest.h>

#include "Files.h"
#include "SevenZip.h"
#include "SevenZipStreams.h"
#include "SevenZipTestSupport.h"

TEST(SevenZipPaths, NameParts) {
  EXPECT_EQ(ExtractFileExtW(L"a.b\\c"), L"");
  EXPECT_EQ(ExtractFileExtW(L"C:\\x\\a.7z.001"), L".001");
  EXPECT_EQ(ChangeFileExtW(L"a.7z.001", L""), L"a.7z");
  EXPECT_EQ(ChangeFileExtW(L"dir.x\\name", L".txt"), L"dir.x\\name.txt");
  EXPECT_EQ(ExtractFilePathW(L"C:\\a\\b.txt"), L"C:\\a\\");
  EXPECT_EQ(ExtractFileNameW(L"C:b.txt"), L"b.txt");
  EXPECT_EQ(AddTrailingBackslash(L""), L"");
  EXPECT_EQ(AddTrailingBackslash(L"C:\\a"), L"C:\\a\\");
  EXPECT_EQ(ExcludeTrailingBackslashW(L"C:\\"), L"C:");
  EXPECT_EQ(ParentDirW(L"C:\\a\\b\\"), L"C:\\a\\");
  EXPECT_EQ(LastDelimiterW(L"\\:", L"ab"), 0);
  EXPECT_EQ(UpperCaseW(L"abc\u00fc"), L"ABC\u00dc");
}

// The form the file helpers hand to the system: a path too long for the
// plain form gets the prefix that lifts the limit, made full first (the
// prefix turns off the clean-up of "/", "." and "..").
TEST(SevenZipPaths, LongPathsGetThePrefixedFullForm) {
  const std::wstring part(100, L'p');
  const std::wstring tail = part + L"\\" + part + L"\\" + part;
  const struct {
    std::wstring In, Out;
  } cases[] = {
      {L"C:\\short\\a.txt", L"C:\\short\\a.txt"},
      {L"C:\\" + tail, L"\\\\?\\C:\\" + tail},
      {L"C:/x/../" + part + L"/./" + part + L"/" + part, L"\\\\?\\C:\\" + tail},
      {L"\\\\server\\share\\" + tail, L"\\\\?\\UNC\\server\\share\\" + tail},
      {L"\\\\?\\C:\\" + tail, L"\\\\?\\C:\\" + tail},
  };
  for (const auto& c : cases) EXPECT_EQ(LongPathForm(c.In), c.Out) << WideToAnsi(c.In);
}

TEST(SevenZipPaths, IndicesParseAndSort) {
  int64_t v = 0;
  EXPECT_TRUE(TryParseIndex(L"42", v));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(TryParseIndex(L"4x", v));
  EXPECT_FALSE(TryParseIndex(L"", v));
  EXPECT_FALSE(TryParseIndex(L"dir\\a.txt", v));
  std::vector<uint32_t> a = {9, 3, 3, 0xFFFFFFFFu, 0, 7, 3};
  SortIndices(a, 0, static_cast<int>(a.size()) - 1);
  EXPECT_EQ(a, (std::vector<uint32_t>{0, 3, 3, 3, 7, 9, 0xFFFFFFFFu}));
}

TEST(SevenZipPaths, ForceDirectoriesSetsAttributesOnLastOnly) {
  ScratchDir dir;
  const std::wstring x = dir / L"x", y = dir / L"x\\y";
  EXPECT_TRUE(ForceDirectoriesW(y + L"\\", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(DirectoryExistsW(x));
  EXPECT_TRUE(DirectoryExistsW(y));
  EXPECT_NE(GetFileAttributesW(y.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(GetFileAttributesW(x.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_TRUE(FileExistsW(x));  // folders count in the wide variant
  EXPECT_THROW(ForceDirectoriesW(L"", 0), EInOutError);
}

TEST(SevenZipStreams, WriterSplitsIntoNumberedParts) {
  ScratchDir dir;
  const std::string data(250, 'q');
  {
    TMyStreamWriter* w = new TMyStreamWriter(dir / L"out.bin", 0, 0, 100, false);
    w->AddRef();
    UINT32 done = 0;
    EXPECT_EQ(w->Write(data.data(), 250, &done), S_OK);
    EXPECT_EQ(done, 250u);
    EXPECT_EQ(w->MaxPosition, 250u);
    w->Release();
  }
  EXPECT_EQ(ReadAll(dir / L"out.bin.001"), data.substr(0, 100));
  EXPECT_EQ(ReadAll(dir / L"out.bin.002"), data.substr(100, 100));
  EXPECT_EQ(ReadAll(dir / L"out.bin.003"), data.substr(200));
  {
    TMyStreamWriter* w = new TMyStreamWriter(dir / L"exact.bin", 0, 0, 100, false);
    w->AddRef();
    UINT32 done = 0;
    w->Write(data.data(), 100, &done);
    w->Release();
  }
  EXPECT_EQ(ReadAll(dir / L"exact.bin.001").size(), 100u);
  EXPECT_EQ(ReadAll(dir / L"exact.bin.002"), "");
  EXPECT_FALSE(Exists(dir / L"exact.bin.003"));
}

TEST(SevenZipStreams, WriterSeeksWith64BitPositions) {
  ScratchDir dir;
  TMyStreamWriter* w = new TMyStreamWriter(dir / L"s.bin", 0, 0, 0, false);
  w->AddRef();
  UINT64 pos = 0;
  EXPECT_EQ(w->Seek(10, 2, &pos), S_OK);
  EXPECT_EQ(pos, 10u);
  EXPECT_EQ(w->MaxPosition, 10u);
  const UINT64 big = 5ull << 30;
  EXPECT_EQ(w->Seek(static_cast<INT64>(big), 0, &pos), S_OK);
  EXPECT_EQ(pos, big);
  EXPECT_NE(w->Seek(-1, 0, &pos), S_OK);  // no negative positions
  EXPECT_EQ(w->SetSize(0), S_FALSE);
  w->Release();
  EXPECT_THROW(TMyStreamWriter(dir / L"no\\such\\folder\\f.bin", 0, 0, 0, false), EAbort);
}

TEST(SevenZipStreams, ReaderOverPlainFileAndMissingFile) {
  ScratchDir dir;
  ASSERT_TRUE(WriteAll(dir / L"plain.dat", "0123456789"));
  TMyStreamReader* r = new TMyStreamReader(TReaderOptions(), true, dir / L"plain.dat");
  r->AddRef();
  UINT64 size = 0, pos = 0;
  EXPECT_EQ(r->GetSize(&size), S_OK);  // a file that is not a numbered part is the whole set
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(r->Seek(-4, 2, &pos), S_OK);
  EXPECT_EQ(pos, 6u);
  char buf[16] = {};
  UINT32 got = 0;
  EXPECT_EQ(r->Read(buf, 16, &got), S_OK);
  EXPECT_EQ(std::string(buf, got), "6789");
  EXPECT_EQ(r->Seek(static_cast<INT64>(6ull << 30), 0, &pos), S_OK);
  EXPECT_EQ(pos, 6ull << 30);
  EXPECT_EQ(r->Read(buf, 16, &got), S_OK);
  EXPECT_EQ(got, 0u);
  r->Release();

  TMyStreamReader* missing = new TMyStreamReader(TReaderOptions(), true, dir / L"none.7z");
  missing->AddRef();
  EXPECT_EQ(missing->GetSize(&size), S_FALSE);
  pos = 99;
  EXPECT_EQ(missing->Seek(0, 2, &pos), S_FALSE);
  EXPECT_EQ(pos, 0u);
  missing->Release();

  // A read that fails (through a handle that may not read, as a failing disk
  // fails one) answers the system's error, never a short read that looks
  // like an archive cut short, and is kept for the report.
  TReadFailure failure;
  TReaderOptions options;
  options.ReadFailure = &failure;
  TMyStreamReader* unreadable = new TMyStreamReader(options, false, dir / L"plain.dat");
  unreadable->AddRef();
  unreadable->Volumes[0].Handle.Reset();
  unreadable->Volumes[0].Handle.Reset(
      CreateFileW((dir / L"plain.dat").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  got = 99;
  EXPECT_EQ(unreadable->Read(buf, 16, &got), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(got, 0u);
  unreadable->Release();
  std::wstring file;
  DWORD error = 0;
  ASSERT_TRUE(failure.Failed(file, error));
  EXPECT_EQ(file, dir / L"plain.dat");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(SevenZipStreams, ObjectsAnswerOnlyTheirInterfaces) {
  ScratchDir dir;
  TMyStreamReader* r = new TMyStreamReader(TReaderOptions(), false, dir / L"x");
  IUnknown* unk = static_cast<IInStream*>(r);
  unk->AddRef();
  void* p = nullptr;
  EXPECT_EQ(unk->QueryInterface(IID_IStreamGetSize, &p), S_OK);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(r->RefCount(), 2u);
  static_cast<IStreamGetSize*>(p)->Release();
  EXPECT_EQ(unk->QueryInterface(IID_IOutStream, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(unk->Release(), 0u);
}

// The dictionary the engine's names of methods state, as the walk weighs
// what decoders take of a 32-bit address space.
TEST(SevenZipHelpers, DictionaryOfMethods) {
  const struct {
    const wchar_t* Methods;
    uint64_t Bytes;
  } cases[] = {
      {L"LZMA2:24", 16u << 20},
      {L"LZMA2:1536m BCJ", 1536ull << 20},
      {L"LZMA:3m", 3u << 20},
      {L"LZMA2:29 CRC64", 512u << 20},
      {L"LZMA:24 LZMA2:26", 64u << 20},
      {L"PPMD:o6:mem192m", 192u << 20},
      {L"BZip2 Deflate AES-256", 0},
      {L"", 0},
      {L"LZMA2:", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(DictionaryOfMethods(c.Methods), c.Bytes) << testing::PrintToString(c.Methods);
}

TEST(SevenZipComponent, DefaultsAndSfxSetters) {
  TComponent owner(nullptr);
  TSevenZip* sz = new TSevenZip(&owner);
  EXPECT_EQ(sz->NumberOfFiles, -1);
  EXPECT_EQ(sz->SFXModule, L"7z.sfx");
  EXPECT_EQ(owner.ComponentCount(), 1);

  ScratchDir dir;
  ASSERT_TRUE(WriteAll(dir / L"mod.sfx", std::string(1000, 'm')));
  sz->SFXModule = dir / L"mod.sfx";
  sz->SetVolumeSize(500);
  sz->SetSFXCreate(true);
  EXPECT_TRUE(sz->GetSFXCreate());
  EXPECT_EQ(sz->GetVolumeSize(), 1007);
  sz->SetVolumeSize(800);
  EXPECT_EQ(sz->GetVolumeSize(), 1007);
  sz->SetVolumeSize(1003);
  EXPECT_EQ(sz->GetVolumeSize(), 1003);
  sz->SetVolumeSize(0);
  EXPECT_EQ(sz->GetVolumeSize(), 0);
  sz->SFXModule = dir / L"missing.sfx";
  sz->SetSFXCreate(true);
  EXPECT_FALSE(sz->GetSFXCreate());
  // The owner frees it.
}
