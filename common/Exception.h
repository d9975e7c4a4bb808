#pragma once
// The root exception class of Quarn and the stream/file exception family.
// Every error the program reports to the user is an Exception carrying its
// text in Message; subclasses only tell the kind of failure apart.

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }

  std::string Message;
};

// Raised to unwind quietly: callers catch it and show nothing.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A stream delivered fewer bytes than were asked for: "Stream read error", or
// for a file whose system call failed "Cannot read file \"<full path>\". <system text>".
class EReadError : public EStreamError {
 public:
  EReadError();
  using EStreamError::EStreamError;
};

// A stream accepted fewer bytes than were given: "Stream write error", or for
// a file whose system call failed "Cannot write file \"<full path>\". <system text>"
// (a full disk, a lost network drive, ...).
class EWriteError : public EStreamError {
 public:
  EWriteError();
  using EStreamError::EStreamError;

  uint32_t SystemCode = 0;  // the failed call's system error code; 0: none
};

class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  EFileStreamError(std::string message, std::string systemText)
      : EStreamError(std::move(message)), SystemText(std::move(systemText)) {}

  std::string SystemText;  // the system's reason alone, when the message carries one
};

// A file could not be opened: "Cannot open file \"<full path>\". <system text>".
class EFOpenError : public EFileStreamError {
 public:
  EFOpenError(const std::string& fileName, const std::string& systemText);
};

// A file could not be created: "Cannot create file \"<full path>\". <system text>".
class EFCreateError : public EFileStreamError {
 public:
  EFCreateError(const std::string& fileName, const std::string& systemText);
};

// printf-style formatting into a std::string (only %s and %d-style arguments
// are used by the program's texts).
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
