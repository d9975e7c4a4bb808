#pragma once
// The numbered pieces of a RAR archive (x.rar.001, x.rar.002, ...) read one
// after the other, to be put back together into the one file the UnRAR
// library can read.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Streams.h"

// Opens one piece for reading. OpenPieceFile opens the file, and raises
// EFOpenError, which names it and the system's reason, when it cannot.
using TOpenPiece = std::function<std::unique_ptr<TStream>(const std::string& Piece)>;
std::unique_ptr<TStream> OpenPieceFile(const std::string& Piece);

// Reads every byte of each piece, in order (as long as each piece is when it
// is opened), and hands them to Append block by block; Append returns false
// to stop, and ReadPieces then returns false. A piece that cannot be opened,
// or read to its end, raises the stream's error: for a file, EFOpenError or
// EReadError naming the piece and the system's reason. True when every piece
// was read whole.
bool ReadPieces(const std::vector<std::string>& Pieces,
                const std::function<bool(const char* Data, size_t Size)>& Append,
                const TOpenPiece& Open = OpenPieceFile);
