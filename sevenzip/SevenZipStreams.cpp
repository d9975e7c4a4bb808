#include "SevenZipStreams.h"

#include <commdlg.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>

#include "Files.h"
#include "SevenZipPaths.h"
#include "Sync.h"

namespace {
const HRESULT kNegativeSeek = HRESULT_FROM_WIN32(ERROR_NEGATIVE_SEEK);

bool SeekHandle(HANDLE h, uint64_t pos) {
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(pos);
  return SetFilePointerEx(h, li, nullptr, FILE_BEGIN) != 0;
}

uint64_t HandleSize(HANDLE h) {
  LARGE_INTEGER zero{}, size{};
  if (!SetFilePointerEx(h, zero, &size, FILE_END)) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

// Applies a seek from origin 0 (the start), 1 (the current position) or 2
// (End) to a 64-bit position, which never becomes negative.
HRESULT SeekFrom(uint64_t& position, INT64 offset, UINT32 origin, uint64_t end) {
  uint64_t base = 0;
  switch (origin) {
    case 0: base = 0; break;
    case 1: base = position; break;
    case 2: base = end; break;
    default: return STG_E_INVALIDFUNCTION;
  }
  if (offset < 0 && static_cast<uint64_t>(-offset) > base) return kNegativeSeek;
  position = base + static_cast<uint64_t>(offset);
  return S_OK;
}

bool AllDigits(const std::wstring& s) {
  if (s.empty()) return false;
  for (wchar_t c : s)
    if (c < L'0' || c > L'9') return false;
  return true;
}
}  // namespace

bool SevenZipTraceEnabled() { return IsDebuggerPresent() != 0; }

void SevenZipTrace(const wchar_t* format, ...) {
  if (!SevenZipTraceEnabled()) return;
  wchar_t line[512];
  va_list args;
  va_start(args, format);
  _vsnwprintf(line, 511, format, args);
  va_end(args);
  line[511] = L'\0';
  OutputDebugStringW(line);
}

std::wstring VolumeNumberText(uint32_t n) {
  std::wstring s = std::to_wstring(n);
  if (s.size() < 3) s.insert(0, 3 - s.size(), L'0');
  return s;
}

// ---------------------------------------------------------------------------
// TExceptionKeeper

void TExceptionKeeper::Keep(std::exception_ptr E) {
  std::lock_guard<TLock> lock(FLock);
  if (!FFirst) FFirst = E;
}

bool TExceptionKeeper::Holding() {
  std::lock_guard<TLock> lock(FLock);
  return FFirst != nullptr;
}

void TExceptionKeeper::RethrowKept() {
  std::exception_ptr kept;
  {
    std::lock_guard<TLock> lock(FLock);
    std::swap(kept, FFirst);
  }
  if (kept) std::rethrow_exception(kept);
}

// ---------------------------------------------------------------------------
// TReadFailure

void TReadFailure::Keep(const std::wstring& File, DWORD Error) {
  std::lock_guard<TLock> lock(FLock);
  if (FFailed) return;
  FFailed = true;
  FFile = File;
  FError = Error;
}

bool TReadFailure::Failed(std::wstring& File, DWORD& Error) {
  std::lock_guard<TLock> lock(FLock);
  File = FFile;
  Error = FError;
  return FFailed;
}

void TReadFailure::Clear() {
  std::lock_guard<TLock> lock(FLock);
  FFailed = false;
  FFile.clear();
  FError = 0;
}

// ---------------------------------------------------------------------------
// TInterfacedObject

ULONG TInterfacedObject::DoRelease() {
  LONG n = --FRefCount;
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT TInterfacedObject::DoQueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  IUnknown* found = FindInterface(iid);
  if (SevenZipTraceEnabled()) {
    wchar_t id[40] = L"";
    StringFromGUID2(iid, id, 40);
    SevenZipTrace(found ? L"INTERFACEOK:%ls %ls" : L"  NOINTERFACE: %ls %ls", ClassName(), id);
  }
  *out = found;
  if (found == nullptr) return E_NOINTERFACE;
  DoAddRef();
  return S_OK;
}

// ---------------------------------------------------------------------------
// TMyStreamReader

TMyStreamReader::TMyStreamReader(const TReaderOptions& Options, bool MultiVolume_, const std::wstring& FileName)
    : MultiVolume(MultiVolume_), FOptions(Options), FFileName(FileName) {
  if (FOptions.Sfx) Position = FOptions.SfxOffset;
  TVolume first;
  first.Name = FileName;
  first.Handle.Reset(CreateFileAuto(FileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
  if (first.Handle) first.Size = HandleSize(first.Handle.Get());
  first.Removable = IsRemovableDrive(FileName);
  KnownSize = MultiVolume ? 0 : first.Size;
  VolumesLocated = !MultiVolume;
  Volumes.push_back(std::move(first));
}

TMyStreamReader::~TMyStreamReader() { SevenZipTrace(L"TMyStreamReader.Destroy"); }

IUnknown* TMyStreamReader::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_ISequentialInStream || iid == IID_IInStream)
    return static_cast<IInStream*>(this);
  if (iid == IID_IStreamGetSize) return static_cast<IStreamGetSize*>(this);
  return nullptr;
}

std::wstring TMyStreamReader::PartName(uint32_t n) const {
  const std::wstring base = FOptions.Sfx ? FFileName : ChangeFileExtW(FFileName, L"");
  return base + L"." + VolumeNumberText(n);
}

void TMyStreamReader::CloseVolume(TVolume& v) { v.Handle.Reset(); }

// The highest part number present beside the first part, gaps allowed (a
// missing middle part is asked for when the set is located). 1 when the
// first part is not a numbered part of a set.
uint32_t TMyStreamReader::HighestExistingPart() const {
  std::wstring base;
  if (FOptions.Sfx) {
    base = FFileName;
  } else {
    const std::wstring ext = ExtractFileExtW(FFileName);
    if (ext.size() < 2 || !AllDigits(ext.substr(1))) return 1;
    base = ChangeFileExtW(FFileName, L"");
  }
  const std::wstring stem = UpperCaseW(ExtractFileNameW(base)) + L".";
  uint32_t highest = 1;
  WIN32_FIND_DATAW fd;
  const TFindHandle search(FindFirstFileW(LongPathForm(base + L".*").c_str(), &fd));
  if (!search) return highest;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring name = UpperCaseW(fd.cFileName);
    if (name.size() <= stem.size() || name.compare(0, stem.size(), stem) != 0) continue;
    const std::wstring number = name.substr(stem.size());
    if (!AllDigits(number) || number.size() > 9) continue;
    highest = std::max<uint32_t>(highest, static_cast<uint32_t>(std::stoul(number)));
  } while (FindNextFileW(search.Get(), &fd));
  return highest;
}

