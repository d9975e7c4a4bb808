// Smoke tests for the two engine DLLs that Quarn loads at run time: 7za.dll
// (7-Zip's 7z handler) and unrar.dll (the UnRAR library). They are built by
// scripts/build-engines.sh and copied beside the test executables by CMake.
//
// Each DLL is loaded from this executable's folder and called through the
// entry points Quarn uses. The few declarations needed are written out here
// (from 7-Zip's IArchive.h and UnRAR's dll.hpp) so that the test checks the
// binary interface itself, not headers that could drift from it.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <propidl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// ---------------------------------------------------------------------------
// Loading

std::wstring ExeFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::string Narrow(const std::wstring &s) {
  std::string out;
  for (wchar_t c : s) out += (c < 0x80) ? static_cast<char>(c) : '?';
  return out;
}

// Owns a module loaded from the executable's folder.
class EngineDll {
 public:
  explicit EngineDll(const wchar_t *name) {
    path_ = ExeFolder() + L"\\" + name;
    if (GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      error_ = Narrow(path_) +
               " not found. Build the engines with scripts/build-engines.sh "
               "and configure CMake with -DQUARN_ENGINE_DIR=<the folder it prints>.";
      return;
    }
    module_ = LoadLibraryW(path_.c_str());
    if (module_ == nullptr)
      error_ = "LoadLibraryW(" + Narrow(path_) + ") failed, error " + std::to_string(GetLastError());
  }
  ~EngineDll() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  EngineDll(const EngineDll &) = delete;
  EngineDll &operator=(const EngineDll &) = delete;

  bool loaded() const { return module_ != nullptr; }
  const std::string &error() const { return error_; }

  template <typename Fn>
  Fn Get(const char *name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module_, name)));
  }

 private:
  std::wstring path_;
  HMODULE module_ = nullptr;
  std::string error_;
};

// ---------------------------------------------------------------------------
// 7za.dll

// {23170F69-40C1-278A-1000-000110070000}: the 7z format handler.
const GUID kClsid7zHandler = {0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};
// {23170F69-40C1-278A-0000-000600600000}: IInArchive.
const GUID kIidInArchive = {0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, 0x06, 0x00, 0x60, 0x00, 0x00}};
// {00000000-0000-0000-C000-000000000046}: IUnknown, which the handler factory
// does not hand out.
const GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Handler property ids (NArchive::NHandlerPropID).
enum : PROPID { kPropName = 0, kPropClassID = 1, kPropExtension = 2, kPropUpdate = 4 };

using CreateObjectFn = HRESULT(WINAPI *)(const GUID *clsid, const GUID *iid, void **out);
using GetNumberOfFormatsFn = HRESULT(WINAPI *)(UINT32 *count);
using GetHandlerProperty2Fn = HRESULT(WINAPI *)(UINT32 index, PROPID prop, PROPVARIANT *value);

// The start of IInArchive's vtable: IUnknown, then Open, Close, GetNumberOfItems.
struct InArchiveVtbl {
  HRESULT(STDMETHODCALLTYPE *QueryInterface)(void *self, const GUID *iid, void **out);
  ULONG(STDMETHODCALLTYPE *AddRef)(void *self);
  ULONG(STDMETHODCALLTYPE *Release)(void *self);
  void *Open;
  void *Close;
  HRESULT(STDMETHODCALLTYPE *GetNumberOfItems)(void *self, UINT32 *count);
};
struct InArchive {
  const InArchiveVtbl *vtbl;
};

// A handler property as a string; binary properties (the class id) come as a
// BSTR holding raw bytes.
std::wstring BstrProperty(GetHandlerProperty2Fn get, UINT32 index, PROPID prop, HRESULT *hr) {
  PROPVARIANT v;
  PropVariantInit(&v);
  *hr = get(index, prop, &v);
  std::wstring result;
  if (*hr == S_OK && v.vt == VT_BSTR && v.bstrVal != nullptr) result.assign(v.bstrVal, SysStringLen(v.bstrVal));
  PropVariantClear(&v);
  return result;
}

class SevenZipEngine : public ::testing::Test {
 protected:
  EngineDll dll_{L"7za.dll"};
};

