#include "UnRar.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "Files.h"
#include "RarHeaders.h"
#include "Streams.h"
#include "SafePath.h"
#include "Text.h"

thread_local TUnRar* CurrentUnRar = nullptr;

const char UnRarPromptClassName[] = "TQuarnUnRarPrompt";

namespace {

constexpr unsigned int CommentBufferSize = 65536;

// Header flag bits of the library's records.
constexpr unsigned int FlagSplitBefore = 0x01;
constexpr unsigned int FlagSplitAfter = 0x02;
constexpr unsigned int FlagEncrypted = 0x04;
constexpr unsigned int FlagDictionaryBits = 0xE0;
constexpr unsigned int FlagDirectory = 0x20;
// From this library version on, Flags no longer carry the RAR 2/3 header's
// dictionary bits: the library sets 0x20 for a directory and gives the window
// size in DictSize (kilobytes) instead.
constexpr int DllVersionWithDirectoryFlag = 6;

// The library's kinds of link (RedirType), and a file reference (a file
// stored once and named again, rar a -oi), which names the file it repeats.
constexpr unsigned int RedirUnixSymlink = 1, RedirWindowsSymlink = 2, RedirJunction = 3, RedirHardLink = 4,
                       RedirFileCopy = 5;
constexpr unsigned int RedirNameSize = 2048;

// How many times in a row the same missing volume may be asked for before the
// component gives up on it.
constexpr int MaxVolumeAsks = 3;

// The wide file name of a header record, bounded by the record's array.
std::wstring HeaderFileNameW(const RARHeaderDataEx& h) {
  size_t n = 0;
  while (n < 1024 && h.FileNameW[n] != 0) ++n;
  return std::wstring(h.FileNameW, n);
}

std::string HeaderFileName(const RARHeaderDataEx& h) { return WideToAnsi(HeaderFileNameW(h)); }

// The wide name of the volume that holds the header, as the program's bytes.
std::string HeaderArcName(const RARHeaderDataEx& h) { return WideToAnsi(h.ArcNameW, 1024); }

std::string BoundedAnsi(const char* s, size_t size) { return std::string(s, strnlen(s, size)); }

// What the library gives as the size of a file whose header does not state
// it (a file archived from a stream).
constexpr uint64_t UnknownUnpackedSize = 0x7FFFFFFF7FFFFFFFull;

uint64_t UnpackedSize(const RARHeaderDataEx& h) { return (static_cast<uint64_t>(h.UnpSizeHigh) << 32) | h.UnpSize; }

// Copies Text into a zero-terminated wide buffer of Size characters, cutting it to fit.
void CopyToBuffer(wchar_t* Buffer, size_t Size, const std::wstring& Text) {
  if (Buffer == nullptr || Size == 0) return;
  size_t n = Text.size() < Size - 1 ? Text.size() : Size - 1;
  // A character is not cut in two.
  if (n > 0 && n < Text.size() && IS_HIGH_SURROGATE(Text[n - 1])) --n;
  std::wmemcpy(Buffer, Text.data(), n);
  Buffer[n] = L'\0';
}

// Copies Text into a zero-terminated buffer of Size bytes, cutting it to fit.
void CopyToBuffer(char* Buffer, size_t Size, const std::string& Text) {
  if (Buffer == nullptr || Size == 0) return;
  size_t n = Text.size() < Size - 1 ? Text.size() : Size - 1;
  std::memcpy(Buffer, Text.data(), n);
  Buffer[n] = '\0';
}

bool SameTextA(const std::string& a, const std::string& b) {
  return FoldedName(AnsiToWide(a)) == FoldedName(AnsiToWide(b));
}

// Days from 30 December 1899 to the given civil date (proleptic Gregorian).
long DaysFrom1899(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days1970 = era * 146097 + static_cast<long>(doe) - 719468;
  return days1970 + 25569;  // 1970-01-01 is day 25569
}

}  // namespace

