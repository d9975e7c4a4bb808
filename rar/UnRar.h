#pragma once
// TUnRar: lists or extracts one RAR archive through the UnRAR library.
//
// A caller creates the component with an owner, sets its properties, may
// attach event handlers and calls ProcessArchive. The component returns and
// raises nothing of its own: failures, status changes, the comment, headers and
// progress all leave through events; an event without a handler is skipped.
// A component runs on the thread that created it. The library keeps the
// state of its errors for the whole process, so one component runs at a time
// in a process: callers that extract several archives at once make RAR
// archives take turns. (Loading the binding may be done from any thread.)

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Component.h"
#include "LinkCopies.h"
#include "RarFileWriter.h"
#include "SafePath.h"
#include "PasswordState.h"
#include "UnRarLib.h"

enum TUnRarMode { UNRAR_EXTRACT, UNRAR_LIST };
enum TOverrideOptions { OR_ALWAYS, OR_NEVER, OR_EVENT };
enum TRarStatus { RAR_ONOPEN, RAR_ONBEFOREOPEN, RAR_AFTERCLOSE, RAR_ONPASSWORD };

// One file header of the archive, translated from the library's record.
struct TUnRarHeaderData {
  std::string ArcName;   // the volume that holds this header (its wide name, converted)
  std::string FileName;  // the wide name converted with the system code page
  bool ContinuedNext = false;
  bool ContinuedPrev = false;
  bool Encrypted = false;
  bool IsDirectory = false;
  int32_t DictionarySize = 0;
  int32_t PackSize = 0;
  int32_t UnpSize = 0;
  std::string HostOS;
  std::string FileCRC;
  double FileTime = 0;  // days since 30 December 1899, local time as stored
  int32_t UnpVerMajor = 0;
  int32_t UnpVerMinor = 0;
  std::string Method;
  bool AttrArchive = false;
  bool AttrCompressed = false;
  bool AttrDirectory = false;
  bool AttrHidden = false;
  bool AttrNormal = false;
  bool AttrOffline = false;
  bool AttrReadOnly = false;
  bool AttrSystem = false;
  bool AttrTemporary = false;
};

class TUnRar;

using TRarCommentEvent = std::function<void(TUnRar* Sender, const std::string& Comment)>;
using TRarErrorEvent = std::function<void(TUnRar* Sender, const std::string& Message, int32_t MessageID)>;
using TRarHeaderEvent = std::function<void(TUnRar* Sender, const TUnRarHeaderData& hdrData, int32_t status)>;
using TRAROverrideEvent = std::function<void(TUnRar* Sender, const std::string& FileName, bool& CanOverride)>;
// Asked (once per ProcessArchive) when the library needs a password and the
// Password property is empty; Password starts empty. The handler sets it, or
// leaves it empty to cancel: the library then stops with code 22, which is
// not reported.
using TRarPromptPassEvent = std::function<void(TUnRar* Sender, std::string& Password)>;
// Bytes of file data written (or tested) so far in this run, and the total
// from the counting pass (0 without CanProgress). Fired from inside the
// library at least every DataProgressStep bytes and after each file; Done
// never goes back within one ProcessArchive.
using TRarDataProgressEvent = std::function<void(TUnRar* Sender, uint64_t Done, uint64_t Total)>;
using TRARProgress = std::function<void(TUnRar* Sender, uint32_t FilesProcessed, uint32_t FileCount,
                                        uint32_t SizeProcessed, uint32_t SizeCount)>;
using TRarStatusEvent = std::function<void(TUnRar* Sender, const std::string& Message, TRarStatus status)>;
// ArcName holds the volume name the library looks for; a handler may replace
// it. The component writes it back into the library's buffer (the wide one,
// so any name passes), cut to the buffer's size (UnRarVolumeNameSize - 1
// characters).
using TRarChangeVolEvent = std::function<void(TUnRar* Sender, std::string& ArcName, int32_t Mode)>;
// A file was extracted under another name than its own, made safe for Windows
// (ExtractedAs, relative to Directory), or skipped because nothing of its name
// was left (ExtractedAs empty).
using TRarRenamedEvent =
    std::function<void(TUnRar* Sender, const std::string& FileName, const std::string& ExtractedAs)>;
// A file was extracted, complete, to FileName (its full path).
using TRarFileWrittenEvent = std::function<void(TUnRar* Sender, const std::wstring& FileName)>;
// Writing FileName failed because its volume is full (WriteInBackground):
// the file was removed and the run stopped.
using TRarDiskFullEvent = std::function<void(TUnRar* Sender, const std::wstring& FileName)>;
// The files of the archive take Size bytes in all, as its headers state
// them; the handler returns false to extract nothing.
using TRarUnpackedSizeEvent = std::function<bool(TUnRar* Sender, uint64_t Size)>;
// A caller's own rule for file names (see TNameRule); it replaces the
// component's rule (and its OnRenamed reports).
using TRarPathRule = TNameRule;

