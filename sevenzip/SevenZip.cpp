#include "SevenZip.h"

#include <vector>

#include "Files.h"
#include "SevenZipPipe.h"
#include "Streams.h"

namespace {
const uint8_t kSignature[6] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};

// Reads exactly size bytes at offset; false otherwise.
bool ReadAt(HANDLE h, uint64_t offset, void* data, DWORD size) {
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(offset);
  DWORD got = 0;
  return SetFilePointerEx(h, li, nullptr, FILE_BEGIN) && ReadFile(h, data, size, &got, nullptr) && got == size;
}

bool SignatureAt(HANDLE h, uint64_t offset) {
  uint8_t buf[6];
  return ReadAt(h, offset, buf, 6) && memcmp(buf, kSignature, 6) == 0;
}

// Where the first 7z signature lies in the size bytes from offset (fewer at
// the end of the file); false when there is none.
bool FindSignature(HANDLE h, uint64_t offset, DWORD size, uint64_t& found) {
  std::vector<uint8_t> buf(size);
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(offset);
  DWORD got = 0;
  if (!SetFilePointerEx(h, li, nullptr, FILE_BEGIN) || !ReadFile(h, buf.data(), size, &got, nullptr)) return false;
  for (DWORD i = 0; i + 6 <= got; ++i)
    if (memcmp(&buf[i], kSignature, 6) == 0) {
      found = offset + i;
      return true;
    }
  return false;
}

// Closes the engine archive and clears the cancel flag however Extract ends.
struct TExtractGuard {
  IInArchive* Archive;
  TSevenZip* Owner;
  ~TExtractGuard() {
    if (Archive) Archive->Close();
    Owner->ResetCancel();
  }
};

// The engine's result as the report tells it: its code, and the system's
// reason when the code carries a Windows error (a full disk, say).
std::string EngineFailureText(HRESULT result) {
  std::string text = Format("Extraction failed (error %08lX)", static_cast<unsigned long>(result));
  if (HRESULT_FACILITY(result) == FACILITY_WIN32) text += ": " + SystemErrorText(HRESULT_CODE(result));
  return text;
}

const char kReadFailed[] = "Reading the archive failed: %s";
const char kNearDamage[] = "Data Error: removed, its data reach the damaged end of the archive";
const char kNotOpened[] = "The archive cannot be opened: it is damaged, or not of the kind its content shows";
constexpr size_t kTarBlock = 512;
}  // namespace

TSevenZip::TSevenZip(TComponent* Owner) : TSevenZip(Owner, L"7za.dll", kFormat7z) {}

TSevenZip::TSevenZip(TComponent* Owner, const std::wstring& Library, uint8_t Format)
    : TComponent(Owner), FLibraryName(Library), FFormat(Format) {
  ResetCancel();
  FLibrary = TModule::Load(Library.c_str());
  FCreateObject = FLibrary.Proc<TCreateObjectFunc>("CreateObject");
  if (FCreateObject == nullptr) throw ESevenZipEngineMissing(WideToAnsi(Library));
  const GUID format = SevenZipIds::FormatClassId(Format);
  // Only the reading side: the component extracts, it makes no archives.
  FCreateObject(&format, &IID_IInArchive, FInArchive.PutVoid());
}

TSevenZip::~TSevenZip() {
  // The engine's objects go before the engine itself.
  FInArchive.Reset();
  SelectedItems.Clear();
}

void TSevenZip::Message(int32_t code, const std::string& text, const std::wstring& fileName) {
  if (OnMessage) OnMessage(this, code, text, fileName);
}

void TSevenZip::TraceLine(const std::wstring& text) { SevenZipTrace(L"%ls", text.c_str()); }

void TSevenZip::SetSFXCreate(bool value) {
  FSFXCreate = false;
  if (!value) return;
  const uint64_t size = FileSizeW(SFXModule);
  if (size == 0) return;
  if (FVolumeSize > 0 && static_cast<uint64_t>(FVolumeSize) < size + 7) FVolumeSize = static_cast<int32_t>(size + 7);
  SFXOffset = size;
  FSFXCreate = true;
}