bool DosDateTimeToDateTime(uint32_t DosDateTime, double& Result) {
  const unsigned date = DosDateTime >> 16, time = DosDateTime & 0xFFFF;
  const int year = 1980 + static_cast<int>(date >> 9);
  const unsigned month = (date >> 5) & 15, day = date & 31;
  const unsigned hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2;
  static const unsigned monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > monthDays[month - 1] + ((month == 2 && leap) ? 1u : 0u)) return false;
  Result = static_cast<double>(DaysFrom1899(year, month, day)) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return true;
}

int CALLBACK UnRarCallback(UINT Msg, LPARAM UserData, LPARAM P1, LPARAM P2) {
  // The component that opened the archive rides along as the user data.
  TUnRar* component = UserData != 0 ? reinterpret_cast<TUnRar*>(UserData) : CurrentUnRar;
  // No component to answer: stop whatever the library is doing.
  if (component == nullptr) return -1;
  return component->HandleCallback(Msg, P1, P2);
}

TUnRar::TUnRar(TComponent* Owner) : TComponent(Owner) {
  LoadUnRarLibrary();
  FLibHeld = IsUnRarLibraryLoaded();
  // A library without one of the entries the component calls is treated as
  // missing: the run reports "UnRar.Dll not loaded" instead of calling null.
  FLibLoaded = FLibHeld && UnRarLibraryComplete();
  if (FLibLoaded) FDllVersion = UnRarLib.RARGetDllVersion();
  SetMode(UNRAR_LIST);
}

TUnRar::~TUnRar() {
  if (FLibHeld) UnloadUnRarLibrary();
  // The library can no longer call back into a destroyed component.
  if (CurrentUnRar == this) CurrentUnRar = nullptr;
}

void TUnRar::SetMode(TUnRarMode Value) {
  FMode = Value;
  FFileOperation = Value == UNRAR_EXTRACT ? RAR_EXTRACT : RAR_TEST;
}

std::string TUnRar::ErrorText(int Code) {
  switch (Code) {
    case ERAR_NO_MEMORY: return "Mémoire insuffisante";
    case ERAR_BAD_DATA: return "données corrompues";
    case ERAR_BAD_ARCHIVE: return "Archive défectueuse";
    case ERAR_UNKNOWN_FORMAT: return "format inconnu";
    case ERAR_EOPEN: return "Volumn-Error";
    case ERAR_ECREATE: return "Erreur à la création du fichier";
    case ERAR_ECLOSE: return "Erreur à la fermeture du fichier";
    case ERAR_EREAD: return "Erreur de lecture";
    case ERAR_EWRITE: return "Erreur d'écriture";
    case ERAR_SMALL_BUF: return "buffer trop petit";
    case ERAR_MISSING_PASSWORD: return "Mot de passe manquant";
    case ERAR_BAD_PASSWORD: return "Mot de passe incorrect";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Erreur inconnue (code %d)", Code);
      return text;
    }
  }
}

void TUnRar::Error(const std::string& Message, int32_t MessageID) {
  if (OnError) OnError(this, Message, MessageID);
}

void TUnRar::Status(TRarStatus S) {
  if (OnRarStatus) OnRarStatus(this, std::string(), S);
}

void TUnRar::RethrowPending() {
  if (FPending) {
    std::exception_ptr e = FPending;
    FPending = nullptr;
    std::rethrow_exception(e);
  }
}

// The archive is named by its wide name, so any name opens, and the library
// gets this component's callback already for the open: an archive whose
// headers are encrypted asks for its password there.
void TUnRar::PrepareOpenRecord(unsigned int OpenMode) {
  FArcPath = AnsiToWide(FileName);
  FArcPath.push_back(L'\0');
  FCommentBuffer.assign(CommentBufferSize, L'\0');
  FOpenRecord = RAROpenArchiveDataEx();
  FOpenRecord.ArcNameW = &FArcPath[0];
  FOpenRecord.OpenMode = OpenMode;
  FOpenRecord.CmtBufW = FCommentBuffer.data();
  FOpenRecord.CmtBufSize = CommentBufferSize;
  FOpenRecord.Callback = UnRarCallback;
  FOpenRecord.UserData = reinterpret_cast<LPARAM>(this);
}

