// libFuzzer target: loading any bytes as an archive and extracting every
// member must end in a result or one of the engine's exceptions, never in a
// crash, a hang or a huge allocation. Every name decodes to valid UTF-8, and
// an encrypted member is decrypted (or refused) as the readers will.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ZipCrypto.h"
#include "ZipFile.h"
#include "ZipNames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
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