// The two prompt dialogs are windows of this class; tests find them by it.
extern const char UnRarPromptClassName[];
// Control ids inside a prompt dialog.
enum : int { UnRarPromptEditId = 100, UnRarPromptOkId = IDOK, UnRarPromptCancelId = 101 };

class TUnRar : public TComponent {
 public:
  explicit TUnRar(TComponent* Owner);
  ~TUnRar() override;

  // Published properties.
  const std::string& ArchivComment() const { return FArchivComment; }
  bool CanProgress = false;
  uint32_t CommentSize() const { return FCommentSize; }
  std::string Directory;
  int32_t DllVersion() const { return FDllVersion; }
  // Destination paths ("Directory\name") to extract; empty = all. Ignored
  // with OR_ALWAYS.
  std::vector<std::string> FileList;
  std::string FileName;
  TUnRarMode Mode() const { return FMode; }
  void SetMode(TUnRarMode Value);
  TOverrideOptions OverrideEvent = OR_ALWAYS;
  // Given to the library when it asks; when empty, OnPassword (or the
  // prompt, with PromptForPass) is asked. Never written anywhere.
  std::string Password;
  bool PromptForPass = false;
  bool PromptForVolumn = false;
  bool StopProcessing = false;

  // Events.
  TRarCommentEvent OnComment;
  TRarErrorEvent OnError;
  TRarHeaderEvent OnFileProcessing;
  TRAROverrideEvent OnOverride;
  TRarPromptPassEvent OnPassword;
  TRARProgress OnProgress;
  TRarStatusEvent OnRarStatus;
  TRarChangeVolEvent OnVolChange;
  TRarRenamedEvent OnRenamed;
  TRarDataProgressEvent OnDataProgress;
  TRarFileWrittenEvent OnFileWritten;
  TRarDiskFullEvent OnDiskFull;
  // Fired by an extracting ProcessArchive with CanProgress, after the
  // counting pass and before the first file is written, when every file's
  // header states its size.
  TRarUnpackedSizeEvent OnUnpackedSize;
  TRarPathRule PathRule;
  // With OR_ALWAYS and no FileList: the library only unpacks and checks each
  // file (its test mode), and the component writes what it unpacks on a
  // thread of its own (TRarFileWriter), so that unpacking and writing
  // overlap. The files, their last-write times and attributes are the
  // library's; a file's write error is reported once the run is over, a
  // full volume through OnDiskFull, any other through OnError. OnFileWritten
  // is then called on the writer's thread; an exception there (or any other
  // on that thread) stops the run as a handler's does: the file it came with
  // is removed, and it leaves ProcessArchive once the archive is closed.
  bool WriteInBackground = false;

  // Lists or extracts FileName. A file that fails, or is being written when
  // the run stops (StopProcessing, a handler's exception, a failure), is
  // removed, unless the library never began writing over a file that was
  // there before; the files finished before stay. Symbolic and hard links,
  // and file references (rar a -oi), are not made by the library: once every
  // file is out, a link to a file or folder inside Directory, or a reference
  // to a file extracted, is made as a copy of it (told to OnFileWritten), and
  // one that leads outside or to nothing is reported through OnError (code 0)
  // with its path. Of a file kept in several versions (rar a -ver) only the
  // latest is extracted, as the library's own tool does by default.
  void ProcessArchive();
  void CountFiles();

  // Counters of the last run: FilesProcessed/SizeProcessed by ProcessArchive,
  // FileCount/SizeCount by CountFiles.
  uint32_t FilesProcessed() const { return FFilesProcessed; }
  uint32_t SizeProcessed() const { return FSizeProcessed; }
  uint32_t FileCount() const { return FFileCount; }
  uint32_t SizeCount() const { return FSizeCount; }
  // What became of the password in the last ProcessArchive. Wrong: a password
  // was given and the library found it wrong (code 24; the archive is closed
  // then): set another Password and run again. Cancelled: the password was
  // asked for and none was given (code 22).
  TPasswordState PasswordState() const { return FPasswordState; }

  // Bytes of file data between two OnDataProgress events at most.
  static constexpr uint64_t DataProgressStep = 1 << 20;

  // The answer to one library callback (0 go on, -1 stop).
  // The library asks twice for one thing, first with a wide buffer
  // (UCM_CHANGEVOLUMEW, UCM_NEEDPASSWORDW), then, when that gave nothing new,
  // with a byte one: the second ask gets the first one's answer, the user is
  // asked once.
  int HandleCallback(UINT Msg, LPARAM P1, LPARAM P2);

