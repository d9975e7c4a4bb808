#include "RarPieces.h"

#include <algorithm>
#include <cstdint>

#include "Streams.h"

namespace {
constexpr int64_t kBlockSize = 1 << 20;
}  // namespace

std::unique_ptr<TStream> OpenPieceFile(const std::string& Piece) {
  return std::make_unique<TFileStream>(Piece, fmOpenRead | fmShareDenyWrite);
}

bool ReadPieces(const std::vector<std::string>& Pieces,
                const std::function<bool(const char* Data, size_t Size)>& Append, const TOpenPiece& Open) {
  std::vector<char> buffer(kBlockSize);
  for (const std::string& piece : Pieces) {
    const std::unique_ptr<TStream> in = Open(piece);
    // Read to the size the piece has: a read that fails half-way is an error
    // of that piece, never taken for its end.
    for (int64_t left = in->GetSize(); left > 0;) {
      const int64_t block = std::min(left, kBlockSize);
      in->ReadBuffer(buffer.data(), block);
      if (!Append(buffer.data(), static_cast<size_t>(block))) return false;
      left -= block;
    }
  }
  return true;
}
