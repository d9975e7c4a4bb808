#include "Exception.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
const char kReadErrorText[] = "Stream read error";
const char kWriteErrorText[] = "Stream write error";
const char kOpenErrorText[] = "Cannot open file \"%s\". %s";
const char kCreateErrorText[] = "Cannot create file \"%s\". %s";
}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string result;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    result.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(again);
  return result;
}

EReadError::EReadError() : EStreamError(kReadErrorText) {}

EWriteError::EWriteError() : EStreamError(kWriteErrorText) {}

EFOpenError::EFOpenError(const std::string& fileName, const std::string& systemText)
    : EFileStreamError(Format(kOpenErrorText, fileName.c_str(), systemText.c_str()), systemText) {}

EFCreateError::EFCreateError(const std::string& fileName, const std::string& systemText)
    : EFileStreamError(Format(kCreateErrorText, fileName.c_str(), systemText.c_str()), systemText) {}
