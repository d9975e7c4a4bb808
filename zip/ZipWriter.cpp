#include "ZipWriter.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <set>

#include "Sync.h"
#include "ZipCodec.h"
#include "ZipFile.h"
#include "ZipNames.h"
#include "ZipWorkers.h"
#include "Zippit.h"

namespace {

const char kNameTooLongText[] = "Cannot add \"%s\": the name is longer than 65535 bytes.";
const char kFinishedText[] = "Cannot add \"%s\": the archive is already finished.";

// Files up to this size are read and deflated whole on a worker; larger ones
// stream through zlib in chunks of kChunk.
constexpr uint64_t kWholeFileLimit = 16u << 20;

// True when a value does not fit a 32-bit field (0xFFFFFFFF itself is the
// marker that defers to zip64).
bool Needs64(uint64_t n) { return n >= kZip64Marker32; }

// Whether deflated data of a file of this size might not fit 32 bits: zlib's
// bound of the deflate output for a stream of stored blocks at worst.
bool MayNeed64(uint64_t size) {
  return Needs64(size) || Needs64(size + (size >> 12) + (size >> 14) + (size >> 25) + 13);
}

// One member as it will appear in the central directory.
struct TMember {
  std::string Name;     // as stored (UTF-8 with the flag when not ASCII)
  uint16_t Flags = 0;   // general purpose flags of both headers
  uint16_t MadeBy = 0;  // host of "version made by" (high byte)
  uint32_t Time = 0;
  uint32_t CRC32 = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
  uint64_t Offset = 0;
  bool Zip64Local = false;  // the local header carries a zip64 extra field
};

// A file prepared by a worker.
struct TJob {
  std::string FileName;
  bool Done = false;
  bool Large = false;  // left for the writer to stream
  uint64_t Size = 0;
  uint32_t CRC32 = 0;
  std::string Compressed;
  std::exception_ptr Error;
};

}  // namespace

struct TZipWriter::TImpl {
  TStream& Out;
  TZipWriterOptions Options;
  std::vector<TMember> Members;
  uint64_t Position;
  uint64_t Written = 0;
  bool Finished = false;
  std::string FailedFile;
  TZipProgressHook* Hook = nullptr;
  uint64_t Done = 0;   // input bytes of the files written
  uint64_t Total = 0;  // input bytes of the files known so far

  TImpl(TStream& out, TZipWriterOptions options)
      : Out(out), Options(options), Position(static_cast<uint64_t>(out.GetPosition())) {
    if (Options.Threads <= 0) Options.Threads = ProcessorCount();
  }

  void Write(const void* p, size_t n) {
    Out.WriteBuffer(p, static_cast<int64_t>(n));
    Position += n;
    Written += n;
  }

  void Report(const std::string& member, uint64_t extra) {
    if (Hook == nullptr || !*Hook) return;
    TZipProgress p;
    p.BytesDone = Done + extra;
    p.BytesTotal = std::max(Total, p.BytesDone);
    p.Member = member;
    if (!(*Hook)(p)) throw EAbort();
  }

  uint32_t Now() const { return Options.Time != 0 ? Options.Time : DosDateTimeNow(); }

  // The names of the members so far, folded as Windows compares them.
  std::set<std::string> Taken;
  std::vector<std::pair<std::string, std::string>> Renamed;

  // Name, or when a member has it already (two files of the same path on two
  // drives, "C:\d\a.txt" and "D:\d\a.txt"), the first free "a (2).txt",
  // "a (3).txt" ... in its folder: no file is hidden by another of its name
  // when the archive is extracted.
  std::string FreeName(const std::string& Name) {
    const auto folded = [](std::string s) {
      for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      return s;
    };
    if (Taken.insert(folded(Name)).second) return Name;
    const size_t slash = Name.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = Name.rfind('.');
    if (dot == std::string::npos || dot <= start) dot = Name.size();
    for (int n = 2;; ++n) {
      const std::string name = Name.substr(0, dot) + " (" + std::to_string(n) + ")" + Name.substr(dot);
      if (Taken.insert(folded(name)).second) return name;
    }
  }

  // The local header of m, with its sizes when known (zeros to be patched
  // otherwise).
  void WriteLocalHeader(const TMember& m) {
    TLocalFile h;
    h.Signature = kLocalFileHeaderSignature;
    h.VersionNeeded = m.Zip64Local ? kVersionZip64 : kVersionDeflate;
    h.Flags = m.Flags;
    h.CompressionMethod = kMethodDeflated;
    h.LastModDateTime = m.Time;
    h.CRC32 = m.CRC32;
    std::string extra;
    if (m.Zip64Local) {
      TZip64Values v;
      v.UncompressedSize = m.UncompressedSize;
      v.CompressedSize = m.CompressedSize;
      extra = Zip64Extra(TZip64Fields{true, true, false}, v);
      h.CompressedSize = h.UncompressedSize = kZip64Marker32;
    } else {
      h.CompressedSize = static_cast<uint32_t>(m.CompressedSize);
      h.UncompressedSize = static_cast<uint32_t>(m.UncompressedSize);
    }
    WriteHeader(h, kLocalHeaderSize, FormatLocalHeader, m.Name, extra);
  }