bool TUnRar::OpenArchive() {
  Status(RAR_ONBEFOREOPEN);
  FHandle = UnRarLib.RAROpenArchiveEx(&FOpenRecord);
  RethrowPending();
  Status(RAR_ONOPEN);
  if (FHandle == nullptr) {
    // The library gives no handle when it cannot open the archive; report why.
    const int code = FOpenRecord.OpenResult != 0 ? static_cast<int>(FOpenRecord.OpenResult) : ERAR_EOPEN;
    FArchivComment.clear();
    FCommentSize = 0;
    NoteResult(code);
    return false;
  }
  if (FOpenRecord.OpenResult != 0) NoteResult(static_cast<int>(FOpenRecord.OpenResult));
  switch (FOpenRecord.CmtState) {
    case 0:
      FArchivComment.clear();
      FCommentSize = 0;
      break;
    case 1:
      FArchivComment = WideToAnsi(FCommentBuffer.data(), FCommentBuffer.size());
      FCommentSize = static_cast<uint32_t>(FArchivComment.size());
      if (OnComment) OnComment(this, FArchivComment);
      break;
    case ERAR_NO_MEMORY:
    case ERAR_BAD_DATA:
    case ERAR_UNKNOWN_FORMAT:
    case ERAR_SMALL_BUF:
      Error(ErrorText(static_cast<int>(FOpenRecord.CmtState)), static_cast<int32_t>(FOpenRecord.CmtState));
      break;
    default: break;
  }
  return true;
}

void TUnRar::CloseArchive() {
  HANDLE handle = FHandle;
  FHandle = nullptr;
  struct BufferRelease {
    TUnRar* Self;
    ~BufferRelease() { std::vector<wchar_t>().swap(Self->FCommentBuffer); }
  } release{this};
  if (handle != nullptr && UnRarLib.RARCloseArchive(handle) == ERAR_ECLOSE)
    Error("Erreur lors de la fermeture", ERAR_ECLOSE);
  Status(RAR_AFTERCLOSE);
}

void TUnRar::ProcessArchive() {
  StopProcessing = false;
  FPending = nullptr;
  FPasswordAsked = FPasswordDeclined = FPasswordAnsweredW = FVolumeAnsweredW = false;
  FPasswordResult = 0;
  FPasswordState = TPasswordState::NotAsked;
  if (!FLibLoaded) {
    Error("UnRar.Dll not loaded", 0);
    return;
  }
  FFilesProcessed = 0;
  FSizeProcessed = 0;
  FDataDone = FDataReported = 0;
  CurrentUnRar = this;
  FAskedVolume.clear();
  FAskCount = 0;
  // However the run ends: what became of the password, which is then forgotten.
  struct RunEnd {
    TUnRar* Self;
    ~RunEnd() {
      if (Self->FPasswordResult == ERAR_BAD_PASSWORD)
        Self->FPasswordState = TPasswordState::Wrong;
      else if (Self->FPasswordResult == ERAR_MISSING_PASSWORD || Self->FPasswordDeclined)
        Self->FPasswordState = TPasswordState::Cancelled;
      else if (Self->FPasswordAsked)
        Self->FPasswordState = TPasswordState::Given;
      Self->ForgetRunPassword();
      Self->FInRun = false;
    }
  } runEnd{this};
  FInRun = true;
  FRedirName.assign(RedirNameSize, L'\0');
  FHeader.RedirName = FRedirName.data();
  FHeader.RedirNameSize = RedirNameSize;
  FLinks.reset(FMode == UNRAR_EXTRACT ? new TLinkCopies(AnsiToWide(Directory)) : nullptr);
  FWriter.reset();
  if (CanProgress) {
    CountFiles();
    // A password that failed the counting pass would fail the main pass too.
    if (FPasswordResult != 0) return;
    if (FMode == UNRAR_EXTRACT && FSizesStated && OnUnpackedSize && !OnUnpackedSize(this, FDataTotal)) return;
  } else {
    FDataTotal = 0;
  }
  FVersionsOf.clear();
  FOlderVersion = false;
  if (WriteInBackground && FMode == UNRAR_EXTRACT && OverrideEvent == OR_ALWAYS && FileList.empty())
    FWriter = std::make_unique<TRarFileWriter>([this](const std::wstring& File) {
      if (OnFileWritten) OnFileWritten(this, File);
    });
  WalkArchive(FMode == UNRAR_LIST ? RAR_OM_LIST : RAR_OM_EXTRACT, [&] {
    for (;;) {
      const int r = UnRarLib.RARReadHeaderEx(FHandle, &FHeader);
      RethrowPending();
      if (r == ERAR_END_ARCHIVE) break;
      HandleHeader(r);
      if (r != ERAR_SUCCESS && r != ERAR_BAD_DATA) NoteResult(r);
      if (StopProcessing || r != ERAR_SUCCESS) break;
      FOlderVersion = FMode == UNRAR_EXTRACT && IsOlderVersion();
      const uint64_t start = FDataDone;
      const int c = ProcessFile(FFileOperation);
      RethrowPending();
      // A write that failed stopped the library: the writer says why.
      if (c != ERAR_SUCCESS && !(FWriter && FWriter->Failed())) NoteResult(c);
      if (StopProcessing || c != ERAR_SUCCESS) break;
      // A file skipped counts as done: the progress still reaches the total.
      FDataDone = std::max(FDataDone, start + UnpackedSize(FHeader));
      FireDataProgress();
    }
  });
  if (FWriter) FinishWriting();
  if (FLinks && !StopProcessing) MakeLinks();
}

