// libFuzzer target: loading any bytes as an archive and extracting every
// member must end in a result or one of the engine's exceptions, never in a
// crash, a hang or a huge allocation.

#include <cstddef>
#include <cstdint>
#include <string>

#include "ZipFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  TZipFile zip;
  try {
    zip.LoadFromStream(stream);
  } catch (const Exception&) {
  }
  for (int32_t i = 0; i < zip.Count(); ++i) {
    (void)zip.GetName(i);
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
