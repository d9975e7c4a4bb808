#pragma once
// The callback objects the engine calls while it opens an archive
// (TMyArchiveOpenCallback) and while it extracts or tests items
// (TMyArchiveExtractCallback). The extract callback decides each output path,
// applies the overwrite rule, creates folders and output files and turns the
// engine's reports into the component's events.
//
// No exception reaches the engine: an event handler's exception is kept by the
// host's keeper, the engine is told to stop, and the component raises the
// exception again once the engine call has returned.

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "LinkCopies.h"
#include "SevenZipEngine.h"
#include "SevenZipEvents.h"
#include "SevenZipStreams.h"

// What the callbacks learn of the password during one extraction.
struct TPasswordLog {
  bool Asked = false;      // the engine asked for a password
  bool Declined = false;   // OnPassword gave none: the engine was stopped
  bool Missing = false;    // no password and no OnPassword: the engine went on without one
  bool WrongSeen = false;  // with a password given, the archive failed as a wrong password makes it fail
};

// What the callbacks need of the component they work for: its settings, its
// events (fired with Sender first, only when assigned), its cancel flag and
// the keeper of a handler's exception.
struct TExtractHost {
  TComponent* Sender = nullptr;
  // The thread that runs the extraction: events are fired on it only (the
  // engine also reports progress from its worker threads, where a handler
  // that touches a window would wait for the thread it is blocking).
  DWORD Thread = 0;
  std::wstring BaseDir;  // where the items go, with a trailing backslash
  ExtractOpts Options = 0;
  std::wstring* Password = nullptr;              // the component's, set by OnPassword (not owned)
  TPasswordLog* Passwords = nullptr;             // not owned
  std::atomic<bool>* CancelRequested = nullptr;  // not owned
  TStopQuery StopWanted;
  TExceptionKeeper* Keeper = nullptr;  // not owned
  TExtractfileEvent OnExtractfile;
  TProgressEvent OnProgress;
  TPreProgressEvent OnPreProgress;
  TMessageEvent OnMessage;
  TSetNewNameEvent OnSetExtractName;
  TExtractOverwrite OnExtractOverwrite;
  TRenamedEvent OnRenamed;
  TPasswordEvent OnPassword;
  TFileWrittenEvent OnFileWritten;
  TItemPathRule PathRule;
  // The name of an item the archive gives none (a compressed file that keeps
  // no name of its own); empty: such an item is skipped as nameless.
  std::wstring DefaultItemName;
  // When the items come through another extraction (a tarball inside a
  // compressor), the progress is that extraction's: its bytes read (not
  // owned) and their whole.
  const std::atomic<uint64_t>* SourceDone = nullptr;
  uint64_t SourceTotal = 0;

  void Message(int32_t Code, const std::string& Text, const std::wstring& FileName) const {
    if (OnMessage) OnMessage(Sender, Code, Text, FileName);
  }
};

// Engine item properties; a missing value reads as zero.
struct TItemInfo {
  std::wstring Path;
  uint64_t Size = 0;
  uint32_t Attrib = 0;
  FILETIME MTime{0, 0};
  bool Encrypted = false;
  bool IsDir = false;
  uint32_t PosixMode = 0;  // the Unix mode when the archive keeps one (0: none)
  std::wstring SymLink;    // a symbolic link's target
  std::wstring HardLink;   // a hard link's target, a path in the archive
};
TItemInfo ReadItemInfo(IInArchive* Archive, uint32_t Index);

// The message code and text of an item's failed result (kOpResult...).
void OperationFailure(int32_t OpRes, int32_t& Code, std::string& Text);
// The message code and text of a whole archive's error flags (kErrorFlag...,
// the first that is told); false when none of them is set.
bool ArchiveFailure(uint32_t Flags, int32_t& Code, std::string& Text);

// Also gives a handler the other files of the archive it opens (the parts of
// a spanned zip, the next cabinets of a cabinet; names relative to
// ArchiveName's folder): a part that is not there is asked for once through
// Volumes.OnOpenVolume; one not given is missing.
class TMyArchiveOpenCallback final : public IArchiveOpenCallback,
                                     public ICryptoGetTextPassword,
                                     public IArchiveOpenVolumeCallback,
                                     public TInterfacedObject {
 public:
  explicit TMyArchiveOpenCallback(const TExtractHost& Host, const TReaderOptions& Volumes = TReaderOptions(),
                                  const std::wstring& ArchiveName = std::wstring());

  QUARN_IUNKNOWN_METHODS
  HRESULT STDMETHODCALLTYPE SetTotal(const UINT64* files, const UINT64* bytes) override;
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* files, const UINT64* bytes) override;
  HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;
  HRESULT STDMETHODCALLTYPE GetProperty(PROPID propID, PROPVARIANT* value) override;
  HRESULT STDMETHODCALLTYPE GetStream(const wchar_t* name, IInStream** inStream) override;

 protected:
  IUnknown* FindInterface(REFIID iid) override;
  const wchar_t* ClassName() const override { return L"TMyArchiveOpenCallback"; }

 private:
  const TExtractHost FHost;
  const TReaderOptions FVolumes;
  const std::wstring FArchiveName;
  std::map<std::wstring, std::wstring> FLocated;  // parts asked for: where they are (empty: missing)
};

class TMyArchiveExtractCallback final : public IArchiveExtractCallback,
                                        public ICryptoGetTextPassword,
                                        public TInterfacedObject {
 public:
  // Remaining is the number of selected items (0: every item).
  TMyArchiveExtractCallback(const TExtractHost& Host, IInArchive* Archive, int64_t Remaining);
  // Removes the output file of an item whose result never came: the
  // extraction stopped in its middle.
  ~TMyArchiveExtractCallback() override;

  QUARN_IUNKNOWN_METHODS
  HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) override;
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* completeValue) override;
  HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) override;
  HRESULT STDMETHODCALLTYPE PrepareOperation(INT32 askExtractMode) override;
  HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 opRes) override;
  HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;

  // Makes the links the archive held (recorded while extracting) as copies of
  // their targets where these are files or folders extracted inside the base
  // folder; every other link is reported and not made. Call once the engine
  // is done.
  void ResolveLinks();

  std::wstring CurrentName;
  std::wstring LastKept;  // the output file finished last
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
  // Fires OnPreProgress with a total the engine gave and not yet announced.
  void AnnounceTotal();

  // The most progress any thread reported (the engine's workers report too),
  // and a total not yet announced.
  static constexpr uint64_t kNoTotal = ~uint64_t(0);
  std::atomic<uint64_t> FLatestCompleted{0};
  std::atomic<uint64_t> FTotal{kNoTotal};
  bool FSourceAnnounced = false;  // the source's whole was told (see TExtractHost::SourceDone)
  // Closes the output file of the current item; removes it when Keep is false.
  void FinishOutput(bool Keep);

  // The links the archive holds, made (as copies) only when the extraction
  // is over and their targets can be told.
  TLinkCopies FLinks;

  const TExtractHost FHost;
  IInArchive* FArchive;  // not owned
  bool FCurrentEncrypted = false;
  // The output file being written, from GetStream until the engine gives
  // the item's result; a file whose item failed, or whose result never came,
  // is removed, so that nothing incomplete looks like a finished file.
  TComPtr<TMyStreamWriter> FWriter;
  std::wstring FWriterName;
};