TEST_F(SevenZipEngine, LoadsAndExportsItsEntryPoints) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  for (const char *name : {"CreateObject", "GetNumberOfFormats", "GetHandlerProperty2", "GetNumberOfMethods",
                           "GetMethodProperty", "SetLargePageMode"})
    EXPECT_NE(dll_.Get<FARPROC>(name), nullptr) << name << " is not exported";
}

TEST_F(SevenZipEngine, ListsThe7zFormatWithItsClassIdAndUpdateSupport) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  auto getCount = dll_.Get<GetNumberOfFormatsFn>("GetNumberOfFormats");
  auto getProp = dll_.Get<GetHandlerProperty2Fn>("GetHandlerProperty2");
  ASSERT_NE(getCount, nullptr);
  ASSERT_NE(getProp, nullptr);

  UINT32 count = 0;
  ASSERT_EQ(getCount(&count), S_OK);
  ASSERT_GE(count, 1u);

  bool found = false;
  for (UINT32 i = 0; i < count && !found; i++) {
    HRESULT hr;
    if (BstrProperty(getProp, i, kPropName, &hr) != L"7z") continue;
    found = true;
    const std::wstring clsid = BstrProperty(getProp, i, kPropClassID, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(clsid.size() * sizeof(wchar_t), sizeof(GUID));
    EXPECT_EQ(std::memcmp(clsid.data(), &kClsid7zHandler, sizeof(GUID)), 0)
        << "the 7z handler reports another class id";
    EXPECT_EQ(BstrProperty(getProp, i, kPropExtension, &hr), L"7z");

    PROPVARIANT update;
    PropVariantInit(&update);
    ASSERT_EQ(getProp(i, kPropUpdate, &update), S_OK);
    EXPECT_EQ(update.vt, VT_BOOL);
    EXPECT_EQ(update.boolVal, VARIANT_TRUE) << "the 7z handler cannot write archives";
    PropVariantClear(&update);
  }
  EXPECT_TRUE(found) << "no format named 7z among " << count;

  // Past the last format the DLL refuses the index.
  PROPVARIANT v;
  PropVariantInit(&v);
  EXPECT_EQ(getProp(count, kPropName, &v), E_INVALIDARG);
  PropVariantClear(&v);
}

TEST_F(SevenZipEngine, CreatesAWorking7zInArchive) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  auto create = dll_.Get<CreateObjectFn>("CreateObject");
  ASSERT_NE(create, nullptr);

  void *object = nullptr;
  ASSERT_EQ(create(&kClsid7zHandler, &kIidInArchive, &object), S_OK);
  ASSERT_NE(object, nullptr);
  auto *archive = static_cast<InArchive *>(object);

  // A handler that has opened nothing holds no items.
  UINT32 items = 12345;
  EXPECT_EQ(archive->vtbl->GetNumberOfItems(archive, &items), S_OK);
  EXPECT_EQ(items, 0u);

  // CreateObject returned one reference; AddRef makes two.
  EXPECT_EQ(archive->vtbl->AddRef(archive), 2u);
  EXPECT_EQ(archive->vtbl->Release(archive), 1u);
  EXPECT_EQ(archive->vtbl->Release(archive), 0u);
}

