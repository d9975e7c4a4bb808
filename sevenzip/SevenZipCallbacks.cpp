#include "SevenZipCallbacks.h"

#include <algorithm>

#include "Files.h"
#include "SafePath.h"
#include "SevenZipPaths.h"

namespace {
// Answers the engine's request for the password with the component's
// Password, which OnPassword is asked to set when it is empty. When the
// handler gives none the engine is stopped; without a handler the engine is
// told there is no password and goes on (its items then fail as damaged).
HRESULT AnswerPassword(const TExtractHost& Host, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  TPasswordLog& log = *Host.Passwords;
  log.Asked = true;
  std::wstring& password = *Host.Password;
  if (password.empty() && Host.OnPassword) {
    std::wstring given;
    if (!Host.OnPassword(Host.Sender, given) || given.empty()) {
      log.Declined = true;
      return E_ABORT;
    }
    password = given;
  }
  if (password.empty()) {
    log.Missing = true;
    return S_FALSE;
  }
  *out = SysAllocStringLen(password.data(), static_cast<UINT>(password.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Results with which the engine reports an encrypted item whose password is wrong.
bool FailsAsWrongPassword(int32_t opRes) {
  return opRes == kOpResultDataError || opRes == kOpResultCRCError || opRes == kOpResultWrongPassword;
}

// How each failure the engine reports is told to the user: an item's result
// (kOpResult..., -1: none) and the error flag of a whole archive that means
// the same (kErrorFlag..., 0: none), in the order an archive's flags are
// told. The engine's other item failures are damage of the same kind: they
// are reported with the data error code and the engine's reason.
struct TEngineFailure {
  int32_t Result;
  uint32_t Flag;
  int32_t Code;
  const char* Text;
};
const TEngineFailure kEngineFailures[] = {
    {-1, kErrorFlagUnexpectedEnd, SZ_DATA_ERROR, "Data Error: the archive ends before its data do (it is cut short)"},
    {kOpResultHeadersError, kErrorFlagHeadersError, SZ_DATA_ERROR, "Data Error: headers error"},
    {kOpResultDataError, kErrorFlagDataError, SZ_DATA_ERROR, "Data Error"},
    {kOpResultCRCError, kErrorFlagCrcError, SZ_CRC_ERROR, "CRC Error"},
    {kOpResultUnsupportedMethod, kErrorFlagUnsupportedMethod, SZ_UNSUPPORTED_METHOD, "Unsupported Method"},
    {kOpResultUnavailable, 0, SZ_DATA_ERROR, "Data Error: unavailable data"},
    {kOpResultUnexpectedEnd, 0, SZ_DATA_ERROR, "Data Error: unexpected end of data"},
    {kOpResultDataAfterEnd, 0, SZ_DATA_ERROR, "Data Error: data after the end"},
    {kOpResultIsNotArc, 0, SZ_DATA_ERROR, "Data Error: not an archive"},
    {kOpResultWrongPassword, 0, SZ_DATA_ERROR, "Data Error: wrong password"},
};
const char kWrongPasswordOrDamage[] = "Data Error: wrong password or damaged data";

const char kSpecialFile[] = "Not made: a device file, FIFO or socket";
// The Unix file types an archive may hold that have no place on Windows.
bool IsSpecialFile(uint32_t Mode) {
  const uint32_t type = Mode & 0170000;
  return type == 0020000 || type == 0060000 || type == 0010000 || type == 0140000;  // char, block, FIFO, socket
}

// The engine on Windows gives a "\" held inside an item's name (a 7z or tar
// made where "\" is a plain character of names) as this private character,
// keeping "\" for the separators it makes of "/". Windows has no such
// names: such a "\" is read as a separator, as Windows programs wrote it,
// and the rule for item names then keeps the path inside the folder.
constexpr wchar_t kBackslashInName = 0xF05C;

void BackslashesAsSeparators(std::wstring& Path) {
  for (wchar_t& c : Path)
    if (c == kBackslashInName) c = L'\\';
}

std::wstring StringProperty(IInArchive* Archive, uint32_t Index, PROPID Id) {
  std::wstring text;
  PROPVARIANT v;
  PropVariantInit(&v);
  if (Archive->GetProperty(Index, Id, &v) == S_OK && v.vt == VT_BSTR && v.bstrVal)
    text.assign(v.bstrVal, SysStringLen(v.bstrVal));
  PropVariantClear(&v);
  return text;
}

// Attribute bits a folder or file can carry on Windows.
constexpr uint32_t kWindowsAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
}  // namespace

void OperationFailure(int32_t OpRes, int32_t& Code, std::string& Text) {
  for (const TEngineFailure& f : kEngineFailures)
    if (f.Result == OpRes) {
      Code = f.Code;
      Text = f.Text;
      return;
    }
  Code = SZ_DATA_ERROR;
  Text = "Data Error: code " + std::to_string(OpRes);
}

bool ArchiveFailure(uint32_t Flags, int32_t& Code, std::string& Text) {
  for (const TEngineFailure& f : kEngineFailures)
    if (Flags & f.Flag) {
      Code = f.Code;
      Text = f.Text;
      return true;
    }
  return false;
}

TItemInfo ReadItemInfo(IInArchive* Archive, uint32_t Index) {
  TItemInfo info;
  PROPVARIANT v;
  PropVariantInit(&v);
  if (Archive->GetProperty(Index, kpidPath, &v) == S_OK && v.vt == VT_BSTR && v.bstrVal)
    info.Path.assign(v.bstrVal, SysStringLen(v.bstrVal));
  PropVariantClear(&v);
  if (Archive->GetProperty(Index, kpidSize, &v) == S_OK) {
    if (v.vt == VT_UI8)
      info.Size = v.uhVal.QuadPart;
    else if (v.vt == VT_UI4)
      info.Size = v.ulVal;
  }
  PropVariantClear(&v);
  if (Archive->GetProperty(Index, kpidAttrib, &v) == S_OK && v.vt == VT_UI4) info.Attrib = v.ulVal;
  PropVariantClear(&v);
  if (Archive->GetProperty(Index, kpidMTime, &v) == S_OK && v.vt == VT_FILETIME) info.MTime = v.filetime;
  PropVariantClear(&v);
  if (Archive->GetProperty(Index, kpidEncrypted, &v) == S_OK && v.vt == VT_BOOL) info.Encrypted = v.boolVal != 0;
  PropVariantClear(&v);
  if (Archive->GetProperty(Index, kpidIsDir, &v) == S_OK && v.vt == VT_BOOL) info.IsDir = v.boolVal != 0;
  PropVariantClear(&v);
  if (Archive->GetProperty(Index, kpidPosixAttrib, &v) == S_OK && v.vt == VT_UI4) info.PosixMode = v.ulVal;
  PropVariantClear(&v);
  // Archives made on Unix keep the mode in the high half of the attributes.
  if (info.PosixMode == 0 && (info.Attrib & 0x8000)) info.PosixMode = info.Attrib >> 16;
  info.SymLink = StringProperty(Archive, Index, kpidSymLink);
  info.HardLink = StringProperty(Archive, Index, kpidHardLink);
  BackslashesAsSeparators(info.Path);
  BackslashesAsSeparators(info.HardLink);
  return info;
}

// ---------------------------------------------------------------------------
// TMyArchiveOpenCallback

TMyArchiveOpenCallback::TMyArchiveOpenCallback(const TExtractHost& Host, const TReaderOptions& Volumes,
                                               const std::wstring& ArchiveName)
    : FHost(Host), FVolumes(Volumes), FArchiveName(ArchiveName) {}

IUnknown* TMyArchiveOpenCallback::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IArchiveOpenCallback) return static_cast<IArchiveOpenCallback*>(this);
  if (iid == IID_ICryptoGetTextPassword) return static_cast<ICryptoGetTextPassword*>(this);
  if (iid == IID_IArchiveOpenVolumeCallback && !FArchiveName.empty())
    return static_cast<IArchiveOpenVolumeCallback*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::GetProperty(PROPID propID, PROPVARIANT* value) {
  if (value == nullptr) return E_POINTER;
  PropVariantInit(value);
  if (propID != kpidName) return S_OK;
  // The name alone, as handlers expect it: the names they ask for are
  // relative to the archive's folder.
  const std::wstring name = ExtractFileNameW(FArchiveName);
  value->bstrVal = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
  if (value->bstrVal == nullptr) return E_OUTOFMEMORY;
  value->vt = VT_BSTR;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::GetStream(const wchar_t* name, IInStream** inStream) {
  if (inStream == nullptr || name == nullptr) return E_POINTER;
  *inStream = nullptr;
  return EngineCall(FVolumes.Keeper, [&]() -> HRESULT {
    std::wstring asked = name;
    const bool absolute =
        (asked.size() > 1 && asked[1] == L':') || (!asked.empty() && (asked[0] == L'\\' || asked[0] == L'/'));
    if (!absolute) asked = ExtractFilePathW(FArchiveName) + asked;
    auto known = FLocated.find(asked);
    if (known == FLocated.end()) {
      std::wstring path = asked;
      // Asked for once; a file the user names is taken as it is. The
      // handler's guess of a self-extracting first part (NAME.exe) is not a
      // part the set names: it is never asked for.
      if (!FileExistsW(path) && UpperCaseW(ExtractFileExtW(path)) != L".EXE") {
        bool cancel = !FVolumes.OnOpenVolume;
        if (!cancel) FVolumes.OnOpenVolume(path, false, cancel);
        if (cancel) path.clear();
      }
      if (!FileExistsW(path)) path.clear();
      known = FLocated.emplace(asked, path).first;
    }
    if (known->second.empty() || !FileExistsW(known->second)) return S_FALSE;
    TReaderOptions options;
    options.Keeper = FVolumes.Keeper;
    options.ReadFailure = FVolumes.ReadFailure;
    TComPtr<TMyStreamReader> reader = MakeCom<TMyStreamReader>(options, false, known->second);
    *inStream = static_cast<IInStream*>(reader.Detach());
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::SetTotal(const UINT64*, const UINT64*) { return S_OK; }
HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::SetCompleted(const UINT64*, const UINT64*) { return S_OK; }

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::CryptoGetTextPassword(BSTR* password) {
  return EngineCall(FHost.Keeper, [&] { return AnswerPassword(FHost, password); });
}

// ---------------------------------------------------------------------------
// TMyArchiveExtractCallback

TMyArchiveExtractCallback::TMyArchiveExtractCallback(const TExtractHost& Host, IInArchive* Archive, int64_t Remaining_)
    : Remaining(Remaining_), FLinks(Host.BaseDir), FHost(Host), FArchive(Archive) {}

TMyArchiveExtractCallback::~TMyArchiveExtractCallback() {
  try {
    FinishOutput(false);
  } catch (...) {
  }
}

void TMyArchiveExtractCallback::FinishOutput(bool Keep) {
  if (!FWriter) return;
  FWriter.Reset();  // the engine released its reference before: the file is closed here
  if (!Keep) RemoveFile(FWriterName);
  if (Keep) {
    LastKept = FWriterName;
    if (FHost.OnFileWritten) FHost.OnFileWritten(FHost.Sender, FWriterName);
  }
  FWriterName.clear();
}

IUnknown* TMyArchiveExtractCallback::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IArchiveExtractCallback) return static_cast<IArchiveExtractCallback*>(this);
  if (iid == IID_ICryptoGetTextPassword) return static_cast<ICryptoGetTextPassword*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::CryptoGetTextPassword(BSTR* password) {
  return EngineCall(FHost.Keeper, [&] { return AnswerPassword(FHost, password); });
}

// Reports a cancel once; true when the owner asked to cancel.
bool TMyArchiveExtractCallback::CancelSeen() {
  if (FHost.CancelRequested == nullptr || !*FHost.CancelRequested) return false;
  if (!CancelReported) {
    CancelReported = true;
    FHost.Message(SZ_USER_CANCELED, "User canceled operation", CurrentName);
  }
  return true;
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::SetTotal(UINT64 total) {
  SevenZipTrace(L"TMyArchiveExtractCallback.SetTotal( %llu )", static_cast<unsigned long long>(total));
  FTotal = total;
  if (GetCurrentThreadId() != FHost.Thread) return S_OK;  // announced by the extracting thread
  return EngineCall(FHost.Keeper, [&] {
    AnnounceTotal();
    return S_OK;
  });
}

void TMyArchiveExtractCallback::AnnounceTotal() {
  if (FHost.SourceDone != nullptr) {
    // Once: the source's whole, which the engine's own total does not tell.
    if (!FSourceAnnounced && FHost.OnPreProgress)
      FHost.OnPreProgress(FHost.Sender, static_cast<int64_t>(FHost.SourceTotal));
    FSourceAnnounced = true;
    return;
  }
  const uint64_t total = FTotal.exchange(kNoTotal);
  if (total != kNoTotal && Remaining == 0 && FHost.OnPreProgress)
    FHost.OnPreProgress(FHost.Sender, static_cast<int64_t>(total));
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::SetCompleted(const UINT64* completeValue) {
  if (completeValue != nullptr) {
    uint64_t seen = FLatestCompleted.load();
    while (*completeValue > seen && !FLatestCompleted.compare_exchange_weak(seen, *completeValue)) {
    }
  }
  // From a worker thread of the engine only the value is kept (and a stop
  // obeyed); the extracting thread fires the events with it.
  if (GetCurrentThreadId() != FHost.Thread) {
    if (FHost.CancelRequested == nullptr) return S_OK;
    if (!*FHost.CancelRequested && FHost.StopWanted && FHost.StopWanted()) *FHost.CancelRequested = true;
    return *FHost.CancelRequested ? E_ABORT : S_OK;
  }
  return EngineCall(FHost.Keeper, [&] {
    AnnounceTotal();
    const uint64_t latest = FHost.SourceDone != nullptr ? FHost.SourceDone->load() : FLatestCompleted.load();
    const uint64_t completed = std::max(latest, LastCompleted);
    SevenZipTrace(L"TMyArchiveExtractCallback.SetCompleted( %llu )", static_cast<unsigned long long>(completed));
    if (FileProgress == 0 && FHost.OnExtractfile)
      FHost.OnExtractfile(FHost.Sender, CurrentName, static_cast<int64_t>(CurrentSize));
    FileProgress += completed - LastCompleted;
    LastCompleted = completed;
    if (FHost.OnProgress)
      FHost.OnProgress(FHost.Sender, CurrentName, static_cast<int64_t>(completed), static_cast<int64_t>(FileProgress));
    // A cancel ends the engine's work at once, in the middle of an item.
    if (CancelSeen()) return E_ABORT;
    return StopRequested ? S_FALSE : S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::GetStream(UINT32 index, ISequentialOutStream** outStream,
                                                               INT32 askExtractMode) {
  SevenZipTrace(L"__TMyArchiveExtractCallback.GetStream( %u, %.8x, %d )", index, 0u, askExtractMode);
  if (outStream == nullptr) return E_POINTER;
  *outStream = nullptr;
  return EngineCall(FHost.Keeper, [&] { return DoGetStream(index, outStream, askExtractMode); });
}

HRESULT TMyArchiveExtractCallback::DoGetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) {
  // The engine goes on with the next item when GetStream answers 1 (S_FALSE);
  // E_ABORT makes it end the extraction as intended.
  if (CancelSeen()) return E_ABORT;
  if (askExtractMode == kExtractModeSkip) return S_OK;
  const TItemInfo item = ReadItemInfo(FArchive, index);
  FCurrentEncrypted = item.Encrypted;
  if (askExtractMode == kExtractModeTest) {
    CurrentName = item.Path;
    FileProgress = 0;
    CurrentSize = item.Size;
    return S_OK;
  }
  if (askExtractMode != kExtractModeExtract) return S_OK;

  // The item path is made relative and kept below the base folder, whatever
  // the archive says (no "..", drive, UNC or device names, nor a path longer
  // than the system takes whole).
  const std::wstring path = item.Path.empty() ? FHost.DefaultItemName : item.Path;
  bool changed = false;
  std::wstring relative =
      ItemPathBelow(FHost.PathRule, ExcludeTrailingBackslashW(FHost.BaseDir), path, item.IsDir, changed);
  if (FHost.Options & ExtractNoPath) relative = ExtractFileNameW(relative);
  if (changed && FHost.OnRenamed) FHost.OnRenamed(FHost.Sender, path, relative);
  if (relative.empty()) return S_OK;  // nothing of the name is left, or too much: the item is skipped
  std::wstring name = FHost.BaseDir + relative;
  if (FHost.OnSetExtractName) FHost.OnSetExtractName(FHost.Sender, name);

  // Nothing that Windows cannot hold as a plain file is made: devices, FIFOs
  // and sockets are reported; links are made as copies once every file is
  // out (never as links, which could lead outside the folder).
  if (!item.IsDir && IsSpecialFile(item.PosixMode)) {
    FHost.Message(SZ_ITEM_SKIPPED, kSpecialFile, name);
    return S_OK;
  }
  if (!item.IsDir && (!item.SymLink.empty() || !item.HardLink.empty())) {
    const bool hard = item.SymLink.empty();
    FLinks.Add(path, relative, hard ? item.HardLink : item.SymLink, hard);
    return S_OK;
  }

  if (FileExistsW(name)) {
    bool doOverwrite = (FHost.Options & ExtractOverwrite) != 0;
    if (FHost.OnExtractOverwrite) FHost.OnExtractOverwrite(FHost.Sender, name, doOverwrite);
    if (!doOverwrite) return S_OK;
  }
  CurrentName = name;
  FileProgress = 0;
  CurrentSize = item.Size;

  if (item.IsDir || (item.Attrib & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!ForceDirectoriesW(UseWideFileApi ? name : AnsiToWide(WideToAnsi(name)),
                           UseWideFileApi ? static_cast<uint16_t>(item.Attrib & kWindowsAttributes) : 0))
      FHost.Message(SZ_CREATE_FAILED, "Could not create folder", name);
    return S_OK;
  }

  if (--Remaining == 0) LastRequested = true;

  const std::wstring folder = ExtractFilePathW(name);
  // A folder that cannot be made shows when the file is created.
  if (!folder.empty()) ForceDirectoriesW(UseWideFileApi ? folder : AnsiToWide(WideToAnsi(folder)), 0);
  try {
    // A missing time (zero) gives a date before 1980, which leaves the file's own time.
    TComPtr<TMyStreamWriter> writer =
        MakeCom<TMyStreamWriter>(name, FileTimeToDateTime(item.MTime, 1), item.Attrib, 0, false);
    FWriter = writer;
    FWriterName = name;
    *outStream = writer.Detach();
    return S_OK;
  } catch (const EAbort&) {
    // The output file cannot be created (or replaced, e.g. when read-only):
    // the extraction ends here; files already written stay.
    CreateFailed = true;
    FHost.Message(SZ_CREATE_FAILED, "Could not create file", name);
    return E_ABORT;
  }
}

void TMyArchiveExtractCallback::ResolveLinks() {
  FLinks.Make(
      [this](const std::wstring& File) {
        if (FHost.OnFileWritten) FHost.OnFileWritten(FHost.Sender, File);
      },
      [this](TLinkCopies::TNotMade Why, const std::wstring& Link) {
        FHost.Message(Why == TLinkCopies::TNotMade::CopyFailed ? SZ_CREATE_FAILED : SZ_ITEM_SKIPPED,
                      TLinkCopies::Text(Why), Link);
      });
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::PrepareOperation(INT32 askExtractMode) {
  SevenZipTrace(L"TMyArchiveExtractCallback.PrepareOperation( %d )", askExtractMode);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::SetOperationResult(INT32 opRes) {
  SevenZipTrace(L"TMyArchiveExtractCallback.SetOperationResult( %d )", opRes);
  return EngineCall(FHost.Keeper, [&] {
    FinishOutput(opRes == kOpResultOK);
    const TPasswordLog& passwords = *FHost.Passwords;
    const bool passwordGiven = passwords.Asked && !passwords.Declined && !passwords.Missing;
    const bool wrongPassword = FCurrentEncrypted && passwordGiven && FailsAsWrongPassword(opRes);
    if (wrongPassword) FHost.Passwords->WrongSeen = true;
    // Items that fail after a declined password are no failure of their own.
    if (opRes != kOpResultOK && !passwords.Declined) {
      int32_t code = 0;
      std::string text;
      OperationFailure(opRes, code, text);
      if (wrongPassword && opRes != kOpResultWrongPassword)
        FHost.Message(SZ_DATA_ERROR, kWrongPasswordOrDamage, CurrentName);
      else
        FHost.Message(code, text, CurrentName);
    }
    if (LastRequested) StopRequested = true;
    return S_OK;
  });
}
