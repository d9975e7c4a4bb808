#include "ZipCodec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "ZipErrors.h"

const char kZlibErrorText[] = "Error";
const char kCrcErrorText[] = "CRC Error in \"%s\".";
const char kEncryptedText[] = "Cannot extract \"%s\": the member is encrypted.";
// Formatted first (the "%%s" becomes "%s"), then the name goes in with
// WithName: a name is never read as a format.
const char kMethodText[] = "Cannot extract \"%%s\": compression method %u is not supported.";
const char kStoredDescriptorText[] =
    "Cannot read \"%s\": it is stored with its sizes after its data, and its end cannot be found.";
const char kCutHeaderText[] = "The archive ends inside the header of its member number %d.";
const char kDamagedDescriptorText[] = "Cannot read \"%s\": its compressed data are damaged or cut short.";

// ---- TArchiveReader ----

TArchiveReader::TArchiveReader(TStream& stream)
    : FStream(stream), FStreamPos(stream.GetPosition()), FSize(stream.GetSize()) {
  if (FSize < FStreamPos) FSize = FStreamPos;
  // No bigger than the stream: small archives cost small buffers.
  FBuffer.resize(static_cast<size_t>(std::min<int64_t>(64 * 1024, std::max<int64_t>(FSize - FStreamPos, 16))));
}

size_t TArchiveReader::Read(void* buffer, size_t count) {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (FOffset == FLength) {
      // Large reads bypass the buffer.
      if (count - done >= FBuffer.size()) {
        const int64_t n = FStream.Read(out + done, static_cast<int64_t>(count - done));
        if (n <= 0) {
          EndHere();
          break;
        }
        FStreamPos += n;
        done += static_cast<size_t>(n);
        continue;
      }
      if (!Fill()) break;
    }
    const size_t n = std::min(count - done, FLength - FOffset);
    std::memcpy(out + done, FBuffer.data() + FOffset, n);
    FOffset += n;
    done += n;
  }
  return done;
}

uint32_t TArchiveReader::ReadWord() {
  uint8_t b[4] = {0, 0, 0, 0};
  Read(b, 4);
  return GetU32(b);
}

std::string TArchiveReader::ReadString(uint64_t count) {
  const uint64_t available = static_cast<uint64_t>(std::max<int64_t>(Remaining(), 0));
  std::string s(static_cast<size_t>(std::min(count, available)), '\0');
  if (!s.empty()) s.resize(Read(&s[0], s.size()));
  return s;
}

void TArchiveReader::SeekTo(int64_t position) {
  // A target inside the buffer costs no system call.
  const int64_t bufferStart = FStreamPos - static_cast<int64_t>(FLength);
  if (position >= bufferStart && position <= FStreamPos) {
    FOffset = static_cast<size_t>(position - bufferStart);
    return;
  }
  FStream.SetPosition(position);
  FStreamPos = position;
  FOffset = FLength = 0;
}

