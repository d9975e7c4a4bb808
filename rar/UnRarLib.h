#pragma once
// Run-time binding of the UnRAR library (unrar.dll).
//
// The library is loaded by its bare name and its exports are looked up by name
// into one process-wide table. The records and callback types below are the
// library's own, laid out with its 1-byte packing so that they match the
// binary interface exactly.

#include <windows.h>

#include <string>

#include "Win32Kit.h"

typedef int(CALLBACK* UNRARCALLBACK)(UINT msg, LPARAM UserData, LPARAM P1, LPARAM P2);

#pragma pack(push, 1)

// Open record of RAROpenArchive.
struct RAROpenArchiveData {
  char* ArcName;
  unsigned int OpenMode;
  unsigned int OpenResult;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
};

// Extended open record of RAROpenArchiveEx: the archive's wide name, and the
// callback with its user data, which the library needs already while it
// opens an archive whose headers are encrypted.
struct RAROpenArchiveDataEx {
  char* ArcName;
  wchar_t* ArcNameW;
  unsigned int OpenMode;
  unsigned int OpenResult;
  char* CmtBuf;
  unsigned int CmtBufSize;  // in characters of CmtBufW when that is set
  unsigned int CmtSize;
  unsigned int CmtState;
  unsigned int Flags;
  UNRARCALLBACK Callback;
  LPARAM UserData;
  unsigned int OpFlags;
  wchar_t* CmtBufW;
  unsigned int Reserved[25];
};

// Extended header record of RARReadHeaderEx.
struct RARHeaderDataEx {
  char ArcName[1024];
  wchar_t ArcNameW[1024];
  char FileName[1024];
  wchar_t FileNameW[1024];
  unsigned int Flags;
  unsigned int PackSize;
  unsigned int PackSizeHigh;
  unsigned int UnpSize;
  unsigned int UnpSizeHigh;
  unsigned int HostOS;
  unsigned int FileCRC;
  unsigned int FileTime;
  unsigned int UnpVer;
  unsigned int Method;
  unsigned int FileAttr;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
  unsigned int DictSize;
  unsigned int HashType;
  char Hash[32];
  unsigned int RedirType;
  wchar_t* RedirName;
  unsigned int RedirNameSize;
  unsigned int DirTarget;
  unsigned int MtimeLow;
  unsigned int MtimeHigh;
  unsigned int CtimeLow;
  unsigned int CtimeHigh;
  unsigned int AtimeLow;
  unsigned int AtimeHigh;
  unsigned int Reserved[988];
};

#pragma pack(pop)

static_assert(sizeof(wchar_t) == 2, "the library's wide strings are UTF-16");
static_assert(sizeof(RAROpenArchiveDataEx) == 6 * sizeof(void*) + 7 * 4 + 25 * 4,
              "the open record keeps the library's packed layout");

// Library result codes used by the program.
enum : int {
  ERAR_SUCCESS = 0,
  ERAR_END_ARCHIVE = 10,
  ERAR_NO_MEMORY = 11,
  ERAR_BAD_DATA = 12,
  ERAR_BAD_ARCHIVE = 13,
  ERAR_UNKNOWN_FORMAT = 14,
  ERAR_EOPEN = 15,
  ERAR_ECREATE = 16,
  ERAR_ECLOSE = 17,
  ERAR_EREAD = 18,
  ERAR_EWRITE = 19,
  ERAR_SMALL_BUF = 20,
  ERAR_UNKNOWN = 21,
  ERAR_MISSING_PASSWORD = 22,
  ERAR_BAD_PASSWORD = 24,
};

// Open modes, per-file operations and callback messages of the library.
enum : unsigned int { RAR_OM_LIST = 0, RAR_OM_EXTRACT = 1 };
enum : int { RAR_SKIP = 0, RAR_TEST = 1, RAR_EXTRACT = 2 };
enum : unsigned int {
  UCM_CHANGEVOLUME = 0,
  UCM_PROCESSDATA = 1,
  UCM_NEEDPASSWORD = 2,
  UCM_CHANGEVOLUMEW = 3,
  UCM_NEEDPASSWORDW = 4,
};
enum : int { RAR_VOL_ASK = 0, RAR_VOL_NOTIFY = 1 };

// Size in characters of the volume-name buffers the library hands to the
// callback (it does not pass the size itself).
constexpr size_t UnRarVolumeNameSize = 2048;

typedef int(PASCAL* CHANGEVOLPROC)(char* ArcName, int Mode);
typedef int(PASCAL* PROCESSDATAPROC)(unsigned char* Addr, int Size);

typedef HANDLE(PASCAL* TRAROpenArchive)(RAROpenArchiveData* ArchiveData);
typedef HANDLE(PASCAL* TRAROpenArchiveEx)(RAROpenArchiveDataEx* ArchiveData);
typedef int(PASCAL* TRARCloseArchive)(HANDLE hArcData);
typedef int(PASCAL* TRARReadHeader)(HANDLE hArcData, void* HeaderData);
typedef int(PASCAL* TRARReadHeaderEx)(HANDLE hArcData, RARHeaderDataEx* HeaderData);
typedef int(PASCAL* TRARProcessFile)(HANDLE hArcData, int Operation, char* DestPath, char* DestName);
typedef int(PASCAL* TRARProcessFileW)(HANDLE hArcData, int Operation, wchar_t* DestPath, wchar_t* DestName);
typedef void(PASCAL* TRARSetCallback)(HANDLE hArcData, UNRARCALLBACK Callback, LPARAM UserData);
typedef void(PASCAL* TRARSetChangeVolProc)(HANDLE hArcData, CHANGEVOLPROC ChangeVolProc);
typedef void(PASCAL* TRARSetProcessDataProc)(HANDLE hArcData, PROCESSDATAPROC ProcessDataProc);
typedef void(PASCAL* TRARSetPassword)(HANDLE hArcData, char* Password);
typedef int(PASCAL* TRARGetDllVersion)();

// The process-wide table of the library's entries, in binding order. An entry
// whose export is missing stays null.
struct TUnRarLibrary {
  TModule Module;
  bool Loaded = false;
  TRAROpenArchive RAROpenArchive = nullptr;
  TRAROpenArchiveEx RAROpenArchiveEx = nullptr;
  TRARCloseArchive RARCloseArchive = nullptr;
  TRARReadHeader RARReadHeader = nullptr;
  TRARReadHeaderEx RARReadHeaderEx = nullptr;
  TRARProcessFile RARProcessFile = nullptr;
  TRARProcessFileW RARProcessFileW = nullptr;
  TRARSetCallback RARSetCallback = nullptr;
  TRARSetChangeVolProc RARSetChangeVolProc = nullptr;
  TRARSetProcessDataProc RARSetProcessDataProc = nullptr;
  TRARSetPassword RARSetPassword = nullptr;
  TRARGetDllVersion RARGetDllVersion = nullptr;
};

extern TUnRarLibrary UnRarLib;

// Loads the library and binds its entries. Calls are counted: the library is
// freed and the table cleared by the matching last UnloadUnRarLibrary, so a
// second holder never finds the table emptied under it.
void LoadUnRarLibrary();
void UnloadUnRarLibrary();
bool IsUnRarLibraryLoaded();

// True when every entry the RAR component calls was found.
bool UnRarLibraryComplete();

// The file name LoadUnRarLibrary loads, "unrar.dll" unless changed. Tests use
// it to stand for a machine on which the library is missing.
void SetUnRarLibraryName(const std::string& Name);
const std::string& GetUnRarLibraryName();
