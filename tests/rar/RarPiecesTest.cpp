// The numbered pieces of a RAR archive read for joining: a piece that cannot
// be opened, or read to its end, is an error that names it, never taken for
// the end of the piece.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "RarPieces.h"
#include "RarTestSupport.h"
#include "Streams.h"

using namespace rartest;

namespace {

const char kDriveGone[] = "Cannot read file \"x.rar.002\". The device is not ready.";

// A piece of 3 MiB whose reading fails after its first megabyte and a few
// bytes, as one on a drive that goes away does.
class TFailingPiece : public TStream {
 public:
  int64_t Read(void* Buffer, int64_t Count) override {
    const int64_t n = std::min(Count, FLeft);
    std::memset(Buffer, 'x', static_cast<size_t>(n));
    FLeft -= n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
  int64_t GetSize() override { return 3 << 20; }

 protected:
  EReadError ReadError() const override { return EReadError(kDriveGone); }

 private:
  int64_t FLeft = (1 << 20) + 5;
};

}  // namespace

TEST(RarPieces, APieceThatCannotBeReadIsNamed) {
  ScratchDir dir;
  WriteFile(dir / "x.rar.001", std::string(1000, 'a'));
  ASSERT_TRUE(CreateDirectoryA((dir / "x.rar.002").c_str(), nullptr));
  const TOpenPiece open = [](const std::string& Piece) -> std::unique_ptr<TStream> {
    if (Piece == "failing") return std::make_unique<TFailingPiece>();
    return OpenPieceFile(Piece);
  };
  // the second piece, and how the error begins
  const struct {
    std::string Second, Error;
  } cases[] = {{"failing", kDriveGone}, {dir / "x.rar.002", "Cannot open file \"" + dir / "x.rar.002" + "\". "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Second);
    try {
      ReadPieces(
          {dir / "x.rar.001", c.Second}, [](const char*, size_t) { return true; }, open);
      ADD_FAILURE() << "read as whole";
    } catch (const EStreamError& e) {
      EXPECT_EQ(e.Message.compare(0, c.Error.size(), c.Error), 0) << e.Message;
    }
  }
}
