#include "SevenZipPipe.h"
#include "Sync.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t kPipeCapacity = 1 << 20;
constexpr size_t kTarBlock = 512;
}  // namespace

bool IsTarHeader(const std::string& Block) {
  if (Block.size() < kTarBlock || Block[0] == '\0') return false;
  unsigned sum = 0;
  for (size_t i = 0; i < kTarBlock; ++i) sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(Block[i]);
  size_t i = 148;
  while (i < 156 && Block[i] == ' ') ++i;
  const size_t digits = i;
  unsigned stored = 0;
  while (i < 156 && Block[i] >= '0' && Block[i] <= '7') stored = stored * 8 + static_cast<unsigned>(Block[i++] - '0');
  return i > digits && stored == sum;
}

// ---------------------------------------------------------------------------
// TPipe

bool TPipe::Write(const uint8_t* Data, size_t Size) {
  std::unique_lock<TLock> lock(FMutex);
  while (Size > 0) {
    FChanged.wait(lock, [&] { return FReadClosed || FCount < FBuffer.size(); });
    if (FReadClosed) return false;
    const size_t end = (FStart + FCount) % FBuffer.size();
    const size_t n = std::min({Size, FBuffer.size() - FCount, FBuffer.size() - end});
    std::memcpy(FBuffer.data() + end, Data, n);
    FCount += n;
    Data += n;
    Size -= n;
    FChanged.notify_all();
  }
  return true;
}

size_t TPipe::Read(uint8_t* Data, size_t Size) {
  std::unique_lock<TLock> lock(FMutex);
  FChanged.wait(lock, [&] { return FWriteClosed || FCount > 0; });
  const size_t n = std::min({Size, FCount, FBuffer.size() - FStart});
  std::memcpy(Data, FBuffer.data() + FStart, n);
  FStart = (FStart + n) % FBuffer.size();
  FCount -= n;
  FChanged.notify_all();
  return n;
}

void TPipe::CloseWrite() {
  std::lock_guard<TLock> lock(FMutex);
  FWriteClosed = true;
  FChanged.notify_all();
}

void TPipe::CloseRead() {
  std::lock_guard<TLock> lock(FMutex);
  FReadClosed = true;
  FChanged.notify_all();
}

bool TPipe::ReaderClosed() {
  std::lock_guard<TLock> lock(FMutex);
  return FReadClosed;
}

// ---------------------------------------------------------------------------
// TPipeReader

IUnknown* TPipeReader::FindInterface(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_ISequentialInStream) return static_cast<ISequentialInStream*>(this);
  return nullptr;
}

HRESULT STDMETHODCALLTYPE TPipeReader::Read(void* data, UINT32 size, UINT32* processedSize) {
  size_t n = 0;
  if (FPeekedRead < FPeeked.size()) {
    n = std::min<size_t>(size, FPeeked.size() - FPeekedRead);
    std::memcpy(data, FPeeked.data() + FPeekedRead, n);
    FPeekedRead += n;
  } else if (size > 0) {
    n = FPipe->Read(static_cast<uint8_t*>(data), size);
  }
  if (processedSize != nullptr) *processedSize = static_cast<UINT32>(n);
  return S_OK;
}

const std::string& TPipeReader::Peek(size_t Size) {
  while (FPeeked.size() < Size) {
    uint8_t buffer[kTarBlock];
    const size_t n = FPipe->Read(buffer, std::min(sizeof buffer, Size - FPeeked.size()));
    if (n == 0) break;
    FPeeked.append(reinterpret_cast<const char*>(buffer), n);
  }
  return FPeeked;
}

// ---------------------------------------------------------------------------
// TPipedItem

// The writing end, and the extract callback of the handler that fills it.
// Called on the extraction's own thread only.
class TPipedItem::TFeed final : public IArchiveExtractCallback, public ISequentialOutStream, public TInterfacedObject {
 public:
  explicit TFeed(std::shared_ptr<TPipe> Pipe) : FPipe(std::move(Pipe)) {}

  QUARN_IUNKNOWN_METHODS

  HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) override {
    Total = total;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* completeValue) override {
    if (completeValue != nullptr) Done = *completeValue;
    return FPipe->ReaderClosed() ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, ISequentialOutStream** outStream, INT32 askExtractMode) override {
    if (outStream == nullptr) return E_POINTER;
    *outStream = nullptr;
    if (index == 0 && askExtractMode == kExtractModeExtract) {
      AddRef();
      *outStream = static_cast<ISequentialOutStream*>(this);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE PrepareOperation(INT32) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 opRes) override {
    Result = opRes;
    FPipe->CloseWrite();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processedSize) override {
    if (processedSize != nullptr) *processedSize = 0;
    if (!FPipe->Write(static_cast<const uint8_t*>(data), size)) return E_ABORT;
    if (processedSize != nullptr) *processedSize = size;
    return S_OK;
  }

  std::atomic<uint64_t> Done{0};
  std::atomic<uint64_t> Total{0};
  std::atomic<int32_t> Result{-1};

 protected:
  IUnknown* FindInterface(REFIID iid) override {
    if (iid == IID_IUnknown || iid == IID_IArchiveExtractCallback) return static_cast<IArchiveExtractCallback*>(this);
    if (iid == IID_ISequentialOutStream) return static_cast<ISequentialOutStream*>(this);
    return nullptr;
  }
  const wchar_t* ClassName() const override { return L"TPipedItem::TFeed"; }

 private:
  std::shared_ptr<TPipe> FPipe;
};

TPipedItem::TPipedItem(TItemExtraction ExtractItem)
    : FPipe(std::make_shared<TPipe>(kPipeCapacity)),
      FReader(MakeCom<TPipeReader>(FPipe)),
      FFeed(MakeCom<TFeed>(FPipe)) {
  TFeed* feed = FFeed.Get();
  std::shared_ptr<TPipe> pipe = FPipe;
  FThread = std::thread([ExtractItem, feed, pipe] {
    ExtractItem(feed);
    pipe->CloseWrite();  // also when the item never started
  });
}

TPipedItem::~TPipedItem() { Finish(false); }

int32_t TPipedItem::Finish(bool Drain) {
  if (!FFinished) {
    FFinished = true;
    // What the reader left (a tarball's padding) is read to the end, so that
    // the compressor checks its whole stream.
    std::vector<uint8_t> scratch(64 * 1024);
    for (UINT32 got = 1; Drain && got > 0;) FReader->Read(scratch.data(), static_cast<UINT32>(scratch.size()), &got);
    FPipe->CloseRead();
    if (FThread.joinable()) FThread.join();
  }
  return FFeed->Result;
}

const std::atomic<uint64_t>& TPipedItem::Done() const { return FFeed->Done; }
const std::atomic<uint64_t>& TPipedItem::Total() const { return FFeed->Total; }
