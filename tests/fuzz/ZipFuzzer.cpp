// libFuzzer target: loading any bytes as an archive and extracting every
// member must end in a result or one of the engine's exceptions, never in a
// crash, a hang or a huge allocation. Both paths are driven: the in-memory
// model (TZipFile) and the streamed reader (TZipReader). Every name decodes to
// valid UTF-8, and an encrypted member is decrypted (or refused) as the
// readers will. The streamed reader is never silent: it offers members,
// names members it cannot reach, or raises an error, unless the input holds
// no local header at all (an empty archive, or no zip).

#include <cstddef>
#include <cstdint>
#include <string>

#include "ZipCrypto.h"
#include "ZipFile.h"
#include "ZipNames.h"
#include "ZipReader.h"

namespace {

// Counts what is written to it and keeps nothing.
class TCountingStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t count) override {
    Size += count;
    return count;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return Size; }
  int64_t Size = 0;
};

void ReadStreamed(const std::string& bytes) {
  TMemoryStream stream(bytes);
  bool said = false;  // members offered, members named missing or refused for an overlap, or an error
  try {
    TZipReader reader(stream);
    said = !reader.MissingMembers().empty() || !reader.MembersFromOverlap().empty();
    for (;;) {
      if (!reader.Next()) break;
      said = true;
      TCountingStream out;
      try {
        reader.ExtractTo(out);
        // A member that passed its checks produced exactly its size.
        if (static_cast<uint64_t>(out.Size) != reader.Entry().UncompressedSize) __builtin_trap();
      } catch (const Exception&) {
      }
    }
  } catch (const Exception&) {
    said = true;
  }
  if (!said && bytes.find(std::string("PK\x03\x04", 4)) != std::string::npos) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  ReadStreamed(bytes);
  TMemoryStream stream(bytes);
  TZipFile zip;
  try {
    zip.LoadFromStream(stream);
  } catch (const Exception&) {
  }
  for (int32_t i = 0; i < zip.Count(); ++i) {
    (void)zip.GetName(i);
    const TLocalFile& local = zip.LocalFiles[i];
    const TFileHeader& central = zip.CentralDirectory[i];
    for (const std::string& name : {DecodeZipName(local.FileName, local.Flags, local.ExtraField),
                                    DecodeZipComment(central.FileComment, central.Flags, central.ExtraField)}) {
      if (ValidUtf8(name) != name) __builtin_trap();
    }
    try {
      const TZipEncryption encryption = ZipEncryptionOf(local.FileName, local.Flags, local.CompressionMethod,
                                                        local.CRC32, local.LastModDateTime, local.ExtraField);
      if (encryption.Kind != TZipEncryptionKind::None)
        (void)DecryptZipMember(encryption, "secret", local.CompressedData, local.FileName);
    } catch (const Exception&) {
    }
    try {
      const std::string content = zip.GetUncompressed(i);
      if (content.size() != zip.LocalFiles[i].UncompressedSize) __builtin_trap();
    } catch (const Exception&) {
    }
  }
  // Whatever loaded can be written out again or is refused cleanly.
  TMemoryStream out;
  try {
    zip.SaveToStream(out);
  } catch (const Exception&) {
  }
  return 0;
}
