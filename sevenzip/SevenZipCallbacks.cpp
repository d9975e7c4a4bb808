#include "SevenZipCallbacks.h"

#include "SevenZip.h"
#include "SevenZipPaths.h"

namespace {
HRESULT AnswerPassword(const std::wstring& password, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (password.empty()) return S_FALSE;
  *out = SysAllocStringLen(password.data(), static_cast<UINT>(password.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}
}  // namespace

// ---------------------------------------------------------------------------
// TMyArchiveOpenCallback

TMyArchiveOpenCallback::TMyArchiveOpenCallback(TSevenZip* Owner) : FOwner(Owner), FPassword(Owner->Password) {}

IUnknown* TMyArchiveOpenCallback::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IArchiveOpenCallback) return static_cast<IArchiveOpenCallback*>(this);
  if (iid == IID_ICryptoGetTextPassword) return static_cast<ICryptoGetTextPassword*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::SetTotal(const UINT64*, const UINT64*) { return S_OK; }
HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::SetCompleted(const UINT64*, const UINT64*) { return S_OK; }

HRESULT STDMETHODCALLTYPE TMyArchiveOpenCallback::CryptoGetTextPassword(BSTR* password) {
  return AnswerPassword(FPassword, password);
}

// ---------------------------------------------------------------------------
// TMyArchiveExtractCallback

TMyArchiveExtractCallback::TMyArchiveExtractCallback(TSevenZip* Owner, IInArchive* Archive, bool /*TestMode*/,
                                                     int64_t Remaining_)
    : BaseDir(AddTrailingBackslash(Owner->ExtrBaseDir)),
      Remaining(Remaining_),
      FOwner(Owner),
      FArchive(Archive),
      FPassword(Owner->Password) {}

IUnknown* TMyArchiveExtractCallback::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IArchiveExtractCallback) return static_cast<IArchiveExtractCallback*>(this);
  if (iid == IID_ICryptoGetTextPassword) return static_cast<ICryptoGetTextPassword*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::CryptoGetTextPassword(BSTR* password) {
  return AnswerPassword(FPassword, password);
}