  // The prompt dialogs, modal, built at run time.
  std::string AskPassword();
  bool AskNextVolume(const std::string& CurrentName, char* Buffer, size_t BufferSize);

  // Message of the library's code: the program's French text, or a generic
  // one naming the code.
  static std::string ErrorText(int Code);

 private:
  void PrepareOpenRecord(unsigned int OpenMode);
  int AnswerVolume(std::string& Name);
  int CheckVolumeAnswer(int Answer, const std::string& Stored, const std::string& Asked) const;
  int AnswerPassword(std::string& Password);
  void DataWritten(uint64_t Count);
  void FireDataProgress();
  void ForgetRunPassword();
  void NoteResult(int Code);
  bool OpenArchive();
  void CloseArchive();
  void WalkArchive(int Mode, const std::function<void()>& Walk);
  void HandleHeader(int r);
  void TranslateHeader();
  int ProcessFile(int Operation);
  void Error(const std::string& Message, int32_t MessageID);
  void Status(TRarStatus S);
  void RethrowPending();
  // Makes the links of the run (see ProcessArchive).
  void MakeLinks();
  // Whether the header just read holds an older version of a file; called
  // once for each header of the main pass, in order.
  bool IsOlderVersion();

  HANDLE FHandle = nullptr;
  int FFileOperation = RAR_TEST;
  TUnRarMode FMode = UNRAR_LIST;
  bool FLibLoaded = false;
  bool FLibHeld = false;
  int32_t FDllVersion = 0;
  std::string FArchivComment;
  uint32_t FCommentSize = 0;
  RAROpenArchiveDataEx FOpenRecord{};
  RARHeaderDataEx FHeader{};
  std::vector<wchar_t> FCommentBuffer;
  std::wstring FArcPath;  // the archive path the open record points at
  TUnRarHeaderData FTranslated;
  uint32_t FFilesProcessed = 0;
  uint32_t FSizeProcessed = 0;
  uint32_t FFileCount = 0;
  uint32_t FSizeCount = 0;
  HWND FDialog = nullptr;
  // A handler's exception caught inside a library callback, rethrown once the
  // library call has returned.
  std::exception_ptr FPending;
  // The missing volume asked for last and how many times in a row.
  std::string FAskedVolume;
  int FAskCount = 0;
  // A wide ask answered so that the library asks its byte twin next, which
  // gets the same answer.
  bool FVolumeAnsweredW = false;
  bool FPasswordAnsweredW = false;
  // The password of this run, once given: the counting pass and the main
  // pass open the archive each, and the user is asked once. Cleared when the
  // run ends.
  std::string FRunPassword;
  bool FRunPasswordSet = false;
  bool FInRun = false;  // inside ProcessArchive
  bool FPasswordAsked = false;
  bool FPasswordDeclined = false;  // asked, and the answer was empty
  int FPasswordResult = 0;         // 22 or 24 seen in this run, else 0
  TPasswordState FPasswordState = TPasswordState::NotAsked;
  // Byte progress of this run.
  uint64_t FDataDone = 0;
  uint64_t FDataReported = 0;
  uint64_t FDataTotal = 0;
  bool FSizesStated = false;   // every file the counting pass saw states its size
  bool FFileDataSeen = false;  // the library wrote data for the file being processed
  // Where the library puts a link's target in the header record.
  std::vector<wchar_t> FRedirName;
  // The links of the run being extracted, made once every file is out.
  std::unique_ptr<TLinkCopies> FLinks;
  // The volume whose headers were walked last, which of its file headers
  // hold older versions, the next one's place, and whether the header being
  // processed holds one.
  std::wstring FVersionsOf;
  std::vector<bool> FVersions;
  size_t FVersionAt = 0;
  bool FOlderVersion = false;
  // WriteInBackground: the writer of the run, and whether the library's
  // data go to it now (the file being tested is one to write).
  std::unique_ptr<TRarFileWriter> FWriter;
  bool FWriting = false;
  void FinishWriting();
};

// The component whose HandleCallback answers the library.
extern thread_local TUnRar* CurrentUnRar;

// The plain function registered with RARSetCallback.
int CALLBACK UnRarCallback(UINT Msg, LPARAM UserData, LPARAM P1, LPARAM P2);

// DOS date (high 16 bits) and time (low 16 bits) as a date-time value, with
// no time-zone shift; false when they do not form a valid date and time.
bool DosDateTimeToDateTime(uint32_t DosDateTime, double& Result);