// Finds the extent of the set: the last part and the total size. A middle
// part that is not there is asked for now; one not given counts with the
// size of the first part (7z volumes are all of one size but the last), and
// reading it fails.
bool TMyStreamReader::LocateLastVolume() {
  LastPart = MultiVolume ? HighestExistingPart() : 1;
  if (Volumes.size() < LastPart) Volumes.resize(LastPart);
  uint64_t total = Volumes[0].Size;
  for (uint32_t n = 2; n <= LastPart; ++n) {
    TVolume& v = Volumes[n - 1];
    if (v.Name.empty()) v.Name = PartName(n);
    if (v.Size == 0 && !v.Missing && !FileExistsW(v.Name)) AskForPart(n);
    uint64_t size = v.Size;
    if (size == 0 && !v.Missing) size = FileSizeW(v.Name);
    if (size == 0 && n < LastPart) size = Volumes[0].Size;
    total += size;
  }
  if (LastPart >= 2 && !OpenVolume(LastPart)) return false;
  KnownSize = total;
  VolumesLocated = true;
  return true;
}

void TMyStreamReader::Locate() {
  if (!VolumesLocated) LocateLastVolume();
}

bool TMyStreamReader::AskForPart(uint32_t n) {
  TVolume& v = Volumes[n - 1];
  for (;;) {
    bool cancel = false;
    std::wstring name = v.Name;
    if (FOptions.OnOpenVolume)
      FOptions.OnOpenVolume(name, Volumes[0].Removable, cancel);
    else
      cancel = !AskForVolume(L"Select volume", name);
    if (cancel) {
      v.Missing = true;
      return false;
    }
    v.Name = name;
    if (FileExistsW(name)) return true;
  }
}

bool TMyStreamReader::OpenVolume(uint32_t n) {
  if (n == 0) return false;
  if (n > Volumes.size()) Volumes.resize(n);
  TVolume& v = Volumes[n - 1];
  if (v.Handle) return v.Size > 0;
  if (v.Missing) return false;
  if (v.Name.empty()) v.Name = (n == 1) ? FFileName : PartName(n);
  while (!v.Handle) {
    v.Handle.Reset(CreateFileAuto(v.Name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0));
    if (v.Handle) {
      v.Size = HandleSize(v.Handle.Get());
      SeekHandle(v.Handle.Get(), 0);
      break;
    }
    if (!AskForPart(n)) return false;
  }
  return v.Size > 0;
}

