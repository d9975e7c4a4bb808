#pragma once
// TSevenZip: Quarn's 7z component. It loads the 7-Zip engine (7za.dll),
// opens a 7z archive (plain, inside a self-extracting executable, or split
// into numbered volumes) and extracts or tests its items below ExtrBaseDir.
// Failures are reported through OnMessage; only a missing engine raises.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "Component.h"
#include "Exception.h"
#include "SevenZipEngine.h"
#include "SevenZipPaths.h"
#include "SevenZipStreams.h"

enum ExtractOptsEnum : uint8_t { ExtractNoPath = 1 << 0, ExtractOverwrite = 1 << 1 };
using ExtractOpts = uint8_t;  // set of ExtractOptsEnum

enum AddOptsEnum : uint8_t {
  AddRecurseDirs = 1 << 0,
  AddSolid = 1 << 1,
  AddStoreOnlyFilename = 1 << 2,
  AddIncludeDriveLetter = 1 << 3,
  AddEncryptFilename = 1 << 4,
};
using AddOpts = uint8_t;  // set of AddOptsEnum

enum TCompressType : uint8_t { LZMA, PPMD };
enum TCompressStrength : uint8_t { SAVE, FAST, NORMAL, MAXIMUM, ULTRA };
using TLZMAStrength = uint8_t;  // 0..27
using TPPMDMem = uint8_t;       // 1..31
using TPPMDSize = uint8_t;      // 2..32

// OnMessage codes.
enum : int32_t {
  SZ_FILE_NOT_FOUND = 1,      // "File not found": the archive could not be opened
  SZ_DATA_ERROR = 2,          // "Data Error" (and the engine's other damage reports)
  SZ_CRC_ERROR = 3,           // "CRC Error"
  SZ_UNSUPPORTED_METHOD = 4,  // "Unsupported Method"
  SZ_INDEX_OUT_OF_RANGE = 5,  // "Index out of Range": a selection names no item
  SZ_USER_CANCELED = 6,       // "User canceled operation"
  SZ_NOT_SFX = 7,             // "File is not an 7z SFX archive"
  SZ_CREATE_FAILED = 8,       // "Could not create file": an output file or folder
  SZ_EXTRACT_FAILED = 9,      // "Extraction failed": the engine gave up (see the text)
};

using TExtractfileEvent = std::function<void(TComponent* Sender, const std::wstring& Filename, int64_t Filesize)>;
using TProgressEvent =
    std::function<void(TComponent* Sender, const std::wstring& Filename, int64_t FilePosArc, int64_t FilePosFile)>;
using TPreProgressEvent = std::function<void(TComponent* Sender, int64_t MaxProgress)>;
using TMessageEvent =
    std::function<void(TComponent* Sender, int32_t ErrCode, const std::string& Message, const std::wstring& Filename)>;
using TSetNewNameEvent = std::function<void(TComponent* Sender, std::wstring& OldFileName)>;
using TExtractOverwrite = std::function<void(TComponent* Sender, const std::wstring& FileName, bool& DoOverwrite)>;
using TListfileEvent = std::function<void(TComponent* Sender, const std::wstring& Filename, uint32_t Fileindex,
                                          uint32_t FileSizeU, uint32_t FileSizeP, uint32_t Fileattr, uint32_t Filecrc,
                                          const std::wstring& Filemethod, double FileTime)>;
using TAddFileEvent = std::function<void(TComponent* Sender, const std::wstring& Filename, int64_t Filesize)>;

// Raised by the constructor when 7za.dll or its CreateObject export is missing.
class ESevenZipEngineMissing : public Exception {
 public:
  ESevenZipEngineMissing()
      : Exception("Could not load CreateObject function from 7za.dll\r\nPerhaps 7za.dll not found") {}
};

class TSevenZip : public TComponent {
 public:
  // Loads 7za.dll and creates the engine objects; raises ESevenZipEngineMissing.
  explicit TSevenZip(TComponent* Owner);
  ~TSevenZip() override;

  // Opens SZFileName and extracts (TestMode false) or tests its items, all of
  // them or those in SelectedItems. -1 when the archive cannot be used or the
  // selection is bad; otherwise the engine's result (0 = success).
  int32_t Extract(bool TestMode = false);
  // Index of the first item whose path equals path (case-insensitive, '/' and
  // '\' alike), or -1. Opens and closes SZFileName itself.
  int32_t IndexOfItemPath(const std::wstring& path);
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
  std::wstring Password;
  std::wstring SFXModule = L"7z.sfx";
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

  // Items to extract: decimal indices or item paths; empty = every item.
  TWideStringList_ SelectedItems;
  bool SFXDetected = false;
  uint64_t SFXOffset = 0;
  // Set (for example from an event handler) to stop the running Extract.
  std::atomic<bool> CancelRequested{false};

  // Fires OnMessage when assigned.
  void Message(int32_t code, const std::string& text, const std::wstring& fileName);

 private:
  int32_t FindItemPath(const std::wstring& path);
  int32_t DoExtract(bool TestMode);

  HMODULE FLibrary = nullptr;
  TCreateObjectFunc FCreateObject = nullptr;
  IInArchive* FInArchive = nullptr;
  IOutArchive* FOutArchive = nullptr;
  ISetProperties* FSetProperties = nullptr;
  bool FSFXCreate = false;
  int32_t FVolumeSize = 0;
};

// Engine item properties; a missing value reads as zero.
struct TItemInfo {
  std::wstring Path;
  uint64_t Size = 0;
  uint32_t Attrib = 0;
  FILETIME MTime{0, 0};
};
TItemInfo ReadItemInfo(IInArchive* archive, uint32_t index);