// The library's record does not say whether a header holds an older version
// of a file (which it names "name;N"); Quarn's own walk over the headers of
// the volume that holds it does, in the same order.
bool TUnRar::IsOlderVersion() {
  const std::wstring volume(FHeader.ArcNameW, wcsnlen(FHeader.ArcNameW, 1024));
  if (volume != FVersionsOf) {
    FVersionsOf = volume;
    FVersions = RarOlderVersions(WideToAnsi(volume));
    FVersionAt = 0;
  }
  const bool older = FVersionAt < FVersions.size() && FVersions[FVersionAt];
  ++FVersionAt;
  return older && HeaderFileNameW(FHeader).find(L';') != std::wstring::npos;
}

void TUnRar::FinishWriting() {
  const std::unique_ptr<TRarFileWriter> writer = std::move(FWriter);
  std::wstring path;
  DWORD error = 0;
  bool creating = false;
  if (writer->Finish(path, error, creating)) return;
  if (IsDiskFullCode(error) && OnDiskFull) {
    OnDiskFull(this, path);
    return;
  }
  const int code = creating ? ERAR_ECREATE : ERAR_EWRITE;
  Error(ErrorText(code) + " (" + WideToAnsi(path) + ")", code);
}

void TUnRar::MakeLinks() {
  const std::unique_ptr<TLinkCopies> links = std::move(FLinks);
  links->Make(
      [this](const std::wstring& File) {
        if (OnFileWritten) OnFileWritten(this, File);
      },
      [this](TLinkCopies::TNotMade Why, const std::wstring& Link) {
        Error(std::string(TLinkCopies::Text(Why)) + " (" + WideToAnsi(Link) + ")", 0);
      });
}

// Reports a result of the library. A missing or wrong password is kept for
// PasswordState; the missing password the user declined to give, and what
// follows a stop the caller asked for, are not reported.
void TUnRar::NoteResult(int Code) {
  if (Code == ERAR_BAD_PASSWORD || (Code == ERAR_MISSING_PASSWORD && FPasswordResult == 0)) FPasswordResult = Code;
  if ((Code == ERAR_MISSING_PASSWORD && FPasswordDeclined) || StopProcessing) return;
  Error(ErrorText(Code), Code);
}

void TUnRar::ForgetRunPassword() {
  Wipe(FRunPassword);
  FRunPasswordSet = false;
}

void TUnRar::DataWritten(uint64_t Count) {
  FFileDataSeen = true;
  FDataDone += Count;
  if (FDataDone - FDataReported >= DataProgressStep) FireDataProgress();
}

void TUnRar::FireDataProgress() {
  if (!OnDataProgress || FDataDone == FDataReported) return;
  FDataReported = FDataDone;
  OnDataProgress(this, FDataDone, FDataTotal);
}