size_t TArchiveReader::ReadAt(int64_t position, void* buffer, size_t count) {
  FStream.SetPosition(position);
  const int64_t n = FStream.Read(buffer, static_cast<int64_t>(count));
  FStream.SetPosition(FStreamPos);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

void TArchiveReader::Finish() { FStream.SetPosition(Position()); }

bool TArchiveReader::Fill() {
  const int64_t n = FStream.Read(FBuffer.data(), static_cast<int64_t>(FBuffer.size()));
  if (n <= 0) {
    EndHere();
    return false;
  }
  FStreamPos += n;
  FOffset = 0;
  FLength = static_cast<size_t>(n);
  return true;
}

// ---- inflate ----

namespace {

// Owns a zlib inflate state for raw deflate data.
class TInflater {
 public:
  TInflater() {
    if (inflateInit2(&FStream, -MAX_WBITS) != Z_OK) throw EDecompressionError(kZlibErrorText);
  }
  ~TInflater() { inflateEnd(&FStream); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
  z_stream* operator->() { return &FStream; }
  z_stream* get() { return &FStream; }

 private:
  z_stream FStream{};
};

}  // namespace

TInflateEnd InflateFrom(TArchiveReader& reader, uint64_t InputLimit, uint64_t OutputLimit, const TDataSink& Sink,
                        TDataExtent& extent) {
  const int64_t start = reader.Position();
  TInflater inflater;
  // Buffers no bigger than the member needs (the output one big enough to tell
  // output beyond the limit), and not cleared: they are only ever written first.
  const size_t inSize = static_cast<size_t>(std::min<uint64_t>(64 * 1024, std::max<uint64_t>(InputLimit, 1)));
  const size_t outChunk = 64 * 1024;
  const size_t outSize = OutputLimit >= outChunk ? outChunk : static_cast<size_t>(OutputLimit) + 1;
  std::unique_ptr<unsigned char[]> in(new unsigned char[inSize]);
  std::unique_ptr<unsigned char[]> out(new unsigned char[outSize]);
  uint64_t inputLeft = InputLimit;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (inflater->avail_in == 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(inSize, inputLeft));
      const size_t n = want == 0 ? 0 : reader.Read(in.get(), want);
      if (n == 0) return TInflateEnd::CutShort;
      inputLeft -= n;
      inflater->next_in = in.get();
      inflater->avail_in = static_cast<uInt>(n);
    }
    inflater->next_out = out.get();
    inflater->avail_out = static_cast<uInt>(outSize);
    rc = inflate(inflater.get(), Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return TInflateEnd::Damaged;
    size_t produced = outSize - inflater->avail_out;
    const bool tooLong = produced > OutputLimit - extent.UncompressedSize;
    if (tooLong) produced = static_cast<size_t>(OutputLimit - extent.UncompressedSize);
    extent.CRC32 = ZipCRC32(out.get(), produced, extent.CRC32);
    extent.UncompressedSize += produced;
    if (Sink && produced > 0) Sink(out.get(), produced);
    if (tooLong) return TInflateEnd::TooLong;
  }
  extent.CompressedSize = inflater->total_in;
  reader.SeekTo(start + static_cast<int64_t>(extent.CompressedSize));
  return TInflateEnd::Complete;
}

TWholeInflater::TWholeInflater() : FDecompressor(libdeflate_alloc_decompressor()) {
  if (FDecompressor == nullptr) throw EDecompressionError(kZlibErrorText);
}

TWholeInflater::~TWholeInflater() {
  libdeflate_free_decompressor(static_cast<libdeflate_decompressor*>(FDecompressor));
}

uint8_t* TWholeInflater::Input(size_t length) {
  Grow(FIn, FInSize, length);
  return FIn.get();
}

void TWholeInflater::Grow(std::unique_ptr<uint8_t[]>& buffer, size_t& size, size_t wanted) {
  if (size >= wanted) return;
  buffer.reset();  // the old one goes first: its content is not kept
  buffer.reset(new uint8_t[wanted]);
  size = wanted;
}

TInflateEnd TWholeInflater::Inflate(size_t inLength, size_t outLength) {
  Grow(FOut, FOutSize, outLength);
  size_t produced = 0;
  const libdeflate_result r = libdeflate_deflate_decompress(static_cast<libdeflate_decompressor*>(FDecompressor),
                                                            FIn.get(), inLength, FOut.get(), outLength, &produced);
  switch (r) {
    case LIBDEFLATE_SUCCESS: return produced == outLength ? TInflateEnd::Complete : TInflateEnd::CutShort;
    case LIBDEFLATE_SHORT_OUTPUT: return TInflateEnd::CutShort;
    case LIBDEFLATE_INSUFFICIENT_SPACE: return TInflateEnd::TooLong;
    default: return TInflateEnd::Damaged;
  }
}

// ---- deflate ----

void DeflateWhole(const uint8_t* in, size_t length, std::string& out, bool Zlib) {
  if (!Zlib) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    if (c == nullptr) throw ECompressionError(kZlibErrorText);
    out.resize(libdeflate_deflate_compress_bound(c, length));
    const size_t n = libdeflate_deflate_compress(c, in, length, &out[0], out.size());
    libdeflate_free_compressor(c);
    if (n == 0) throw ECompressionError(kZlibErrorText);
    out.resize(n);
    return;
  }
  out.clear();
  TStreamDeflater deflater;
  size_t done = 0;
  do {
    const size_t n = std::min<size_t>(length - done, 1u << 30);
    deflater.Deflate(in + done, n, done + n == length,
                     [&](const uint8_t* data, size_t size) { out.append(reinterpret_cast<const char*>(data), size); });
    done += n;
  } while (done < length);
}

struct TStreamDeflater::TState {
  z_stream Stream{};
};

