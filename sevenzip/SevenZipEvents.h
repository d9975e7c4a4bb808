#pragma once
// The 7z component's options, message codes and event types, shared by the
// component and the callback objects that fire its events.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SafePath.h"

class TComponent;

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
  SZ_ITEM_SKIPPED = 10,       // an item not made: a device, FIFO or socket, or a link that cannot be (see the text)
  SZ_DISK_FULL = 11,          // the engine gave up because the disk is full: Filename names the file being written
  SZ_READ_FAILED = 12,        // a read of the archive failed: Filename names the file, the text the system's reason
};

using TExtractfileEvent = std::function<void(TComponent* Sender, const std::wstring& Filename, int64_t Filesize)>;
using TProgressEvent =
    std::function<void(TComponent* Sender, const std::wstring& Filename, int64_t FilePosArc, int64_t FilePosFile)>;
using TPreProgressEvent = std::function<void(TComponent* Sender, int64_t MaxProgress)>;
// The items about to be extracted take Size bytes in all, as the archive
// states every file's size; the handler returns false to extract nothing.
using TUnpackedSizeEvent = std::function<bool(TComponent* Sender, uint64_t Size)>;
using TMessageEvent =
    std::function<void(TComponent* Sender, int32_t ErrCode, const std::string& Message, const std::wstring& Filename)>;
using TSetNewNameEvent = std::function<void(TComponent* Sender, std::wstring& OldFileName)>;
// An item was extracted under another name than its own, made safe for
// Windows (ExtractedAs, relative to the base folder), or skipped because
// nothing of its name was left, or its path would be longer than the system
// takes (ExtractedAs empty).
using TRenamedEvent =
    std::function<void(TComponent* Sender, const std::wstring& ItemName, const std::wstring& ExtractedAs)>;
// A file was written out of the archive, complete, at FileName. Fired from
// the thread the engine finished it on.
using TFileWrittenEvent = std::function<void(TComponent* Sender, const std::wstring& FileName)>;
// A caller's own rule for item names (see TNameRule); it replaces the
// component's rule (and its OnRenamed reports).
using TItemPathRule = TNameRule;
// Where an item's data lie in the archive's file, as the engine states them:
// the start of its header (the archive's own offset plus the item's) and its
// packed size. Known is false when the engine does not state both.
struct TItemPlace {
  uint64_t Offset = 0;
  uint64_t PackSize = 0;
  bool Known = false;
};
// Chooses what to extract once the archive is open, before anything is
// written: Places holds the place of every item, by the engine's index; the
// handler adds the indices of the items to extract to Chosen (none: nothing
// is extracted).
using TChooseItemsEvent = std::function<void(const std::vector<TItemPlace>& Places, std::vector<uint32_t>& Chosen)>;
// Whether the caller wants the extraction to stop; asked from any thread.
using TStopQuery = std::function<bool()>;
using TExtractOverwrite = std::function<void(TComponent* Sender, const std::wstring& FileName, bool& DoOverwrite)>;
using TListfileEvent = std::function<void(TComponent* Sender, const std::wstring& Filename, uint32_t Fileindex,
                                          uint32_t FileSizeU, uint32_t FileSizeP, uint32_t Fileattr, uint32_t Filecrc,
                                          const std::wstring& Filemethod, double FileTime)>;
// The engine needs a password and the component's Password is empty: the
// handler sets Password and returns true, or returns false to stop the
// extraction (nothing is reported for that stop).
using TPasswordEvent = std::function<bool(TComponent* Sender, std::wstring& Password)>;
using TAddFileEvent = std::function<void(TComponent* Sender, const std::wstring& Filename, int64_t Filesize)>;