// Opens the archive in Mode (the library gets this component's callback with
// the open, and asks it for the password), runs Walk over its headers, and closes the archive on every path;
// when Walk raises, its exception is the one that leaves. Nothing runs when a
// handler stopped processing before the open or right after it.
void TUnRar::WalkArchive(int Mode, const std::function<void()>& Walk) {
  PrepareOpenRecord(Mode);
  if (StopProcessing) {
    std::vector<wchar_t>().swap(FCommentBuffer);
    return;
  }
  try {
    if (OpenArchive() && !StopProcessing) Walk();
  } catch (...) {
    try {
      CloseArchive();
    } catch (...) {
    }
    throw;
  }
  CloseArchive();
}

void TUnRar::CountFiles() {
  if (!FLibLoaded) {
    Error("UnRar.Dll not loaded", 0);
    return;
  }
  CurrentUnRar = this;
  FFileCount = 0;
  FSizeCount = 0;
  FDataTotal = 0;
  FSizesStated = true;
  // On its own, the pass forgets the password it was given when it ends;
  // within ProcessArchive the main pass uses it still.
  struct PassEnd {
    TUnRar* Self;
    ~PassEnd() {
      if (!Self->FInRun) Self->ForgetRunPassword();
    }
  } passEnd{this};
  // Only a password failure is reported from this pass (the main pass, which
  // reports the rest, does not run after one).
  const auto passwordFailure = [this](int code) {
    if (code == ERAR_MISSING_PASSWORD || code == ERAR_BAD_PASSWORD) NoteResult(code);
  };
  // The archive is only listed: skipping a file of a solid archive in the
  // extract mode would unpack it, doubling the work of the run.
  WalkArchive(RAR_OM_LIST, [&] {
    for (;;) {
      const int r = UnRarLib.RARReadHeaderEx(FHandle, &FHeader);
      RethrowPending();
      passwordFailure(r);
      if (r == ERAR_END_ARCHIVE || StopProcessing || r != ERAR_SUCCESS) break;
      const int c = UnRarLib.RARProcessFileW(FHandle, RAR_SKIP, nullptr, nullptr);
      RethrowPending();
      passwordFailure(c);
      if (c == ERAR_SUCCESS && (FHeader.Flags & FlagSplitBefore) == 0) {
        ++FFileCount;
        FSizeCount += FHeader.UnpSize;
        FDataTotal += UnpackedSize(FHeader);
        if (UnpackedSize(FHeader) == UnknownUnpackedSize) FSizesStated = false;
      }
      if (StopProcessing || c != ERAR_SUCCESS) break;
    }
  });
}

void TUnRar::HandleHeader(int r) {
  if (r == ERAR_BAD_DATA) {
    Error("Entête de fichier corrompu", ERAR_BAD_DATA);
    return;
  }
  if (!OnFileProcessing && !OnProgress) return;
  TranslateHeader();
  if (OnFileProcessing) OnFileProcessing(this, FTranslated, r);
  if (OnProgress) {
    ++FFilesProcessed;
    FSizeProcessed += FHeader.UnpSize;
    OnProgress(this, FFilesProcessed, FFileCount, FSizeProcessed, FSizeCount);
  }
}

