#pragma once
// A compressed file's one item read as a stream while it is being extracted:
// the compressor's handler extracts the item on a thread of its own into a
// bounded pipe, and another handler (tar) reads the pipe as its archive. So a
// tarball inside a compressor is extracted in one step, in bounded memory,
// with nothing written to disk in between.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SevenZipEngine.h"
#include "SevenZipStreams.h"
#include "Sync.h"

// Whether Block (at least 512 bytes) starts with a tar header: its checksum
// (the sum of its bytes, the checksum field taken as spaces) is the octal
// number in that field. Old tar formats carry no other mark.
bool IsTarHeader(const std::string& Block);

// The pipe's state, shared by its two ends. Thread-safe.
class TPipe {
 public:
  explicit TPipe(size_t Capacity) : FBuffer(Capacity) {}
  // Blocks while the pipe is full; false once the reading end has closed.
  bool Write(const uint8_t* Data, size_t Size);
  // Blocks while the pipe is empty; 0 at the end of the data.
  size_t Read(uint8_t* Data, size_t Size);
  void CloseWrite();  // no more data
  void CloseRead();   // the reader is done: writes fail from now on
  bool ReaderClosed();

 private:
  TLock FMutex;
  TCondition FChanged;
  std::vector<uint8_t> FBuffer;  // a ring
  size_t FStart = 0, FCount = 0;
  bool FWriteClosed = false, FReadClosed = false;
};

// The reading end, as the engine reads an archive sequentially. Its first
// bytes can be looked at before the engine reads them.
class TPipeReader final : public ISequentialInStream, public TInterfacedObject {
 public:
  explicit TPipeReader(std::shared_ptr<TPipe> Pipe) : FPipe(std::move(Pipe)) {}
  ~TPipeReader() override { FPipe->CloseRead(); }

  QUARN_IUNKNOWN_METHODS
  HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processedSize) override;

  // Up to Size first bytes of the data (fewer when the data are shorter);
  // Read still delivers them.
  const std::string& Peek(size_t Size);

 protected:
  IUnknown* FindInterface(REFIID iid) override;
  const wchar_t* ClassName() const override { return L"TPipeReader"; }

 private:
  std::shared_ptr<TPipe> FPipe;
  std::string FPeeked;
  size_t FPeekedRead = 0;
};

// Extracts one item into a pipe on a thread of its own, from the constructor
// on. Reader() is the pipe's reading end.
class TPipedItem {
 public:
  // Runs the engine's extraction of the one item into Callback (on the
  // pipe's thread); what it uses must stay open while this object lives.
  using TItemExtraction = std::function<void(IArchiveExtractCallback* Callback)>;
  explicit TPipedItem(TItemExtraction ExtractItem);
  // Stops the extraction if it still runs (the pipe's reader is closed) and
  // waits for the thread.
  ~TPipedItem();
  TPipedItem(const TPipedItem&) = delete;
  TPipedItem& operator=(const TPipedItem&) = delete;

  TPipeReader* Reader() { return FReader.Get(); }
  // Waits for the extraction's end: with Drain the data the reader left are
  // read to their end first (so that the compressor checks its whole stream),
  // otherwise the extraction is stopped. Returns the item's result as the
  // engine gave it (kOpResultOK ...), or -1 when it stopped without one.
  int32_t Finish(bool Drain);
  // The compressed bytes the source has read so far, and their whole (0 until
  // the engine told it). Safe to read from any thread.
  const std::atomic<uint64_t>& Done() const;
  const std::atomic<uint64_t>& Total() const;

 private:
  class TFeed;
  std::shared_ptr<TPipe> FPipe;
  TComPtr<TPipeReader> FReader;
  TComPtr<TFeed> FFeed;
  std::thread FThread;
  bool FFinished = false;
};