  // A local or central header, its name and its extra field.
  template <typename Header>
  void WriteHeader(Header& h, size_t size, void (*format)(uint8_t*, const Header&), const std::string& name,
                   const std::string& extra) {
    h.FileNameLength = static_cast<uint16_t>(name.size());
    h.ExtraFieldLength = static_cast<uint16_t>(extra.size());
    uint8_t block[kCentralHeaderSize];
    format(block, h);
    Write(block, size);
    Write(name.data(), name.size());
    Write(extra.data(), extra.size());
  }

  // Rewrites the CRC and sizes of m's local header once its data are written.
  void PatchLocalHeader(const TMember& m) {
    const uint64_t end = Position;
    uint8_t b[16];
    PutU32(b, m.CRC32);
    if (m.Zip64Local) {
      Out.SetPosition(static_cast<int64_t>(m.Offset + 14));
      Out.WriteBuffer(b, 4);
      PutU64(b, m.UncompressedSize);
      PutU64(b + 8, m.CompressedSize);
      Out.SetPosition(static_cast<int64_t>(m.Offset + kLocalHeaderSize + m.Name.size() + 4));
      Out.WriteBuffer(b, 16);
      Written += 20;
    } else {
      PutU32(b + 4, static_cast<uint32_t>(m.CompressedSize));
      PutU32(b + 8, static_cast<uint32_t>(m.UncompressedSize));
      Out.SetPosition(static_cast<int64_t>(m.Offset + 14));
      Out.WriteBuffer(b, 12);
      Written += 12;
    }
    Out.SetPosition(static_cast<int64_t>(end));
  }

  TMember NewMember(const std::string& name) {
    if (Finished) throw EZipFileError(WithName(kFinishedText, name));
    if (name.size() > 0xFFFF) throw EZipFileError(WithName(kNameTooLongText, name));
    TMember m;
    // An ASCII name is stored as it is; any other as UTF-8, flagged so.
    const TZipStoredName stored = EncodeZipName(name);
    m.Name = stored.Bytes;
    m.Flags = stored.Flags;
    m.MadeBy = stored.VersionMadeBy & 0xFF00;
    m.Time = Now();
    m.Offset = Position;
    return m;
  }

  void AddWhole(const std::string& name, uint64_t size, uint32_t crc, const std::string& compressed) {
    TMember m = NewMember(name);
    m.CRC32 = crc;
    m.UncompressedSize = size;
    m.CompressedSize = compressed.size();
    m.Zip64Local = Needs64(size) || Needs64(compressed.size());
    WriteLocalHeader(m);
    Write(compressed.data(), compressed.size());
    Members.push_back(m);
  }

  // Streams a large file: its header first, the deflated chunks as they come,
  // then the header's CRC and sizes. A failure cuts the member off again.
  void AddStreamed(const std::string& fileName, const std::string& name) {
    TFileStream file(fileName, fmOpenRead | fmShareExclusive);
    TMember m = NewMember(name);
    m.UncompressedSize = static_cast<uint64_t>(file.GetSize());
    m.Zip64Local = MayNeed64(m.UncompressedSize);
    try {
      WriteLocalHeader(m);
      TStreamDeflater deflater;
      std::vector<uint8_t> chunk(kChunk);
      uint64_t left = m.UncompressedSize;
      const auto sink = [&](const uint8_t* p, size_t n) {
        Write(p, n);
        m.CompressedSize += n;
      };
      do {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
        file.ReadBuffer(chunk.data(), static_cast<int64_t>(n));
        m.CRC32 = ZipCRC32(chunk.data(), n, m.CRC32);
        left -= n;
        deflater.Deflate(chunk.data(), n, left == 0, sink);
        Report(m.Name, m.UncompressedSize - left);
      } while (left > 0);
      PatchLocalHeader(m);
    } catch (...) {
      CutBackTo(m.Offset);
      throw;
    }
    Members.push_back(m);
  }

  void CutBackTo(uint64_t offset) {
    try {
      Out.SetSize(static_cast<int64_t>(offset));
      Out.SetPosition(static_cast<int64_t>(offset));
      Position = offset;
    } catch (const Exception&) {
      // The stream cannot be cut: Finish then fails and nothing is put in place.
      Finished = true;
    }
  }