void TUnRar::TranslateHeader() {
  const RARHeaderDataEx& h = FHeader;
  TUnRarHeaderData& t = FTranslated;
  t.ArcName = HeaderArcName(h);
  t.FileName = HeaderFileName(h);
  t.ContinuedNext = (h.Flags & FlagSplitAfter) != 0;
  t.ContinuedPrev = (h.Flags & FlagSplitBefore) != 0;
  t.Encrypted = (h.Flags & FlagEncrypted) != 0;
  if (FDllVersion >= DllVersionWithDirectoryFlag) {
    t.IsDirectory = (h.Flags & FlagDirectory) != 0;
    t.DictionarySize = static_cast<int32_t>(h.DictSize * 1024u);
  } else {
    t.IsDirectory = (h.Flags & FlagDictionaryBits) == FlagDictionaryBits;
    t.DictionarySize = static_cast<int32_t>(65536u << ((h.Flags & FlagDictionaryBits) >> 5));
  }
  t.PackSize = static_cast<int32_t>(h.PackSize);
  t.UnpSize = static_cast<int32_t>(h.UnpSize);
  static const char* const hosts[] = {"DOS", "IBM OS/2", "Windows", "Unix"};
  if (h.HostOS < 4) t.HostOS = hosts[h.HostOS];
  char crc[16];
  std::snprintf(crc, sizeof crc, "%X", h.FileCRC);
  t.FileCRC = crc;
  // An invalid DOS stamp has no date-time value: FileTime is 0 then.
  if (!DosDateTimeToDateTime(h.FileTime, t.FileTime)) t.FileTime = 0;
  t.UnpVerMajor = static_cast<int32_t>(h.UnpVer / 10);
  t.UnpVerMinor = static_cast<int32_t>(h.UnpVer % 10);
  static const char* const methods[] = {"pas de compression", "la plus rapide", "rapide", "normale", "bonne",
                                        "la meilleure"};
  if (h.Method >= 0x30 && h.Method <= 0x35) t.Method = methods[h.Method - 0x30];
  const unsigned a = h.FileAttr;
  t.AttrArchive = (a & 0x20) != 0;
  t.AttrCompressed = (a & 0x800) != 0;
  t.AttrDirectory = (a & 0x10) != 0;
  t.AttrHidden = (a & 0x2) != 0;
  t.AttrNormal = (a & 0x80) != 0;
  t.AttrOffline = (a & 0x1000) != 0;
  t.AttrReadOnly = (a & 0x1) != 0;
  t.AttrSystem = (a & 0x4) != 0;
  t.AttrTemporary = (a & 0x100) != 0;
}

// The attributes a file or folder of the header gets on disk. Archives made
// on Unix or BeOS carry a Unix mode in place of attributes (0644 would read
// as system and temporary), so their items get the library's own choice on
// Windows: a plain folder or an archive-flagged file.
namespace {
DWORD DiskAttributes(const RARHeaderDataEx& Header, bool IsDirectory) {
  constexpr unsigned kHostUnix = 3, kHostBeOS = 5;
  if (Header.HostOS == kHostUnix || Header.HostOS == kHostBeOS)
    return IsDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  return Header.FileAttr;
}
}  // namespace