// Reports a cancel once; true when the owner asked to cancel.
bool TMyArchiveExtractCallback::CancelSeen() {
  if (!FOwner->CancelRequested) return false;
  if (!CancelReported) {
    CancelReported = true;
    FOwner->Message(SZ_USER_CANCELED, "User canceled operation", CurrentName);
  }
  return true;
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::SetTotal(UINT64 total) {
  SevenZipTrace(L"TMyArchiveExtractCallback.SetTotal( %llu )", static_cast<unsigned long long>(total));
  try {
    if (Remaining == 0 && FOwner->OnPreProgress) FOwner->OnPreProgress(FOwner, static_cast<int64_t>(total));
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::SetCompleted(const UINT64* completeValue) {
  try {
    const uint64_t completed = completeValue ? *completeValue : LastCompleted;
    SevenZipTrace(L"TMyArchiveExtractCallback.SetCompleted( %llu )", static_cast<unsigned long long>(completed));
    if (FileProgress == 0 && FOwner->OnExtractfile)
      FOwner->OnExtractfile(FOwner, CurrentName, static_cast<int64_t>(CurrentSize));
    FileProgress += completed - LastCompleted;
    LastCompleted = completed;
    if (FOwner->OnProgress)
      FOwner->OnProgress(FOwner, CurrentName, static_cast<int64_t>(completed), static_cast<int64_t>(FileProgress));
    if (StopRequested) return S_FALSE;
    if (CancelSeen()) return S_FALSE;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::GetStream(UINT32 index, ISequentialOutStream** outStream,
                                                               INT32 askExtractMode) {
  SevenZipTrace(L"__TMyArchiveExtractCallback.GetStream( %u, %.8x, %d )", index, 0u, askExtractMode);
  if (outStream == nullptr) return E_POINTER;
  *outStream = nullptr;
  try {
    return DoGetStream(index, outStream, askExtractMode);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT TMyArchiveExtractCallback::DoGetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) {
  // The engine goes on with the next item when GetStream answers 1 (S_FALSE);
  // E_ABORT makes it end the extraction as intended.
  if (CancelSeen()) return E_ABORT;
  if (askExtractMode == kExtractModeSkip) return S_OK;
  const TItemInfo item = ReadItemInfo(FArchive, index);
  if (askExtractMode == kExtractModeTest) {
    CurrentName = item.Path;
    FileProgress = 0;
    CurrentSize = item.Size;
    return S_OK;
  }
  if (askExtractMode != kExtractModeExtract) return S_OK;

  // The item path is made relative and kept below BaseDir, whatever the
  // archive says (no "..", drive or UNC paths).
  std::wstring relative = SafeRelativeItemPath(item.Path);
  if (FOwner->ExtractOptions & ExtractNoPath) relative = ExtractFileNameW(relative);
  if (relative.empty()) return S_OK;  // nothing of the name is left: the item is skipped
  std::wstring name = BaseDir + relative;
  if (FOwner->OnSetExtractName) FOwner->OnSetExtractName(FOwner, name);

  if (FileExistsW(name)) {
    bool doOverwrite = (FOwner->ExtractOptions & ExtractOverwrite) != 0;
    if (FOwner->OnExtractOverwrite) FOwner->OnExtractOverwrite(FOwner, name, doOverwrite);
    if (!doOverwrite) return S_OK;
  }
  CurrentName = name;
  FileProgress = 0;
  CurrentSize = item.Size;

  const bool isFolder = (item.Attrib & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // Attribute bits a folder or file can carry on Windows.
  const uint16_t attributes =
      static_cast<uint16_t>(item.Attrib & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  if (isFolder) {
    bool ok;
    if (UseWideFileApi)
      ok = ForceDirectoriesW(name, attributes);
    else
      ok = ForceDirectoriesW(AnsiToWide(WideToAnsi(name)), 0);
    if (!ok) FOwner->Message(SZ_CREATE_FAILED, "Could not create folder", name);
    return S_OK;
  }

  if (--Remaining == 0) LastRequested = true;

  const std::wstring folder = ExtractFilePathW(name);
  if (!folder.empty()) {
    const std::wstring dir = UseWideFileApi ? folder : AnsiToWide(WideToAnsi(folder));
    ForceDirectoriesW(dir, 0);  // a failure shows when the file is created
  }
  try {
    TMyStreamWriter* writer = new TMyStreamWriter(name, FileTimeToDateTime(item.MTime, 1), item.Attrib, 0, false);
    // A missing time (zero) gives a date before 1980, which leaves the file's own time.
    writer->AddRef();
    *outStream = static_cast<IOutStream*>(writer);
    return S_OK;
  } catch (...) {
    // The output file cannot be created (or replaced, e.g. when read-only):
    // the extraction ends here; files already written stay.
    CreateFailed = true;
    FOwner->Message(SZ_CREATE_FAILED, "Could not create file", name);
    return E_ABORT;
  }
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::PrepareOperation(INT32 askExtractMode) {
  SevenZipTrace(L"TMyArchiveExtractCallback.PrepareOperation( %d )", askExtractMode);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TMyArchiveExtractCallback::SetOperationResult(INT32 opRes) {
  SevenZipTrace(L"TMyArchiveExtractCallback.SetOperationResult( %d )", opRes);
  try {
    switch (opRes) {
      case kOpResultOK: break;
      case kOpResultUnsupportedMethod: FOwner->Message(SZ_UNSUPPORTED_METHOD, "Unsupported Method", CurrentName); break;
      case kOpResultDataError: FOwner->Message(SZ_DATA_ERROR, "Data Error", CurrentName); break;
      case kOpResultCRCError: FOwner->Message(SZ_CRC_ERROR, "CRC Error", CurrentName); break;
      // The engine's other item failures are damage of the same kind: they
      // are reported with the data error code and the engine's reason.
      case kOpResultUnavailable: FOwner->Message(SZ_DATA_ERROR, "Data Error: unavailable data", CurrentName); break;
      case kOpResultUnexpectedEnd:
        FOwner->Message(SZ_DATA_ERROR, "Data Error: unexpected end of data", CurrentName);
        break;
      case kOpResultDataAfterEnd: FOwner->Message(SZ_DATA_ERROR, "Data Error: data after the end", CurrentName); break;
      case kOpResultIsNotArc: FOwner->Message(SZ_DATA_ERROR, "Data Error: not an archive", CurrentName); break;
      case kOpResultHeadersError: FOwner->Message(SZ_DATA_ERROR, "Data Error: headers error", CurrentName); break;
      case kOpResultWrongPassword: FOwner->Message(SZ_DATA_ERROR, "Data Error: wrong password", CurrentName); break;
      default: FOwner->Message(SZ_DATA_ERROR, "Data Error: code " + std::to_string(opRes), CurrentName); break;
    }
    if (LastRequested) StopRequested = true;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}