bool TMyStreamReader::AskForVolume(const std::wstring& caption, std::wstring& name) {
  try {
    const std::wstring stem = ChangeFileExtW(ExtractFileNameW(name), L"");
    std::wstring filter = stem + L"-volumes";
    filter += L'\0';
    filter += stem + L".*";
    filter += L'\0';
    filter += L'\0';
    const std::wstring folder = ExtractFilePathW(name);
    wchar_t buffer[MAX_PATH] = L"";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = caption.c_str();
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    SetLastError(0);
    if (GetOpenFileNameW(&ofn) && CommDlgExtendedError() == 0) {
      name = buffer;
      return true;
    }
  } catch (...) {
  }
  return false;
}

HRESULT STDMETHODCALLTYPE TMyStreamReader::Read(void* data, UINT32 size, UINT32* processedSize) {
  if (processedSize) *processedSize = 0;
  return EngineCall(FOptions.Keeper, [&] { return ReadBody(data, size, processedSize); });
}

HRESULT TMyStreamReader::ReadBody(void* data, UINT32 size, UINT32* processedSize) {
  if (processedSize) *processedSize = 0;
  if (size == 0) return S_OK;
  if (!VolumesLocated && Position + size > Volumes[0].Size) {
    if (!LocateLastVolume()) return S_FALSE;
  }
  uint8_t* out = static_cast<uint8_t*>(data);
  UINT32 count = 0;
  // A read that fails is an error of its own, told as the system's; taken
  // for a short read it would look like an archive cut short.
  const auto failed = [this](const TVolume& v) {
    const DWORD error = GetLastError();
    if (FOptions.ReadFailure != nullptr) FOptions.ReadFailure->Keep(v.Name, error);
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
  };
  if (LastPart <= 1) {
    TVolume& v = Volumes[0];
    DWORD got = 0;
    if (v.Handle && !(SeekHandle(v.Handle.Get(), Position) && ReadFile(v.Handle.Get(), out, size, &got, nullptr)))
      return failed(v);
    count = got;
  } else {
    // Find the part holding Position.
    uint32_t n = 1;
    uint64_t start = 0;
    for (;;) {
      if (n > LastPart) {
        n = 0;  // beyond the end of the set
        break;
      }
      TVolume& v = Volumes[n - 1];
      if (v.Size == 0 && !OpenVolume(n)) return S_FALSE;
      if (Position < start + v.Size) break;
      start += v.Size;
      ++n;
    }
    uint64_t offset = n ? Position - start : 0;
    while (n != 0 && n <= LastPart && count < size) {
      if (!OpenVolume(n)) return S_FALSE;
      TVolume& v = Volumes[n - 1];
      const uint64_t chunk64 = std::min<uint64_t>(size - count, v.Size - offset);
      DWORD got = 0;
      if (!SeekHandle(v.Handle.Get(), offset) ||
          !ReadFile(v.Handle.Get(), out + count, static_cast<DWORD>(chunk64), &got, nullptr))
        return failed(v);
      count += got;
      if (got < chunk64) break;
      offset = 0;
      if (count < size && n < LastPart) CloseVolume(v);  // moving on: keep one part open
      ++n;
    }
  }
  Position += count;
  if (processedSize) *processedSize = count;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TMyStreamReader::Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) {
  return EngineCall(FOptions.Keeper, [&] {
    if (seekOrigin == 2 && !VolumesLocated) LocateLastVolume();
    // The end of a set whose size cannot be known is no place to seek from.
    const HRESULT result =
        seekOrigin == 2 && KnownSize == 0 ? S_FALSE : SeekFrom(Position, offset, seekOrigin, KnownSize);
    if (newPosition) *newPosition = Position;
    return result;
  });
}

HRESULT STDMETHODCALLTYPE TMyStreamReader::GetSize(UINT64* size) {
  return EngineCall(FOptions.Keeper, [&] {
    if (!VolumesLocated) LocateLastVolume();
    if (KnownSize == 0) return S_FALSE;
    if (size) *size = KnownSize;
    return S_OK;
  });
}

// ---------------------------------------------------------------------------
// TMyStreamWriter

TMyStreamWriter::TMyStreamWriter(const std::wstring& FileName, double FileDate_, uint32_t Attributes,
                                 uint32_t VolumeSize, bool Append)
    : FileDate(FileDate_), FFileName(FileName), FAttributes(Attributes), FVolumeSize(VolumeSize), FAppend(Append) {
  AddVolume();
}

TMyStreamWriter::~TMyStreamWriter() {
  // Stamp again on close: file systems that move the last-write time on
  // every write would otherwise lose the stamp set at creation.
  for (const THandle& h : Volumes) StampFileDate(h.Get());
  SevenZipTrace(L"TMyStreamWriter.Destroy");
}