int TUnRar::ProcessFile(int Operation) {
  // Only the latest version of a file is extracted, as the library's own
  // tool does unless told otherwise.
  if (Operation == RAR_EXTRACT && FOlderVersion) return UnRarLib.RARProcessFileW(FHandle, RAR_SKIP, nullptr, nullptr);
  int op = Operation;
  // An extracted file goes where the program's one rule for item names puts
  // it below Directory (never outside it, never to a device); a name with
  // nothing left of it is skipped. The rule's renames are reported.
  std::wstring destination, relative;
  std::string target = Directory + "\\" + HeaderFileName(FHeader);
  const bool isDirectory = FDllVersion >= DllVersionWithDirectoryFlag
                               ? (FHeader.Flags & FlagDirectory) != 0
                               : (FHeader.Flags & FlagDictionaryBits) == FlagDictionaryBits;
  if (Operation == RAR_EXTRACT) {
    std::wstring folder = AnsiToWide(Directory);
    bool changed = false;
    relative = ItemPathBelow(PathRule, folder, HeaderFileNameW(FHeader), isDirectory, changed);
    if (changed && OnRenamed) OnRenamed(this, HeaderFileName(FHeader), WideToAnsi(relative));
    if (relative.empty()) return UnRarLib.RARProcessFileW(FHandle, RAR_SKIP, nullptr, nullptr);
    target = Directory + "\\" + WideToAnsi(relative);
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L':') folder += L'\\';
    destination = folder + relative;
  }
  // (The background writer is used with OR_ALWAYS only, and leaves a file
  // that was there alone until data come: it needs no look beforehand.)
  const bool existed = !FWriter && !destination.empty() && FileExists(LongPathForm(destination));
  if (OverrideEvent != OR_ALWAYS) {
    bool listed = FileList.empty();
    for (const std::string& entry : FileList)
      if (SameTextA(entry, target)) {
        listed = true;
        break;
      }
    if (!listed) {
      op = RAR_SKIP;
    } else if (isDirectory || Operation != RAR_EXTRACT || !existed) {
      op = Operation;
    } else if (OverrideEvent == OR_NEVER) {
      op = RAR_SKIP;
    } else {
      bool canOverride = false;
      if (OnOverride) OnOverride(this, target, canOverride);
      op = canOverride ? Operation : RAR_SKIP;
    }
  }
  // A link, or a file reference, is not the library's to make (it would write
  // an empty file for a reference): it is made as a copy once every file is
  // out.
  const unsigned int redirect = FHeader.RedirType;
  if (op == RAR_EXTRACT && FLinks && !relative.empty() && redirect >= RedirUnixSymlink && redirect <= RedirFileCopy) {
    std::wstring leadsTo(FRedirName.data(), wcsnlen(FRedirName.data(), FRedirName.size()));
    // The library gives Windows links' targets in their native form ("\??\C:\..." for an absolute one).
    if ((redirect == RedirJunction || redirect == RedirWindowsSymlink) && leadsTo.compare(0, 4, L"\\??\\") == 0)
      leadsTo.erase(0, 4);
    if (redirect == RedirFileCopy)
      FLinks->AddReference(HeaderFileNameW(FHeader), relative, leadsTo);
    else
      FLinks->Add(HeaderFileNameW(FHeader), relative, leadsTo, redirect == RedirHardLink);
    return UnRarLib.RARProcessFileW(FHandle, RAR_SKIP, nullptr, nullptr);
  }
  if (FWriter && op == RAR_EXTRACT && isDirectory && !destination.empty()) {
    // Made by the writer in its turn, never beside it by the library.
    FWriter->Folder(destination, DiskAttributes(FHeader, isDirectory));
    return UnRarLib.RARProcessFileW(FHandle, RAR_SKIP, nullptr, nullptr);
  }
  if (FWriter && op == RAR_EXTRACT && !isDirectory && !destination.empty()) {
    // The library unpacks and checks the file; the writer writes it.
    FWriter->Begin(destination);
    FWriting = true;
    const int result = UnRarLib.RARProcessFileW(FHandle, RAR_TEST, nullptr, nullptr);
    FWriting = false;
    const FILETIME time = {FHeader.MtimeLow, FHeader.MtimeHigh};
    const bool timed = FHeader.MtimeLow != 0 || FHeader.MtimeHigh != 0;
    FWriter->End(result == ERAR_SUCCESS, timed ? &time : nullptr, DiskAttributes(FHeader, isDirectory));
    return result;
  }
  // The wide call carries any name unchanged (the ANSI one passes paths
  // through the OEM code page).
  FFileDataSeen = false;
  const int result = UnRarLib.RARProcessFileW(FHandle, op, nullptr, destination.empty() ? nullptr : &destination[0]);
  // A file that failed or was stopped half-way must not look finished. A file
  // that was there before stays when the library wrote nothing over it.
  if (result != ERAR_SUCCESS && op == RAR_EXTRACT && (!existed || FFileDataSeen)) RemoveFile(destination);
  if (result == ERAR_SUCCESS && op == RAR_EXTRACT && !isDirectory && !destination.empty() && OnFileWritten)
    OnFileWritten(this, destination);
  return result;
}

int TUnRar::AnswerVolume(std::string& Name) {
  if (Name == FAskedVolume) {
    ++FAskCount;
  } else {
    FAskedVolume = Name;
    FAskCount = 1;
  }
  int answer = 0;
  if (OnVolChange) {
    OnVolChange(this, Name, 0);
  } else if (PromptForVolumn) {
    const std::string current = HeaderArcName(FHeader);
    // Room for the most bytes the library's wide buffer can take.
    std::vector<char> typed(UnRarVolumeNameSize * 3, '\0');
    const bool ok = AskNextVolume(current, typed.data(), typed.size());
    Name = typed.data();
    answer = ok && Name != current ? 0 : -1;
  } else {
    answer = -1;
  }
  return answer;
}

// The answer for the name Stored in the library's buffer, where Asked was.
int TUnRar::CheckVolumeAnswer(int Answer, const std::string& Stored, const std::string& Asked) const {
  if (Stored.empty()) return -1;
  // The library asks again, forever, for a name given back unchanged with
  // answer 0: give up on the third ask for the same name.
  if (Answer == 0 && FAskCount >= MaxVolumeAsks && Stored == Asked) return -1;
  return Answer;
}