  void Finish() {
    if (Finished) throw EZipFileError(WithName(kFinishedText, ""));
    Finished = true;
    const uint64_t cdStart = Position;
    for (const TMember& m : Members) {
      TFileHeader h;
      h.Signature = kCentralFileHeaderSignature;
      const bool wideSizes = m.Zip64Local || Needs64(m.CompressedSize) || Needs64(m.UncompressedSize);
      TZip64Fields fields{wideSizes, wideSizes, Needs64(m.Offset)};
      const bool zip64 = fields.UncompressedSize || fields.LocalHeaderOffset;
      h.VersionNeeded = zip64 ? kVersionZip64 : kVersionDeflate;
      h.VersionMadeBy = static_cast<uint16_t>(m.MadeBy | h.VersionNeeded);
      h.Flags = m.Flags;
      h.CompressionMethod = kMethodDeflated;
      h.LastModDateTime = m.Time;
      h.CRC32 = m.CRC32;
      h.UncompressedSize = wideSizes ? kZip64Marker32 : static_cast<uint32_t>(m.UncompressedSize);
      h.CompressedSize = wideSizes ? kZip64Marker32 : static_cast<uint32_t>(m.CompressedSize);
      h.LocalHeaderOffset = fields.LocalHeaderOffset ? kZip64Marker32 : static_cast<uint32_t>(m.Offset);
      TZip64Values v{m.UncompressedSize, m.CompressedSize, m.Offset};
      const std::string extra = zip64 ? Zip64Extra(fields, v) : std::string();
      WriteHeader(h, kCentralHeaderSize, FormatCentralHeader, m.Name, extra);
    }
    const uint64_t cdSize = Position - cdStart;
    const uint64_t count = Members.size();
    const bool zip64 = count >= kZip64Marker16 || Needs64(cdStart) || Needs64(cdSize);
    if (zip64) {
      TZip64EndOfCentralDirectory e64;
      e64.EntriesOnDisk = e64.TotalEntries = count;
      e64.CentralDirSize = cdSize;
      e64.CentralDirOffset = cdStart;
      TZip64Locator locator;
      locator.Zip64EndOffset = Position;
      uint8_t block[kZip64EndRecordSize + kZip64LocatorSize];
      FormatZip64EndRecord(block, e64);
      FormatZip64Locator(block + kZip64EndRecordSize, locator);
      Write(block, sizeof block);
    }
    TEndOfCentralDirectory end;
    end.Signature = kEndOfCentralDirSignature;
    end.EntriesOnDisk = end.TotalEntries = count >= kZip64Marker16 ? kZip64Marker16 : static_cast<uint16_t>(count);
    end.CentralDirSize = Needs64(cdSize) ? kZip64Marker32 : static_cast<uint32_t>(cdSize);
    end.CentralDirOffset = Needs64(cdStart) ? kZip64Marker32 : static_cast<uint32_t>(cdStart);
    uint8_t block[kEndRecordSize];
    FormatEndRecord(block, end);
    Write(block, sizeof block);
  }

  void AddDiskFiles(const std::vector<std::string>& files);
};