IUnknown* TMyStreamWriter::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_ISequentialOutStream || iid == IID_IOutStream)
    return static_cast<IOutStream*>(this);
  return nullptr;
}

std::wstring TMyStreamWriter::PartName(size_t k) const {
  if (FVolumeSize == 0) return FFileName;
  return FFileName + L"." + VolumeNumberText(static_cast<uint32_t>(k));
}

void TMyStreamWriter::AddVolume() {
  const size_t k = Volumes.size();
  // Only the attribute bits a file can be created with; the engine's upper
  // bits (Unix mode, its extension flag) are not Windows attributes.
  DWORD attributes = FAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  THandle h;
  if (FAppend && k == 0) {
    h.Reset(CreateFileAuto(FFileName, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, attributes));
    if (h) Position = MaxPosition = HandleSize(h.Get());
  }
  if (!h) h.Reset(CreateFileAuto(PartName(k + 1), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS, attributes));
  if (!h) throw EAbort();
  StampFileDate(h.Get());
  Volumes.push_back(std::move(h));
}

// Sets FileDate (a local date-time) as the last-write time, through a DOS
// date-time (2-second steps). Dates a DOS stamp cannot hold (before 1980)
// leave the time the file was written.
void TMyStreamWriter::StampFileDate(HANDLE h) const {
  const double ticks = (FileDate + 109205.0) * 864000000000.0;
  if (!(ticks > 0) || ticks > 9.2e18) return;
  const uint64_t t = static_cast<uint64_t>(ticks + 0.5);
  FILETIME local{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}, rounded, utc;
  WORD dosDate = 0, dosTime = 0;
  if (!FileTimeToDosDateTime(&local, &dosDate, &dosTime)) return;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &rounded) || !LocalFileTimeToFileTime(&rounded, &utc)) return;
  SetFileTime(h, nullptr, nullptr, &utc);
}

HRESULT STDMETHODCALLTYPE TMyStreamWriter::Write(const void* data, UINT32 size, UINT32* processedSize) {
  if (processedSize) *processedSize = 0;
  return EngineCall(nullptr, [&]() -> HRESULT {
    if (SevenZipTraceEnabled()) {
      uint32_t first = 0;
      memcpy(&first, data, std::min<UINT32>(size, 4));
      SevenZipTrace(L"-> Write( %.8x, %d )", first, size);
    }
    const uint8_t* in = static_cast<const uint8_t*>(data);
    UINT32 count = 0;
    bool failed = false;
    if (FVolumeSize == 0) {
      DWORD written = 0;
      failed = !SeekHandle(Volumes[0].Get(), Position) || !WriteFile(Volumes[0].Get(), in, size, &written, nullptr);
      count = failed ? 0 : written;
    } else {
      while (Volumes.size() < (Position + size) / FVolumeSize + 1) AddVolume();
      size_t part = static_cast<size_t>(Position / FVolumeSize);
      uint64_t offset = Position % FVolumeSize;
      while (count < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(size - count, FVolumeSize - offset));
        DWORD written = 0;
        if (!SeekHandle(Volumes[part].Get(), offset) ||
            !WriteFile(Volumes[part].Get(), in + count, chunk, &written, nullptr)) {
          failed = true;
          count = 0;
          break;
        }
        count += written;
        if (written < chunk) break;
        offset = 0;
        ++part;
      }
    }
    Position += count;
    MaxPosition = std::max(MaxPosition, Position);
    if (processedSize) *processedSize = count;
    // A failed write (disk full, ...) is reported to the engine, which ends
    // the extraction with that error instead of retrying forever.
    if (failed) {
      const DWORD error = GetLastError();
      return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    return S_OK;
  });
}

HRESULT STDMETHODCALLTYPE TMyStreamWriter::Seek(INT64 offset, UINT32 seekOrigin, UINT64* newPosition) {
  SevenZipTrace(L"TMyStreamWriter.Seek( %lld, %u, %p )", static_cast<long long>(offset), seekOrigin,
                static_cast<void*>(newPosition));
  const HRESULT result = SeekFrom(Position, offset, seekOrigin, MaxPosition);
  MaxPosition = std::max(MaxPosition, Position);
  if (newPosition) *newPosition = Position;
  return result;
}

HRESULT STDMETHODCALLTYPE TMyStreamWriter::SetSize(UINT64 newSize) {
  SevenZipTrace(L"TMyStreamWriter.SetSize( %llu )", static_cast<unsigned long long>(newSize));
  return S_FALSE;
}