int TUnRar::AnswerPassword(std::string& Answer) {
  FPasswordAsked = true;
  if (FRunPasswordSet) {
    Answer = FRunPassword;
  } else {
    // Password answers; only without one is the user asked.
    Answer = Password;
    const bool ask = Answer.empty() && (OnPassword || PromptForPass);
    if (Answer.empty()) {
      if (OnPassword)
        OnPassword(this, Answer);
      else if (PromptForPass)
        Answer = AskPassword();
      else
        Error("Pas de mot de passe!", 0);
    }
    FRunPassword = Answer;
    FRunPasswordSet = true;
    FPasswordDeclined = ask && Answer.empty();
    if (OnRarStatus) OnRarStatus(this, "Le mot de passe utilisé est : " + Answer, RAR_ONPASSWORD);
  }
  // No password: the library stops with "missing password".
  return Answer.empty() ? -1 : 0;
}

int TUnRar::HandleCallback(UINT Msg, LPARAM P1, LPARAM P2) {
  // Handlers run inside the library's call: nothing may unwind through it.
  // An exception is kept, the library told to stop, and the exception raised
  // again once the library call has returned.
  if (FPending) return -1;
  try {
    int answer = 0;
    switch (Msg) {
      case UCM_CHANGEVOLUMEW:
      case UCM_CHANGEVOLUME:
        if (P2 != RAR_VOL_ASK) {
          FAskedVolume.clear();
          FAskCount = 0;
          FVolumeAnsweredW = false;
        } else if (Msg == UCM_CHANGEVOLUMEW) {
          wchar_t* buffer = reinterpret_cast<wchar_t*>(P1);
          const std::string asked = WideToAnsi(buffer, UnRarVolumeNameSize);
          std::string name = asked;
          answer = AnswerVolume(name);
          CopyToBuffer(buffer, UnRarVolumeNameSize, AnsiToWide(name));
          const std::string stored = WideToAnsi(buffer, UnRarVolumeNameSize);
          answer = CheckVolumeAnswer(answer, stored, asked);
          FVolumeAnsweredW = answer == 0 && stored == asked;
        } else if (FVolumeAnsweredW) {
          // The wide ask kept the name: the byte ask keeps it too.
          FVolumeAnsweredW = false;
        } else {
          char* buffer = reinterpret_cast<char*>(P1);
          const std::string asked = BoundedAnsi(buffer, UnRarVolumeNameSize);
          std::string name = asked;
          answer = AnswerVolume(name);
          CopyToBuffer(buffer, UnRarVolumeNameSize, name);
          answer = CheckVolumeAnswer(answer, BoundedAnsi(buffer, UnRarVolumeNameSize), asked);
        }
        break;
      case UCM_PROCESSDATA:
        DataWritten(static_cast<uint64_t>(static_cast<ULONG_PTR>(P2)));
        answer = StopProcessing ? -1 : 0;
        if (answer == 0 && FWriting &&
            !FWriter->Write(reinterpret_cast<const void*>(P1), static_cast<size_t>(static_cast<ULONG_PTR>(P2))))
          answer = -1;
        break;
      case UCM_NEEDPASSWORDW:
      case UCM_NEEDPASSWORD:
        if (Msg == UCM_NEEDPASSWORD && FPasswordAnsweredW) {
          // The wide ask got no password: neither does the byte one.
          FPasswordAnsweredW = false;
          answer = -1;
        } else if (P2 > 0) {
          std::string password;
          answer = AnswerPassword(password);
          if (Msg == UCM_NEEDPASSWORDW) {
            std::wstring wide = AnsiToWide(password);
            CopyToBuffer(reinterpret_cast<wchar_t*>(P1), static_cast<size_t>(P2), wide);
            Wipe(wide);
            FPasswordAnsweredW = answer != 0;
          } else {
            CopyToBuffer(reinterpret_cast<char*>(P1), static_cast<size_t>(P2), password);
          }
          Wipe(password);
        }
        break;
      default: break;
    }
    if (StopProcessing) answer = -1;
    return answer;
  } catch (...) {
    FPending = std::current_exception();
    return -1;
  }
}
