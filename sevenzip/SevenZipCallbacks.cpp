#include "SevenZipCallbacks.h"

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

// How each result of an item the engine reports is told to the user.
struct TOperationMessage {
  int32_t Result;
  int32_t Code;
  const char* Text;
};
// The engine's other item failures are damage of the same kind: they are
// reported with the data error code and the engine's reason.
const TOperationMessage kOperationMessages[] = {
    {kOpResultUnsupportedMethod, SZ_UNSUPPORTED_METHOD, "Unsupported Method"},
    {kOpResultDataError, SZ_DATA_ERROR, "Data Error"},
    {kOpResultCRCError, SZ_CRC_ERROR, "CRC Error"},
    {kOpResultUnavailable, SZ_DATA_ERROR, "Data Error: unavailable data"},
    {kOpResultUnexpectedEnd, SZ_DATA_ERROR, "Data Error: unexpected end of data"},
    {kOpResultDataAfterEnd, SZ_DATA_ERROR, "Data Error: data after the end"},
    {kOpResultIsNotArc, SZ_DATA_ERROR, "Data Error: not an archive"},
    {kOpResultHeadersError, SZ_DATA_ERROR, "Data Error: headers error"},
    {kOpResultWrongPassword, SZ_DATA_ERROR, "Data Error: wrong password"},
};
const char kWrongPasswordOrDamage[] = "Data Error: wrong password or damaged data";

// Attribute bits a folder or file can carry on Windows.
constexpr uint32_t kWindowsAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
}  // namespace

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
  return info;
}

// ---------------------------------------------------------------------------
// TMyArchiveOpenCallback

TMyArchiveOpenCallback::TMyArchiveOpenCallback(const TExtractHost& Host) : FHost(Host) {}

IUnknown* TMyArchiveOpenCallback::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IArchiveOpenCallback) return static_cast<IArchiveOpenCallback*>(this);
  if (iid == IID_ICryptoGetTextPassword) return static_cast<ICryptoGetTextPassword*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::SetTotal(const UINT64*, const UINT64*) { return S_OK; }
HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::SetCompleted(const UINT64*, const UINT64*) { return S_OK; }

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::CryptoGetTextPassword(BSTR* password) {
  return EngineCall(FHost.Keeper, [&] { return AnswerPassword(FHost, password); });
}

// ---------------------------------------------------------------------------
// TMyArchiveExtractCallback

TMyArchiveExtractCallback::TMyArchiveExtractCallback(const TExtractHost& Host, IInArchive* Archive, int64_t Remaining_)
    : Remaining(Remaining_), FHost(Host), FArchive(Archive) {}

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
  return EngineCall(FHost.Keeper, [&] {
    if (Remaining == 0 && FHost.OnPreProgress) FHost.OnPreProgress(FHost.Sender, static_cast<int64_t>(total));
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::SetCompleted(const UINT64* completeValue) {
  return EngineCall(FHost.Keeper, [&] {
    const uint64_t completed = completeValue ? *completeValue : LastCompleted;
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
  // the archive says (no "..", drive, UNC or device names).
  const TSafePath<std::wstring> safe = SafeRelativePath(item.Path);
  std::wstring relative = safe.Path;
  if (FHost.Options & ExtractNoPath) relative = ExtractFileNameW(relative);
  if ((relative.empty() || safe.Renamed) && FHost.OnRenamed) FHost.OnRenamed(FHost.Sender, item.Path, relative);
  if (relative.empty()) return S_OK;  // nothing of the name is left: the item is skipped
  std::wstring name = FHost.BaseDir + relative;
  if (FHost.OnSetExtractName) FHost.OnSetExtractName(FHost.Sender, name);

  if (FileExistsW(name)) {
    bool doOverwrite = (FHost.Options & ExtractOverwrite) != 0;
    if (FHost.OnExtractOverwrite) FHost.OnExtractOverwrite(FHost.Sender, name, doOverwrite);
    if (!doOverwrite) return S_OK;
  }
  CurrentName = name;
  FileProgress = 0;
  CurrentSize = item.Size;

  if (item.Attrib & FILE_ATTRIBUTE_DIRECTORY) {
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
      const TOperationMessage* found = nullptr;
      for (const TOperationMessage& m : kOperationMessages)
        if (m.Result == opRes) found = &m;
      if (wrongPassword && opRes != kOpResultWrongPassword)
        FHost.Message(SZ_DATA_ERROR, kWrongPasswordOrDamage, CurrentName);
      else if (found != nullptr)
        FHost.Message(found->Code, found->Text, CurrentName);
      else
        FHost.Message(SZ_DATA_ERROR, "Data Error: code " + std::to_string(opRes), CurrentName);
    }
    if (LastRequested) StopRequested = true;
    return S_OK;
  });
}
