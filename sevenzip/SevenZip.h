#pragma once
// TSevenZip: Quarn's 7z component. It loads the 7-Zip engine (7za.dll),
// opens a 7z archive (plain, inside a self-extracting executable, or split
// into numbered volumes) and extracts or tests its items below ExtrBaseDir.
// Made for another format of the engine's all-format library (7z.dll), it
// extracts that format's archives the same way; a tarball inside a
// compressor is then extracted in one step (UnwrapTarball).
// Failures are reported through OnMessage; a missing engine raises from the
// constructor, and an event handler's exception leaves Extract once the
// engine has stopped.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Component.h"
#include "Exception.h"
#include "PasswordState.h"
#include "SevenZipCallbacks.h"
#include "SevenZipEngine.h"
#include "SevenZipEvents.h"
#include "SevenZipPaths.h"
#include "SevenZipStreams.h"
#include "Win32Kit.h"

// Raised by the constructor when the engine library or its CreateObject export is missing.
class ESevenZipEngineMissing : public Exception {
 public:
  explicit ESevenZipEngineMissing(const std::string& Library = "7za.dll")
      : Exception("Could not load CreateObject function from " + Library + "\r\nPerhaps " + Library + " not found") {}
};

class TSevenZip : public TComponent {
 public:
  // Loads 7za.dll and creates the engine objects; raises ESevenZipEngineMissing.
  explicit TSevenZip(TComponent* Owner);
  // The same for Format (its number in the engine, see SevenZipEngine.h) of
  // the library Library (7z.dll for the all-format library).
  TSevenZip(TComponent* Owner, const std::wstring& Library, uint8_t Format);
  ~TSevenZip() override;

  // Opens SZFileName and extracts (TestMode false) or tests its items, all of
  // them or those in SelectedItems. -1 when the archive cannot be used or the
  // selection is bad; otherwise the engine's result (0 = success). An
  // exception raised by an event handler stops the engine and is raised
  // again here, after the archive was closed. An output file whose item
  // failed, or was being written when the extraction stopped (cancel, a
  // handler's exception, an engine failure), is removed; the files finished
  // before stay.
  int32_t Extract(bool TestMode = false);
  // What became of the password in the last Extract. Wrong: a password was
  // given and the headers could not be opened with it, or encrypted items
  // failed with data or CRC errors (the engine's report of a wrong 7z
  // password). Password still holds the one that failed: set another, or
  // clear it so that OnPassword is asked, and extract again.
  TPasswordState PasswordState() const { return FPasswordState; }
  // Index of the first item whose path equals path (case-insensitive, '/' and
  // '\' alike), or -1. Opens and closes SZFileName itself.
  int32_t IndexOfItemPath(const std::wstring& path);
  // The methods the archive SZFileName states for its data as the engine
  // names them ("LZMA2:24 BCJ", "LZMA:3m", "LZMA2:26 CRC64"); "" when it
  // states none or cannot be opened (without a password, say). Opens and
  // closes the archive itself.
  std::wstring ArchiveMethods();
  // Whether path is an .exe that carries 7z data; sets SFXDetected and SFXOffset.
  bool IsSFXArchive(const std::wstring& path);
  void ResetCancel() { CancelRequested = false; }
  void TraceLine(const std::wstring& text);

  bool GetSFXCreate() const { return FSFXCreate; }
  void SetSFXCreate(bool value);
  int32_t GetVolumeSize() const { return FVolumeSize; }
  void SetVolumeSize(int32_t value);

  // Settings.
  std::wstring SZFileName;
  std::wstring ExtrBaseDir;
  ExtractOpts ExtractOptions = 0;
  // Given to the engine when it asks; when empty, OnPassword is asked to set it.
  std::wstring Password;
  std::wstring SFXModule = L"7z.sfx";
  // When the archive is one compressed item that is a tarball, the tarball's
  // items are extracted (read through a pipe while the item is being
  // decompressed); otherwise the item itself.
  bool UnwrapTarball = false;
  // The name of an item the archive names not (a compressed file without a
  // stored name); empty: such an item is skipped as nameless.
  std::wstring DefaultItemName;
  int32_t NumberOfFiles = -1;
  // Held for archive creation, which Quarn does not do.
  std::wstring AddRootDir;
  AddOpts AddOptions = 0;
  TCompressType LZMACompressType = LZMA;
  TCompressStrength LZMACompressStrength = SAVE;
  TLZMAStrength LZMAStrength = 0;
  TPPMDMem LPPMDmem = 0;
  TPPMDSize LPPMDsize = 0;