TEST_F(SevenZipEngine, RefusesAnInterfaceItDoesNotProvide) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  auto create = dll_.Get<CreateObjectFn>("CreateObject");
  ASSERT_NE(create, nullptr);

  int sentinel = 0;
  void *object = &sentinel;
  EXPECT_EQ(create(&kClsid7zHandler, &kIidUnknown, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

// ---------------------------------------------------------------------------
// unrar.dll (declarations as in UnRAR's dll.hpp, which packs its structs)

constexpr unsigned kRarOmList = 0;        // RAR_OM_LIST
constexpr unsigned kErarBadArchive = 13;  // ERAR_BAD_ARCHIVE
constexpr unsigned kErarEOpen = 15;       // ERAR_EOPEN

typedef int(CALLBACK *UnrarCallback)(UINT msg, LPARAM userData, LPARAM p1, LPARAM p2);

#pragma pack(push, 1)
struct RAROpenArchiveDataEx {
  char *ArcName;
  wchar_t *ArcNameW;
  unsigned int OpenMode;
  unsigned int OpenResult;
  char *CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
  unsigned int Flags;
  UnrarCallback Callback;
  LPARAM UserData;
  unsigned int OpFlags;
  wchar_t *CmtBufW;
  unsigned int Reserved[25];
};
#pragma pack(pop)
// Six pointer-sized fields, seven 32-bit ones and the reserved block, with no
// padding (on x64 CmtBufW sits at the unaligned offset 68).
static_assert(sizeof(RAROpenArchiveDataEx) == 6 * sizeof(void *) + 7 * 4 + 25 * 4,
              "RAROpenArchiveDataEx must keep dll.hpp's packed layout");

using RAROpenArchiveExFn = HANDLE(PASCAL *)(RAROpenArchiveDataEx *data);
using RARCloseArchiveFn = int(PASCAL *)(HANDLE archive);
using RARGetDllVersionFn = int(PASCAL *)();

class UnrarEngine : public ::testing::Test {
 protected:
  EngineDll dll_{L"unrar.dll"};

  // A path in the temporary folder that no file has.
  static std::wstring MissingPath(const wchar_t *tag) {
    wchar_t dir[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    std::wstring base = (n > 0 && n <= MAX_PATH) ? std::wstring(dir, n) : std::wstring(L".\\");
    for (unsigned i = 0;; i++) {
      std::wstring p = base + L"quarn-engine-test-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       std::to_wstring(i) + L".rar";
      if (GetFileAttributesW(p.c_str()) == INVALID_FILE_ATTRIBUTES) return p;
    }
  }
};

TEST_F(UnrarEngine, ExportsTheEntryPointsUndecorated) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  for (const char *name : {"RAROpenArchiveEx", "RARReadHeaderEx", "RARProcessFile", "RARProcessFileW", "RARSetCallback",
                           "RARSetPassword", "RARCloseArchive", "RARGetDllVersion"})
    EXPECT_NE(dll_.Get<FARPROC>(name), nullptr) << name << " is not exported";
}

TEST_F(UnrarEngine, ReportsItsInterfaceVersion) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  auto version = dll_.Get<RARGetDllVersionFn>("RARGetDllVersion");
  ASSERT_NE(version, nullptr);
  // Version 8 brought RAROpenArchiveDataEx.OpFlags and the wide comment buffer.
  EXPECT_GE(version(), 8);
}

TEST_F(UnrarEngine, OpeningAMissingFileFailsWithEOpen) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  auto open = dll_.Get<RAROpenArchiveExFn>("RAROpenArchiveEx");
  auto close = dll_.Get<RARCloseArchiveFn>("RARCloseArchive");
  ASSERT_NE(open, nullptr);
  ASSERT_NE(close, nullptr);

  std::wstring path = MissingPath(L"missing");
  RAROpenArchiveDataEx data;
  std::memset(&data, 0, sizeof data);
  data.ArcNameW = &path[0];
  data.OpenMode = kRarOmList;
  data.OpenResult = 0xFFFF;
  HANDLE h = open(&data);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(data.OpenResult, kErarEOpen);
  if (h != nullptr) close(h);
}

TEST_F(UnrarEngine, OpeningAFileThatIsNoArchiveFailsWithBadArchive) {
  ASSERT_TRUE(dll_.loaded()) << dll_.error();
  auto open = dll_.Get<RAROpenArchiveExFn>("RAROpenArchiveEx");
  auto close = dll_.Get<RARCloseArchiveFn>("RARCloseArchive");
  ASSERT_NE(open, nullptr);
  ASSERT_NE(close, nullptr);

  // Plain text: no RAR signature anywhere, so UnRAR reads it and rejects it.
  std::wstring path = MissingPath(L"text");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << Narrow(path);
  std::string text;
  for (int i = 0; i < 200; i++) text += "This is not an archive. ";
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(ok && written == text.size());

  RAROpenArchiveDataEx data;
  std::memset(&data, 0, sizeof data);
  data.ArcNameW = &path[0];
  data.OpenMode = kRarOmList;
  HANDLE h = open(&data);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(data.OpenResult, kErarBadArchive);
  if (h != nullptr) close(h);
  DeleteFileW(path.c_str());
}

}  // namespace
