#pragma once
// The zip engine's exceptions and its CRC-32, shared by the in-memory model
// (ZipFile.h, which includes this header) and the streamed paths.

#include <cstddef>
#include <cstdint>
#include <string>

#include "Exception.h"

// A member's data does not match its CRC-32: "CRC Error in \"<name>\".".
// Also raised when a member yields fewer bytes than its header promises.
class EZipFileCRCError : public Exception {
 public:
  using Exception::Exception;
};

// A member or archive the engine cannot handle: an encrypted member, a
// compression method other than stored or deflate, a member whose end cannot be
// found, or an archive beyond the limits of the zip format (too many members,
// 4 GiB or more). The message names the member and the reason.
class EZipFileError : public Exception {
 public:
  using Exception::Exception;
};

// zlib reported a failure; the message is "Error".
class EZlibError : public Exception {
 public:
  using Exception::Exception;
};
class ECompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};
class EDecompressionError : public EZlibError {
 public:
  using EZlibError::EZlibError;
};

// The CRC-32 of the zip format (reflected polynomial 0xEDB88320).
uint32_t ZipCRC32(const std::string& Data);
uint32_t ZipCRC32(const void* Data, size_t Length, uint32_t Previous = 0);
