#pragma once
// Byte streams: the abstract TStream, an in-memory stream and a file stream.
//
// Positions and sizes are 64-bit. Read and Write move the position and return
// how many bytes they delivered or accepted, which may be fewer than asked for;
// ReadBuffer and WriteBuffer insist on the whole count and raise EReadError or
// EWriteError otherwise.

#include <cstdint>
#include <memory>
#include <string>

#include "Exception.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to count bytes into buffer; returns the count delivered (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes up to count bytes from buffer; returns the count accepted.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position. Raises EStreamError on failure.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t GetSize();
  // Cuts the stream (or extends it) to Size bytes; the position is left where
  // it was. Raises EStreamError where the stream cannot (the default).
  virtual void SetSize(int64_t Size);

  int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  // Reads exactly count bytes or raises EReadError.
  void ReadBuffer(void* buffer, int64_t count);
  // Writes exactly count bytes or raises EWriteError.
  void WriteBuffer(const void* buffer, int64_t count);

 protected:
  // The errors ReadBuffer and WriteBuffer raise when Read or Write fell short.
  // A stream that knows why (a file's system error) says so.
  virtual EReadError ReadError() const { return EReadError(); }
  virtual EWriteError WriteError() const { return EWriteError(); }
};

// A growable stream over an owned byte string.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string data) : Data(std::move(data)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(Data.size()); }
  void SetSize(int64_t Size) override { Data.resize(static_cast<size_t>(Size)); }

  std::string Data;  // the stream's content

 private:
  int64_t FPosition = 0;
};

// Open modes of TFileStream: one access mode, or fmCreate, combined with one
// share mode. fmCreate creates the file, replacing an existing one, for reading
// and writing.
enum : uint32_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,  // others may neither read nor write
  fmShareDenyWrite = 0x0020,  // others may read
  fmShareDenyRead = 0x0030,   // others may write
  fmShareDenyNone = 0x0040,   // others may read and write
  fmCreate = 0xFF00,
};

// A stream over a file on disk. FileName is a byte string in the system code
// page. On Windows the share modes are enforced by the system; the POSIX build
// has no equivalent and ignores them.
//
// Fails with EFOpenError (open modes) or EFCreateError (fmCreate), whose message
// carries the expanded path and the system's error text.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& FileName, uint32_t Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t Size) override;

  const std::string& FileName() const { return FFileName; }

 protected:
  // Name the file and the system's reason when a read or write call failed
  // (a short read at the end of the file has no reason and stays generic).
  EReadError ReadError() const override;
  EWriteError WriteError() const override;

 private:
  std::string FFileName;
  uint32_t FLastError = 0;  // the system error of the last failed Read or Write
  intptr_t FHandle;         // the system's handle (HANDLE or file descriptor), owned
};

// The absolute form of a path, as the file layer reports it in its messages.
std::string ExpandFileName(const std::string& FileName);

// The calling thread's last system error code (GetLastError / errno). Read it
// right where a call failed: later calls may change it.
uint32_t LastErrorCode();
// The system's text for an error code, without a trailing line break.
std::string SystemErrorText(uint32_t Code);
// SystemErrorText(LastErrorCode()).
std::string LastSystemErrorText();
// Whether a system error code says that the volume written to is full.
bool IsDiskFullCode(uint32_t Code);

// Saving a file without ever leaving it half written: the new content goes to a
// temporary file in the target's folder, which then replaces the target.
//
// CreateFileBeside creates a new empty file with a unique name in the folder of
// Target, opened for reading and writing with no sharing, and stores its name in
// TempName. The name says what the file is and whose, should a killed program
// leave it behind: Target's own name followed by ".quarn-partial-" and a unique
// number (photos.zip.quarn-partial-0a1b2c3d). It raises EFCreateError naming
// Target when that folder does not allow it. PutFileInPlace renames TempName
// over Target, or, with Replace false, only while no file of that name exists
// (EFCreateError naming Target on failure). DeleteFileQuietly removes a file and
// ignores any failure.
std::unique_ptr<TFileStream> CreateFileBeside(const std::string& Target, std::string& TempName);
void PutFileInPlace(const std::string& TempName, const std::string& Target, bool Replace = true);
void DeleteFileQuietly(const std::string& FileName);