TStreamDeflater::TStreamDeflater() : FState(new TState), FOut(kChunk) {
  if (deflateInit2(&FState->Stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    delete FState;
    throw ECompressionError(kZlibErrorText);
  }
}

TStreamDeflater::~TStreamDeflater() {
  deflateEnd(&FState->Stream);
  delete FState;
}

void TStreamDeflater::Deflate(const uint8_t* in, size_t length, bool Last, const TDataSink& Sink) {
  z_stream& z = FState->Stream;
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = static_cast<uInt>(length);
  for (;;) {
    z.next_out = FOut.data();
    z.avail_out = static_cast<uInt>(FOut.size());
    const int rc = deflate(&z, Last ? Z_FINISH : Z_NO_FLUSH);
    if (rc < 0 && rc != Z_BUF_ERROR) throw ECompressionError(kZlibErrorText);
    const size_t produced = FOut.size() - z.avail_out;
    if (produced > 0) Sink(FOut.data(), produced);
    if (rc == Z_STREAM_END) return;
    if (!Last && z.avail_in == 0 && z.avail_out > 0) return;
  }
}

// ---- data after which a descriptor follows ----

namespace {

// What a data descriptor found after a member's data says.
struct TDescriptor {
  uint64_t Distance = 0;  // from the start of the data to the descriptor
  uint32_t CRC32 = 0;
  uint32_t UncompressedSize = 0;
};

// Looks, from the reader's position on, for a data descriptor with its
// signature whose compressed size equals its distance from here and, when
// checkCrc is set (the data are the plain bytes), whose CRC and uncompressed
// size match the data before it. The file is scanned in chunks with a small
// overlap, so nothing beyond one chunk is held. On success the reader stands
// after the descriptor; otherwise it is back where it was.
bool FindSignedDescriptor(TArchiveReader& reader, bool checkCrc, TDescriptor& found) {
  static const std::string kSignature("PK\x07\x08", 4);
  const int64_t start = reader.Position();
  std::string window;  // bytes from distance `base` on
  uint64_t base = 0;
  uint32_t crc = 0;
  uint64_t crcDone = 0;  // crc covers the bytes before this distance
  auto advanceCrc = [&](uint64_t to) {
    if (!checkCrc || to <= crcDone) return;
    crc = ZipCRC32(window.data() + (crcDone - base), static_cast<size_t>(to - crcDone), crc);
    crcDone = to;
  };
  std::vector<char> chunk(64 * 1024);
  for (;;) {
    const size_t n = reader.Read(chunk.data(), chunk.size());
    window.append(chunk.data(), n);
    for (size_t at = window.find(kSignature); at != std::string::npos && at + 16 <= window.size();
         at = window.find(kSignature, at + 1)) {
      const uint64_t distance = base + at;
      const auto* p = reinterpret_cast<const uint8_t*>(window.data()) + at;
      if (distance > 0xFFFFFFFFu || GetU32(p + 8) != distance) continue;
      if (checkCrc) {
        advanceCrc(distance);
        if (GetU32(p + 4) != crc || GetU32(p + 12) != distance) continue;
      }
      found.Distance = distance;
      found.CRC32 = GetU32(p + 4);
      found.UncompressedSize = GetU32(p + 12);
      reader.SeekTo(start + static_cast<int64_t>(distance) + 16);
      return true;
    }
    if (n == 0) break;
    // Keep the last 15 bytes: a descriptor may straddle two chunks.
    if (window.size() > 15) {
      const size_t drop = window.size() - 15;
      advanceCrc(base + drop);
      window.erase(0, drop);
      base += drop;
    }
  }
  reader.SeekTo(start);
  return false;
}

bool HasZip64Extra(const std::string& extra) {
  TZip64Values unused;
  return ReadZip64Extra(extra, TZip64Fields{}, unused);
}

}  // namespace

TDataExtent ReadDeferredData(TArchiveReader& reader, TZipEntry& member, const TDataSink& Sink) {
  const bool encrypted = (member.Flags & kFlagEncrypted) != 0;
  if (member.Method != kMethodDeflated || encrypted) {
    const bool plain = member.Method == kMethodStored && !encrypted;
    TDescriptor descriptor;
    if (!FindSignedDescriptor(reader, plain, descriptor)) {
      if (encrypted) throw EZipFileError(WithName(kEncryptedText, member.Name));
      if (plain) throw EZipFileError(WithName(kStoredDescriptorText, member.Name));
      throw EZipFileError(WithName(Format(kMethodText, member.Method).c_str(), member.Name));
    }
    member.CRC32 = descriptor.CRC32;
    member.CompressedSize = descriptor.Distance;
    member.UncompressedSize = descriptor.UncompressedSize;
    TDataExtent found;
    found.CompressedSize = descriptor.Distance;
    return found;
  }
  TDataExtent extent;
  if (InflateFrom(reader, UINT64_MAX, UINT64_MAX, Sink, extent) != TInflateEnd::Complete)
    throw EZipFileError(WithName(kDamagedDescriptorText, member.Name));
  uint8_t b[24] = {0};
  const int64_t at = reader.Position();
  const size_t got = reader.Read(b, sizeof b);
  TDataDescriptor expected;
  expected.CRC32 = extent.CRC32;
  expected.CompressedSize = extent.CompressedSize;
  expected.UncompressedSize = extent.UncompressedSize;
  const TDataDescriptor d = ParseDataDescriptor(b, got, expected, HasZip64Extra(member.Extra));
  reader.SeekTo(at + static_cast<int64_t>(d.Length));
  member.CRC32 = d.CRC32;
  member.CompressedSize = d.CompressedSize;
  member.UncompressedSize = d.UncompressedSize;
  return extent;
}

void CheckMemberData(const TZipEntry& member, const TDataExtent& extent) {
  if (extent.UncompressedSize != member.UncompressedSize || extent.CRC32 != member.CRC32)
    throw EZipFileCRCError(WithName(kCrcErrorText, member.Name));
}

uint32_t ZipCRC32(const void* Data, size_t Length, uint32_t Previous) {
  return libdeflate_crc32(Previous, Data, Length);
}

uint32_t ZipCRC32(const std::string& Data) { return ZipCRC32(Data.data(), Data.size()); }