// Workers take the files in order, at most a window ahead of the writer, and
// prepare each one: read and deflate it whole, or mark it for streaming. The
// calling thread writes them in order and is the only one that calls the hook.
void TZipWriter::TImpl::AddDiskFiles(const std::vector<std::string>& files) {
  std::vector<TJob> jobs(files.size());
  for (size_t i = 0; i < files.size(); ++i) jobs[i].FileName = files[i];
  size_t nextJob = 0, nextWrite = 0;
  const size_t window = static_cast<size_t>(Options.Threads) * 2;
  const bool zlib = Options.Zlib;

  auto prepare = [zlib](TJob& job) {
    try {
      TFileStream file(job.FileName, fmOpenRead | fmShareExclusive);
      job.Size = static_cast<uint64_t>(file.GetSize());
      if (job.Size > kWholeFileLimit) {
        job.Large = true;
        return;
      }
      std::string data(static_cast<size_t>(job.Size), '\0');
      if (!data.empty()) file.ReadBuffer(&data[0], static_cast<int64_t>(data.size()));
      const auto* p = reinterpret_cast<const uint8_t*>(data.data());
      job.CRC32 = ZipCRC32(p, data.size());
      DeflateWhole(p, data.size(), job.Compressed, zlib);
    } catch (...) {
      job.Error = std::current_exception();
    }
  };
  // A file listed twice (in another case, say) is read by one worker at a
  // time: each holds it with no sharing, and would make the other fail.
  const auto folded = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
  };
  std::multiset<std::string> reading;
  // Declared after everything the workers use, so that they are stopped and
  // waited for before any of it goes.
  TWorkers workers;
  auto work = [&](int) {
    for (;;) {
      size_t i;
      std::string name;
      {
        std::unique_lock<TLock> lock(workers.Mutex);
        while (!workers.Stop && nextJob < jobs.size() &&
               (nextJob >= nextWrite + window || reading.count(folded(jobs[nextJob].FileName)) > 0))
          workers.Changed.wait_for(lock, std::chrono::milliseconds(100));
        if (workers.Stop || nextJob >= jobs.size()) return;
        i = nextJob++;
        name = folded(jobs[i].FileName);
        reading.insert(name);
      }
      prepare(jobs[i]);
      std::unique_lock<TLock> lock(workers.Mutex);
      reading.erase(reading.find(name));
      jobs[i].Done = true;
      workers.Changed.notify_all();
    }
  };
  workers.Start(std::min<int>(Options.Threads, static_cast<int>(std::max<size_t>(files.size(), 1))), work);

  for (size_t i = 0; i < jobs.size(); ++i) {
    TJob& job = jobs[i];
    FailedFile = job.FileName;
    for (;;) {
      {
        std::unique_lock<TLock> lock(workers.Mutex);
        if (job.Done) break;
        workers.Changed.wait_for(lock, std::chrono::milliseconds(100));
        if (job.Done) break;
      }
      Report(ZipMemberName(job.FileName), 0);  // keeps the caller's window answering
    }
    if (job.Error) std::rethrow_exception(job.Error);
    Total += job.Size;
    const std::string name = FreeName(ZipMemberName(job.FileName));
    if (name != ZipMemberName(job.FileName)) Renamed.push_back({job.FileName, name});
    Report(name, 0);
    if (job.Large) {
      AddStreamed(job.FileName, name);
    } else {
      const uint64_t start = Position;
      try {
        AddWhole(name, job.Size, job.CRC32, job.Compressed);
      } catch (...) {
        CutBackTo(start);
        throw;
      }
    }
    Done += job.Size;
    std::string().swap(job.Compressed);
    std::unique_lock<TLock> lock(workers.Mutex);
    nextWrite = i + 1;
    workers.Changed.notify_all();
  }
  FailedFile.clear();
}

TZipWriter::TZipWriter(TStream& Out, TZipWriterOptions Options) : FImpl(new TImpl(Out, Options)) {}
TZipWriter::~TZipWriter() = default;

void TZipWriter::AddMember(const std::string& Name, const std::string& Data) {
  std::string compressed;
  const auto* p = reinterpret_cast<const uint8_t*>(Data.data());
  DeflateWhole(p, Data.size(), compressed, FImpl->Options.Zlib);
  const uint64_t start = FImpl->Position;
  try {
    FImpl->AddWhole(Name, Data.size(), ZipCRC32(p, Data.size()), compressed);
  } catch (const EStreamError&) {
    FImpl->CutBackTo(start);
    throw;
  }
}

void TZipWriter::AddDiskFiles(const std::vector<std::string>& FileNames) {
  FImpl->Hook = &OnProgress;
  FImpl->AddDiskFiles(FileNames);
}

void TZipWriter::Finish() { FImpl->Finish(); }
int32_t TZipWriter::Count() const { return static_cast<int32_t>(FImpl->Members.size()); }
uint64_t TZipWriter::BytesWritten() const { return FImpl->Written; }
const std::string& TZipWriter::FailedFile() const { return FImpl->FailedFile; }
const std::vector<std::pair<std::string, std::string>>& TZipWriter::Renamed() const { return FImpl->Renamed; }

void ZipDiskFiles(const std::string& Target, const std::vector<std::string>& Files, TZipJobResult& Result,
                  const TZipWriterOptions& Options, const TZipProgressHook& Hook) {
  Result = TZipJobResult();
  std::string tempName;
  std::unique_ptr<TFileStream> file(CreateFileBeside(Target, tempName));
  // Puts what is complete in place, or removes the temporary file.
  auto complete = [&](TZipWriter& writer) {
    if (writer.Count() == 0) {
      file.reset();
      DeleteFileQuietly(tempName);
      return;
    }
    writer.Finish();
    Result.ArchiveSize = static_cast<uint64_t>(file->GetSize());
    file.reset();
    PutFileInPlace(tempName, Target, false);
    Result.Members = writer.Count();
  };
  try {
    TZipWriter writer(*file, Options);
    writer.OnProgress = Hook;
    try {
      writer.AddDiskFiles(Files);
    } catch (...) {
      Result.FailedFile = writer.FailedFile();
      Result.Renamed = writer.Renamed();
      // The archive of the files before the failure, then the failure itself.
      // If even that archive cannot be finished, its error is the one raised.
      complete(writer);
      Result.BytesWritten = writer.BytesWritten();
      throw;
    }
    complete(writer);
    Result.BytesWritten = writer.BytesWritten();
    Result.Renamed = writer.Renamed();
  } catch (...) {
    file.reset();
    DeleteFileQuietly(tempName);
    throw;
  }
}
