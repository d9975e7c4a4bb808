#pragma once
// The callback objects the engine calls while it opens an archive
// (TMyArchiveOpenCallback) and while it extracts or tests items
// (TMyArchiveExtractCallback). The extract callback decides each output path,
// applies the overwrite rule, creates folders and output files and turns the
// engine's reports into TSevenZip's events.

#include <cstdint>
#include <string>

#include "SevenZipEngine.h"
#include "SevenZipStreams.h"

class TSevenZip;

class TMyArchiveOpenCallback final : public IArchiveOpenCallback,
                                     public ICryptoGetTextPassword,
                                     public TInterfacedObject {
 public:
  explicit TMyArchiveOpenCallback(TSevenZip* Owner);

  QUARN_IUNKNOWN_METHODS
  HRESULT STDMETHODCALLTYPE SetTotal(const UINT64* files, const UINT64* bytes) override;
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* files, const UINT64* bytes) override;
  HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
  const wchar_t* ClassName() const override { return L"TMyArchiveOpenCallback"; }

 private:
  TSevenZip* FOwner;
  std::wstring FPassword;
};

class TMyArchiveExtractCallback final : public IArchiveExtractCallback,
                                        public ICryptoGetTextPassword,
                                        public TInterfacedObject {
 public:
  TMyArchiveExtractCallback(TSevenZip* Owner, IInArchive* Archive, bool TestMode, int64_t Remaining);

  QUARN_IUNKNOWN_METHODS
  HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) override;
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* completeValue) override;
  HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) override;
  HRESULT STDMETHODCALLTYPE PrepareOperation(INT32 askExtractMode) override;
  HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 opRes) override;
  HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;

  std::wstring BaseDir;
  std::wstring CurrentName;
  uint64_t FileProgress = 0;
  uint64_t CurrentSize = 0;
  uint64_t LastCompleted = 0;
  int64_t Remaining;
  bool LastRequested = false;
  bool StopRequested = false;
  // A failure or cancel was already reported through OnMessage.
  bool CancelReported = false;
  bool CreateFailed = false;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
  const wchar_t* ClassName() const override { return L"TMyArchiveExtractCallback"; }

 private:
  HRESULT DoGetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode);
  bool CancelSeen();

  TSevenZip* FOwner;
  IInArchive* FArchive;
  std::wstring FPassword;
};
