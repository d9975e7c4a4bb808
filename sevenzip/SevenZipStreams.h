#pragma once
// The objects Quarn hands to the 7-Zip engine: the reference-counted base
// TInterfacedObject, the archive reader TMyStreamReader (plain file, 7z data
// inside an executable, or numbered volumes) and the output file writer
// TMyStreamWriter (optionally split into numbered parts).
//
// Positions and sizes are 64-bit, so archives and outputs of 4 GiB and more
// work. The engine owns these objects through AddRef/Release; the last Release
// destroys them and closes their files.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "SevenZipEngine.h"
#include "Sync.h"
#include "Win32Kit.h"

// Diagnostic trace sink of the 7z component: the line goes to the debugger
// (OutputDebugStringW) when one is attached, otherwise nowhere. Formatting is
// skipped entirely without a debugger.
bool SevenZipTraceEnabled();
void SevenZipTrace(const wchar_t* format, ...);

// Keeps the first exception raised inside a method the engine called (an
// event handler's, say), so that it can be raised again once the engine call
// has returned. The engine may call from its worker threads: Keep is safe to
// call from any thread.
class TExceptionKeeper {
 public:
  void Keep(std::exception_ptr E);
  bool Holding();
  // Raises the kept exception (and forgets it); nothing when none is kept.
  void RethrowKept();

 private:
  TLock FLock;
  std::exception_ptr FFirst;
};

// The first read of an archive's files that failed, and the system's error:
// the engine hears only an error result, the component names the failure
// once the engine call has returned. Safe to use from any thread.
class TReadFailure {
 public:
  void Keep(const std::wstring& File, DWORD Error);
  // True when a read failed since the last Clear; File and Error tell the first.
  bool Failed(std::wstring& File, DWORD& Error);
  void Clear();

 private:
  TLock FLock;
  bool FFailed = false;
  std::wstring FFile;
  DWORD FError = 0;
};

// Runs Body, the body of a method the engine calls, so that no exception
// reaches the engine: one that leaves Body is kept by Keeper (when given) and
// the method answers E_ABORT, which ends the engine's work.
template <typename F>
HRESULT EngineCall(TExceptionKeeper* Keeper, F&& Body) {
  try {
    return Body();
  } catch (...) {
    if (Keeper != nullptr) Keeper->Keep(std::current_exception());
    return E_ABORT;
  }
}

// Base of every object handed to the engine. The reference count starts at 0
// and is changed atomically: the engine may call in from worker threads.
// A subclass lists its interfaces in FindInterface and pulls in the IUnknown
// methods with QUARN_IUNKNOWN_METHODS.
class TInterfacedObject {
 public:
  virtual ~TInterfacedObject() = default;
  ULONG RefCount() const { return static_cast<ULONG>(FRefCount.load()); }

 protected:
  TInterfacedObject() = default;
  ULONG DoAddRef() { return static_cast<ULONG>(++FRefCount); }
  ULONG DoRelease();
  HRESULT DoQueryInterface(REFIID iid, void** out);
  // The interface pointer for iid, or nullptr when the class does not implement it.
  virtual IUnknown* FindInterface(REFIID iid) = 0;
  virtual const wchar_t* ClassName() const = 0;

 private:
  std::atomic<LONG> FRefCount{0};
};

#define QUARN_IUNKNOWN_METHODS                                                                                     \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return DoQueryInterface(iid, out); } \
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }                                                 \
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

// Asked for a missing volume: may change arcFileName to where the part is, or
// set Cancel to give up.
using TOpenVolume = std::function<void(std::wstring& arcFileName, bool Removable, bool& Cancel)>;

// One part of an archive on the reader side.
struct TVolume {
  std::wstring Name;       // empty = not yet named
  THandle Handle;          // not valid = not open
  uint64_t Size = 0;       // bytes; 0 = not known yet
  bool Removable = false;  // computed for the first part only
  bool Missing = false;    // asked for and not given: never asked again
};

// What a reader needs to know of the component that opens it.
struct TReaderOptions {
  bool Sfx = false;                     // the 7z data sit inside a self-extracting executable,
  uint64_t SfxOffset = 0;               // starting here
  TOpenVolume OnOpenVolume;             // asked for a missing part (a file dialog otherwise)
  TExceptionKeeper* Keeper = nullptr;   // keeps an exception of OnOpenVolume (not owned)
  TReadFailure* ReadFailure = nullptr;  // told of a read that failed (not owned)
};

class TMyStreamReader final : public IInStream, public IStreamGetSize, public TInterfacedObject {
 public:
  // Opens FileName (a file that cannot be opened gives reads of 0 bytes). With
  // MultiVolume the data may continue in numbered parts (a.7z.001, a.7z.002, ...).
  // A read of an open file that fails answers the system's error (and tells
  // Options.ReadFailure), never a short read.
  TMyStreamReader(const TReaderOptions& Options, bool MultiVolume, const std::wstring& FileName);
  ~TMyStreamReader() override;

  QUARN_IUNKNOWN_METHODS
  HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processedSize) override;
  HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) override;
  HRESULT STDMETHODCALLTYPE GetSize(UINT64* size) override;

  // Name of part n of this set (n >= 2; part 1 is FileName).
  std::wstring PartName(uint32_t n) const;
  // Finds the parts of the set now, asking (OnOpenVolume, else a file
  // dialog) once for each part that is not where its name says; reads past
  // the first part do it otherwise. Nothing for a file of its own.
  void Locate();

  uint64_t Position = 0;
  uint64_t KnownSize = 0;  // size of the whole set; 0 = not known yet
  std::vector<TVolume> Volumes;
  bool MultiVolume;
  bool VolumesLocated = false;
  uint32_t LastPart = 1;  // number of the last part once located

 protected:
  IUnknown* FindInterface(REFIID iid) override;
  const wchar_t* ClassName() const override { return L"TMyStreamReader"; }

 private:
  bool LocateLastVolume();
  uint32_t HighestExistingPart() const;
  bool OpenVolume(uint32_t n);
  // Asks for part n until a file is given (true) or none is (false: missing).
  bool AskForPart(uint32_t n);
  void CloseVolume(TVolume& v);
  bool AskForVolume(const std::wstring& caption, std::wstring& name);
  HRESULT ReadBody(void* data, UINT32 size, UINT32* processedSize);

  TReaderOptions FOptions;
  std::wstring FFileName;
};

class TMyStreamWriter final : public IOutStream, public TInterfacedObject {
 public:
  // Creates (or, with Append, continues) the output file; raises EAbort when
  // the first file cannot be created or opened.
  TMyStreamWriter(const std::wstring& FileName, double FileDate, uint32_t Attributes, uint32_t VolumeSize, bool Append);
  ~TMyStreamWriter() override;

  QUARN_IUNKNOWN_METHODS
  HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processedSize) override;
  HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) override;
  HRESULT STDMETHODCALLTYPE SetSize(UINT64 newSize) override;

  std::wstring PartName(size_t k) const;

  double FileDate;
  uint64_t Position = 0;
  uint64_t MaxPosition = 0;
  std::vector<THandle> Volumes;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
  const wchar_t* ClassName() const override { return L"TMyStreamWriter"; }

 private:
  void AddVolume();
  void StampFileDate(HANDLE h) const;

  std::wstring FFileName;
  uint32_t FAttributes;
  uint32_t FVolumeSize;
  bool FAppend;
};

// Number text of a part: at least three digits, zero-padded (1 -> "001").
std::wstring VolumeNumberText(uint32_t n);