  // Events.
  TExtractfileEvent OnExtractfile;
  TProgressEvent OnProgress;
  TPreProgressEvent OnPreProgress;
  TMessageEvent OnMessage;
  TSetNewNameEvent OnSetExtractName;
  TExtractOverwrite OnExtractOverwrite;
  TOpenVolume OnOpenVolume;
  TListfileEvent OnListfile;
  TAddFileEvent OnAddfile;
  TSetNewNameEvent OnSetAddName;
  TRenamedEvent OnRenamed;
  TFileWrittenEvent OnFileWritten;
  // Fired once before the first item is written, with the size of the items
  // to extract, when the archive states every file's size (a tarball read
  // through its compressor does not: its items come as they are
  // decompressed). When it returns false, Extract extracts nothing and
  // returns -1.
  TUnpackedSizeEvent OnUnpackedSize;
  // When set, the caller's rule for item names instead of the program's own
  // (see TItemPathRule).
  TItemPathRule PathRule;
  // When set (and SelectedItems is empty), what Extract extracts is chosen
  // by the items' places in the file (see TChooseItemsEvent).
  TChooseItemsEvent OnChooseItems;
  // Fired (on the thread that called Extract) when the engine needs a
  // password and Password is empty; see TPasswordEvent.
  TPasswordEvent OnPassword;

  // Items to extract: decimal indices or item paths; empty = every item.
  TWideStringList_ SelectedItems;
  bool SFXDetected = false;
  uint64_t SFXOffset = 0;
  // Set (for example from an event handler) to stop the running Extract.
  std::atomic<bool> CancelRequested{false};
  // When set, asked also from the engine's own threads whenever they report
  // progress: true stops the running Extract as CancelRequested does, so a
  // stop reaches the engine however its work is shared among its threads.
  TStopQuery StopWanted;

  // Fires OnMessage when assigned.
  void Message(int32_t code, const std::string& text, const std::wstring& fileName);

 private:
  int32_t FindItemPath(const std::wstring& path);
  int32_t DoExtract(bool TestMode);
  // Extracts the tarball inside the opened compressor when its one item is
  // one; false (nothing extracted, the archive open again) when it is not.
  bool ExtractTarball(const TExtractHost& Host, int32_t& Result);
  // Reports what the engine found wrong with the opened archive as a whole
  // (a truncated or damaged archive whose items did not tell it, damaged
  // headers it read past).
  void ReportArchiveErrors(IInArchive* Archive, bool ItemsFailed);
  // Reports the engine's giving up with Result; Writing is the file that was
  // being written.
  void ReportEngineFailure(HRESULT Result, const std::wstring& Writing);
  // Reports a read of the archive that failed, when one did (the engine's
  // own failure that followed it is not told); true then.
  bool ReportReadFailure();
  // The size of the files among Indices (empty: every item) as the opened
  // archive states it; false when it does not state every file's size.
  bool StatedSize(const std::vector<uint32_t>& Indices, uint64_t& Size);
  // The place of every item of the opened archive (see TItemPlace).
  std::vector<TItemPlace> ItemPlaces();
  // Opens SZFileName in the engine; false when it cannot.
  bool OpenArchive(IArchiveOpenCallback* Callback);
  TReaderOptions ReaderOptions();
  TExtractHost ExtractHost();

  // Declared before the engine objects, which may hold callbacks that use it.
  TExceptionKeeper FKeeper;
  TReadFailure FReadFailure;
  std::wstring FLibraryName;
  uint8_t FFormat = kFormat7z;
  TModule FLibrary;
  TCreateObjectFunc FCreateObject = nullptr;
  TComPtr<IInArchive> FInArchive;
  bool FSFXCreate = false;
  int32_t FVolumeSize = 0;
  TPasswordLog FPasswords;
  TPasswordState FPasswordState = TPasswordState::NotAsked;
  int FDamageReports = 0;  // items reported damaged in the current Extract
};

// The largest dictionary (or model memory) that methods as ArchiveMethods
// gives them name, in bytes: "LZMA2:24" is 2^24, "LZMA:3m" 3 MiB,
// "PPMD:o6:mem192m" 192 MiB; 0 when they name none.
uint64_t DictionaryOfMethods(const std::wstring& Methods);