void TSevenZip::SetVolumeSize(int32_t value) {
  if (FSFXCreate && value > 0 && static_cast<uint64_t>(value) < SFXOffset)
    FVolumeSize = static_cast<int32_t>(SFXOffset + 7);
  else
    FVolumeSize = value;
}

bool TSevenZip::IsSFXArchive(const std::wstring& path) {
  if (UpperCaseW(ExtractFileExtW(path)) != L".EXE") return false;
  SFXOffset = 0;
  SFXDetected = false;
  const THandle file(CreateFileAuto(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
  if (!file) return false;
  const HANDLE h = file.Get();
  LARGE_INTEGER zero{}, end{};
  const uint64_t fileSize = SetFilePointerEx(h, zero, &end, FILE_END) ? static_cast<uint64_t>(end.QuadPart) : 0;

  // Self-extractor modules are at least 64 KiB: look for the signature in the
  // 80 KiB that follow.
  bool found = FindSignature(h, 65536, 81920, SFXOffset);
  // Otherwise the data follows the executable image, right after it or after
  // an installer's configuration block: its end is taken from the PE section
  // table (the largest raw data end of any section).
  if (!found) {
    uint32_t peOffset = 0;
    uint16_t sections = 0, optionalSize = 0;
    if (ReadAt(h, 60, &peOffset, 4) && ReadAt(h, uint64_t(peOffset) + 6, &sections, 2) &&
        ReadAt(h, uint64_t(peOffset) + 20, &optionalSize, 2)) {
      // The historical candidate: the value at header + 248 + 40 x (N + 1) - 20.
      uint32_t candidate = 0;
      if (ReadAt(h, uint64_t(peOffset) + 248 + 40ull * (sections + 1) - 20, &candidate, 4) && candidate != fileSize &&
          SignatureAt(h, candidate)) {
        SFXOffset = candidate;
        found = true;
      }
      uint64_t imageEnd = 0;
      const uint64_t table = uint64_t(peOffset) + 24 + optionalSize;
      for (uint32_t s = 0; !found && s < sections; ++s) {
        uint32_t raw[2] = {0, 0};  // SizeOfRawData, PointerToRawData
        if (!ReadAt(h, table + 40ull * s + 16, raw, 8)) break;
        imageEnd = std::max<uint64_t>(imageEnd, uint64_t(raw[1]) + raw[0]);
      }
      if (!found && imageEnd != 0 && imageEnd < fileSize) found = FindSignature(h, imageEnd, 65536, SFXOffset);
    }
  }
  SFXDetected = found;
  return found;
}

int32_t TSevenZip::FindItemPath(const std::wstring& path) {
  UINT32 count = 0;
  if (FInArchive->GetNumberOfItems(&count) != S_OK) return -1;
  std::wstring wanted = path;
  for (wchar_t& c : wanted)
    if (c == L'/') c = L'\\';
  wanted = UpperCaseW(wanted);
  for (UINT32 i = 0; i < count; ++i) {
    std::wstring itemPath = ReadItemInfo(FInArchive.Get(), i).Path;
    for (wchar_t& c : itemPath)
      if (c == L'/') c = L'\\';
    if (UpperCaseW(itemPath) == wanted) return static_cast<int32_t>(i);
  }
  return -1;
}

TReaderOptions TSevenZip::ReaderOptions() {
  TReaderOptions options;
  options.Sfx = SFXDetected;
  options.SfxOffset = SFXOffset;
  options.OnOpenVolume = OnOpenVolume;
  options.Keeper = &FKeeper;
  options.ReadFailure = &FReadFailure;
  return options;
}

TExtractHost TSevenZip::ExtractHost() {
  TExtractHost host;
  host.Sender = this;
  host.Thread = GetCurrentThreadId();
  host.BaseDir = AddTrailingBackslash(ExtrBaseDir);
  host.Options = ExtractOptions;
  host.Password = &Password;
  host.Passwords = &FPasswords;
  host.CancelRequested = &CancelRequested;
  host.StopWanted = StopWanted;
  host.Keeper = &FKeeper;
  host.OnExtractfile = OnExtractfile;
  host.OnProgress = OnProgress;
  host.OnPreProgress = OnPreProgress;
  // Damage reports are counted, so that the archive's own errors are told
  // only when its items did not tell them.
  host.OnMessage = [this](TComponent* Sender, int32_t Code, const std::string& Text, const std::wstring& File) {
    if (Code == SZ_DATA_ERROR || Code == SZ_CRC_ERROR || Code == SZ_UNSUPPORTED_METHOD) ++FDamageReports;
    if (OnMessage) OnMessage(Sender, Code, Text, File);
  };
  host.OnSetExtractName = OnSetExtractName;
  host.OnExtractOverwrite = OnExtractOverwrite;
  host.OnRenamed = OnRenamed;
  host.OnPassword = OnPassword;
  host.OnFileWritten = OnFileWritten;
  host.PathRule = PathRule;
  host.DefaultItemName = DefaultItemName;
  return host;
}

bool TSevenZip::OpenArchive(IArchiveOpenCallback* Callback) {
  // The engine takes references of its own to what it keeps.
  const TComPtr<TMyStreamReader> reader = MakeCom<TMyStreamReader>(ReaderOptions(), true, SZFileName);
  // The parts of a set are found (and a missing one asked for) here, on the
  // thread that extracts, not later on one of the engine's.
  reader->Locate();
  FInArchive->Close();
  return FInArchive->Open(reader.Get(), nullptr, Callback) == S_OK;
}

std::wstring TSevenZip::ArchiveMethods() {
  if (!FInArchive) return L"";
  std::wstring methods;
  if (OpenArchive(nullptr)) {
    PROPVARIANT v;
    PropVariantInit(&v);
    if (FInArchive->GetArchiveProperty(kpidMethod, &v) == S_OK && v.vt == VT_BSTR && v.bstrVal)
      methods.assign(v.bstrVal, SysStringLen(v.bstrVal));
    PropVariantClear(&v);
  }
  FInArchive->Close();
  FKeeper.RethrowKept();
  return methods;
}

uint64_t DictionaryOfMethods(const std::wstring& Methods) {
  // A size as the engine writes it: a power of two by its exponent, or a
  // number with k, m or g.
  const auto sizeOf = [](const std::wstring& Text) -> uint64_t {
    size_t digits = 0;
    while (digits < Text.size() && Text[digits] >= L'0' && Text[digits] <= L'9') ++digits;
    if (digits == 0 || digits > 9) return 0;
    const uint64_t n = std::stoull(Text.substr(0, digits));
    if (digits == Text.size()) return n < 64 ? 1ull << n : 0;
    if (digits + 1 != Text.size()) return 0;
    switch (Text[digits] | 0x20) {
      case L'k': return n << 10;
      case L'm': return n << 20;
      case L'g': return n << 30;
      default: return 0;
    }
  };
  uint64_t most = 0;
  size_t start = 0;
  while (start < Methods.size()) {
    size_t end = Methods.find(L' ', start);
    if (end == std::wstring::npos) end = Methods.size();
    const std::wstring method = Methods.substr(start, end - start);
    start = end + 1;
    const size_t colon = method.find(L':');
    if (colon == std::wstring::npos) continue;
    const std::wstring name = method.substr(0, colon);
    size_t at = colon + 1;
    while (at <= method.size()) {
      size_t next = method.find(L':', at);
      if (next == std::wstring::npos) next = method.size();
      const std::wstring part = method.substr(at, next - at);
      at = next + 1;
      if (part.compare(0, 3, L"mem") == 0)
        most = std::max(most, sizeOf(part.substr(3)));
      else if (name == L"LZMA" || name == L"LZMA2")
        most = std::max(most, sizeOf(part));
    }
  }
  return most;
}

int32_t TSevenZip::IndexOfItemPath(const std::wstring& path) {
  if (!FInArchive) return -1;
  const int32_t result = OpenArchive(nullptr) ? FindItemPath(path) : -1;
  FInArchive->Close();
  FKeeper.RethrowKept();
  return result;
}

int32_t TSevenZip::Extract(bool TestMode) {
  int32_t result = -1;
  FPasswords = TPasswordLog();
  try {
    TExtractGuard guard{FInArchive.Get(), this};
    result = DoExtract(TestMode);
  } catch (...) {
    FKeeper.Keep(std::current_exception());
  }
  if (!FPasswords.Asked)
    FPasswordState = TPasswordState::NotAsked;
  else if (FPasswords.Declined || FPasswords.Missing)
    FPasswordState = TPasswordState::Cancelled;
  else
    FPasswordState = FPasswords.WrongSeen ? TPasswordState::Wrong : TPasswordState::Given;
  // A handler's exception stopped the engine: it leaves here, the archive closed.
  FKeeper.RethrowKept();
  return result;
}

int32_t TSevenZip::DoExtract(bool TestMode) {
  FDamageReports = 0;
  FReadFailure.Clear();
  if (FFormat == kFormat7z && UpperCaseW(ExtractFileExtW(SZFileName)) == L".EXE") {
    if (!IsSFXArchive(SZFileName)) {
      Message(SZ_NOT_SFX, "File is not an 7z SFX archive", SZFileName);
      return -1;
    }
  } else {
    SFXDetected = false;
  }
  if (!FInArchive) {
    Message(SZ_FILE_NOT_FOUND, "File not found", SZFileName);
    return -1;
  }

  const TExtractHost host = ExtractHost();
  if (!OpenArchive(MakeCom<TMyArchiveOpenCallback>(host, ReaderOptions(), SZFileName).Get())) {
    // Encrypted headers that a given password does not open fail the way a
    // wrong password fails them; a declined password is no failure.
    if (FKeeper.Holding() || FPasswords.Declined || ReportReadFailure()) return -1;
    if (FFormat != kFormat7z && !FPasswords.Asked) {
      Message(SZ_FILE_NOT_FOUND, kNotOpened, SZFileName);
    } else if (FPasswords.Missing) {
      Message(SZ_FILE_NOT_FOUND, "Encrypted headers: no password given", SZFileName);
    } else if (FPasswords.Asked) {
      FPasswords.WrongSeen = true;
      Message(SZ_FILE_NOT_FOUND, "Wrong password or damaged headers", SZFileName);
    } else {
      Message(SZ_FILE_NOT_FOUND, "File not found", SZFileName);
    }
    return -1;
  }

  UINT32 count = 0;
  FInArchive->GetNumberOfItems(&count);
  int32_t tarballResult = 0;
  if (UnwrapTarball && !TestMode && SelectedItems.Count == 0 && count == 1 && ExtractTarball(host, tarballResult))
    return tarballResult;
  std::vector<uint32_t> indices;
  uint64_t total = 0;
  for (int32_t i = 0; i < SelectedItems.Count; ++i) {
    const std::wstring& entry = SelectedItems.Strings[i];
    int64_t index = -1;
    if (!TryParseIndex(entry, index)) index = FindItemPath(entry);
    if (index < 0 || index > static_cast<int64_t>(count) - 1) {
      Message(SZ_INDEX_OUT_OF_RANGE, "Index out of Range", std::wstring());
      return -1;
    }
    total += ReadItemInfo(FInArchive.Get(), static_cast<uint32_t>(index)).Size;
    indices.push_back(static_cast<uint32_t>(index));
  }
  if (OnChooseItems && SelectedItems.Count == 0) {
    OnChooseItems(ItemPlaces(), indices);
    if (indices.empty()) return 0;  // nothing chosen, nothing to do
    for (const uint32_t index : indices)
      if (index >= count) {
        Message(SZ_INDEX_OUT_OF_RANGE, "Index out of Range", std::wstring());
        return -1;
      }
  }
  if (total > 0 && OnPreProgress) OnPreProgress(this, static_cast<int64_t>(total));
  if (indices.size() > 1) SortIndices(indices, 0, static_cast<int>(indices.size()) - 1);
  uint64_t size = 0;
  if (!TestMode && OnUnpackedSize && StatedSize(indices, size) && !OnUnpackedSize(this, size)) return -1;

  const TComPtr<TMyArchiveExtractCallback> callback =
      MakeCom<TMyArchiveExtractCallback>(host, FInArchive.Get(), SelectedItems.Count);
  const UINT32 numItems = indices.empty() ? 0xFFFFFFFFu : static_cast<UINT32>(indices.size());
  const HRESULT result =
      FInArchive->Extract(indices.empty() ? nullptr : indices.data(), numItems, TestMode ? 1 : 0, callback.Get());
  // A stop asked for by the callbacks (last selected file done, cancel, an
  // output file that could not be created, a declined password, a handler's
  // exception) was reported already or is no failure; any other non-zero
  // result is the engine giving up.
  // A cancel seen only on an engine worker thread is reported here, on ours.
  if (CancelRequested && !callback->CancelReported) {
    callback->CancelReported = true;
    Message(SZ_USER_CANCELED, "User canceled operation", callback->CurrentName);
  }
  const bool readFailed = ReportReadFailure();
  const bool explained = readFailed || callback->StopRequested || callback->CancelReported || callback->CreateFailed ||
                         FPasswords.Declined || FKeeper.Holding();
  if (result != S_OK && !explained) ReportEngineFailure(result, callback->CurrentName);
  if (result == S_OK && !TestMode) callback->ResolveLinks();
  if (FFormat != kFormat7z && !explained) ReportArchiveErrors(FInArchive.Get(), FDamageReports > 0);
  return static_cast<int32_t>(result);
}

bool TSevenZip::ExtractTarball(const TExtractHost& Host, int32_t& Result) {
  TComPtr<IInArchive> tar;
  const GUID tarFormat = SevenZipIds::FormatClassId(kFormatTar);
  FCreateObject(&tarFormat, &IID_IInArchive, tar.PutVoid());
  TComPtr<IArchiveOpenSeq> sequential;
  if (!tar || tar->QueryInterface(IID_IArchiveOpenSeq, sequential.PutVoid()) != S_OK || !sequential) return false;
  {
    IInArchive* source = FInArchive.Get();
    TPipedItem item([source](IArchiveExtractCallback* Feed) {
      const UINT32 first = 0;
      source->Extract(&first, 1, 0, Feed);
    });
    if (IsTarHeader(item.Reader()->Peek(kTarBlock)) && sequential->OpenSeq(item.Reader()) == S_OK) {
      TExtractHost host = Host;
      host.SourceDone = &item.Done();
      host.SourceTotal = FileSizeW(SZFileName);
      const TComPtr<TMyArchiveExtractCallback> callback = MakeCom<TMyArchiveExtractCallback>(host, tar.Get(), 0);
      const HRESULT result = tar->Extract(nullptr, 0xFFFFFFFFu, 0, callback.Get());
      const bool complete = result == S_OK && !CancelRequested && !FKeeper.Holding();
      // The compressor's own verdict on its stream (its CRC) comes at its end.
      const int32_t streamResult = item.Finish(complete);
      if (CancelRequested && !callback->CancelReported) {
        callback->CancelReported = true;
        Message(SZ_USER_CANCELED, "User canceled operation", callback->CurrentName);
      }
      const bool readFailed = ReportReadFailure();
      const bool explained = readFailed || callback->CancelReported || callback->CreateFailed || FKeeper.Holding();
      if (result != S_OK && !explained) ReportEngineFailure(result, callback->CurrentName);
      // A compressed stream cut short decodes to some bytes of nothing after
      // its end, which can complete the last file: that file goes.
      const bool cut = streamResult == kOpResultUnexpectedEnd || streamResult == kOpResultDataError;
      if (cut && !callback->LastKept.empty() && RemoveFile(callback->LastKept))
        Message(SZ_DATA_ERROR, kNearDamage, callback->LastKept);
      if (complete) {
        callback->ResolveLinks();
        if (streamResult != kOpResultOK && streamResult != -1 && !readFailed) {
          int32_t code = 0;
          std::string text;
          OperationFailure(streamResult, code, text);
          Message(code, text, SZFileName);
        }
      }
      if (!explained) ReportArchiveErrors(tar.Get(), FDamageReports > 0);
      tar->Close();
      Result = static_cast<int32_t>(result);
      return true;
    }
  }
  // Not a tarball: the compressor starts over, for its item itself.
  tar.Reset();
  if (OpenArchive(nullptr)) return false;
  Message(SZ_FILE_NOT_FOUND, kNotOpened, SZFileName);
  Result = -1;
  return true;
}

void TSevenZip::ReportEngineFailure(HRESULT Result, const std::wstring& Writing) {
  if (HRESULT_FACILITY(Result) == FACILITY_WIN32 && IsDiskFullCode(HRESULT_CODE(Result)))
    Message(SZ_DISK_FULL, EngineFailureText(Result), Writing);
  else
    Message(SZ_EXTRACT_FAILED, EngineFailureText(Result), SZFileName);
}

bool TSevenZip::ReportReadFailure() {
  std::wstring file;
  DWORD error = 0;
  if (!FReadFailure.Failed(file, error)) return false;
  FReadFailure.Clear();  // told once
  Message(SZ_READ_FAILED, WithName(kReadFailed, SystemErrorText(error)), file);
  return true;
}

namespace {
// A number property of the engine's; false when it states none.
bool NumberOf(const PROPVARIANT& v, uint64_t& Number) {
  switch (v.vt) {
    case VT_UI8: Number = v.uhVal.QuadPart; return true;
    case VT_UI4: Number = v.ulVal; return true;
    case VT_I8: Number = static_cast<uint64_t>(v.hVal.QuadPart); return true;
    default: return false;
  }
}
}  // namespace

std::vector<TItemPlace> TSevenZip::ItemPlaces() {
  PROPVARIANT v;
  PropVariantInit(&v);
  // Item offsets count from the archive's own (data before it, as in a
  // self-extractor); a negative one wraps as the sum does.
  uint64_t base = 0;
  if (FInArchive->GetArchiveProperty(kpidOffset, &v) == S_OK && !NumberOf(v, base)) base = 0;
  PropVariantClear(&v);
  UINT32 count = 0;
  if (FInArchive->GetNumberOfItems(&count) != S_OK) count = 0;
  std::vector<TItemPlace> places(count);
  for (UINT32 i = 0; i < count; ++i) {
    TItemPlace& place = places[i];
    uint64_t offset = 0;
    place.Known = FInArchive->GetProperty(i, kpidOffset, &v) == S_OK && NumberOf(v, offset);
    PropVariantClear(&v);
    place.Known = place.Known && FInArchive->GetProperty(i, kpidPackSize, &v) == S_OK && NumberOf(v, place.PackSize);
    PropVariantClear(&v);
    place.Offset = base + offset;
  }
  return places;
}

bool TSevenZip::StatedSize(const std::vector<uint32_t>& Indices, uint64_t& Size) {
  UINT32 count = 0;
  if (FInArchive->GetNumberOfItems(&count) != S_OK) return false;
  const size_t items = Indices.empty() ? count : Indices.size();
  Size = 0;
  for (size_t i = 0; i < items; ++i) {
    const UINT32 index = Indices.empty() ? static_cast<UINT32>(i) : Indices[i];
    PROPVARIANT v;
    PropVariantInit(&v);
    const bool folder = FInArchive->GetProperty(index, kpidIsDir, &v) == S_OK && v.vt == VT_BOOL && v.boolVal;
    PropVariantClear(&v);
    if (folder) continue;
    uint64_t size = 0;
    bool stated = FInArchive->GetProperty(index, kpidSize, &v) == S_OK;
    if (stated && v.vt == VT_UI8)
      size = v.uhVal.QuadPart;
    else if (stated && v.vt == VT_UI4)
      size = v.ulVal;
    else
      stated = false;
    PropVariantClear(&v);
    if (!stated) return false;
    Size = size > UINT64_MAX - Size ? UINT64_MAX : Size + size;
  }
  return true;
}

void TSevenZip::ReportArchiveErrors(IInArchive* Archive, bool ItemsFailed) {
  if (ItemsFailed) return;  // the items' failures said it
  PROPVARIANT v;
  PropVariantInit(&v);
  // Its errors, and its warnings: damage the engine read past (a tar
  // header it could not parse whole, say), which still leaves items wrong.
  uint32_t flags = 0;
  for (const PROPID id : {kpidErrorFlags, kpidWarningFlags}) {
    if (Archive->GetArchiveProperty(id, &v) == S_OK && v.vt == VT_UI4) flags |= v.ulVal;
    PropVariantClear(&v);
  }
  int32_t code = 0;
  std::string text;
  if (ArchiveFailure(flags, code, text)) Message(code, text, SZFileName);
}
