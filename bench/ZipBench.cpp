// Prints throughput figures of the zip engine: CRC-32 (against a plain table
// loop), compressing, saving, loading and extracting. Not a test: run it by hand
// (scripts/bench.sh) and compare figures between changes.

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "ZipFile.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

uint32_t TableCrc32(const std::string& data) {
  static uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    ready = true;
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// Text-like data that compresses about as well as source code does.
std::string SampleData(size_t n) {
  std::mt19937 gen(42);
  static const char* words[] = {"archive ", "member ", "folder ", "quarn ", "deflate ", "header ", "\r\n"};
  std::string s;
  s.reserve(n);
  while (s.size() < n) s += words[gen() % 7];
  s.resize(n);
  return s;
}

void Report(const char* what, double bytes, double seconds) {
  std::printf("%-34s %9.1f MB/s  (%.3f s)\n", what, bytes / 1e6 / seconds, seconds);
}

}  // namespace

int main() {
  const std::string data = SampleData(64 << 20);

  auto t = Clock::now();
  const uint32_t fast = ZipCRC32(data);
  Report("ZipCRC32", data.size(), Seconds(t));
  t = Clock::now();
  const uint32_t slow = TableCrc32(data);
  Report("table CRC-32 (byte loop)", data.size(), Seconds(t));
  if (fast != slow) {
    std::printf("CRC MISMATCH: %08x vs %08x\n", fast, slow);
    return 1;
  }

  TZipFile zip;
  t = Clock::now();
  for (int i = 0; i < 16; ++i) {
    zip.AddFile("member" + std::to_string(i) + ".txt", 0);
    zip.SetUncompressed(i, data.substr(static_cast<size_t>(i) << 22, 4 << 20));
  }
  Report("SetUncompressed (16 x 4 MB)", data.size(), Seconds(t));

  TMemoryStream archive;
  t = Clock::now();
  zip.SaveToStream(archive);
  Report("SaveToStream", archive.GetSize(), Seconds(t));

  TZipFile back;
  archive.SetPosition(0);
  t = Clock::now();
  back.LoadFromStream(archive);
  Report("LoadFromStream", archive.GetSize(), Seconds(t));

  t = Clock::now();
  size_t total = 0;
  for (int32_t i = 0; i < back.Count(); ++i) total += back.GetUncompressed(i).size();
  Report("GetUncompressed (all members)", total, Seconds(t));

  // Many small members: the per-record cost of the walk.
  TZipFile many;
  for (int i = 0; i < 20000; ++i) {
    many.AddFile("f/" + std::to_string(i), 0);
    many.SetUncompressed(i, "x");
  }
  TMemoryStream small;
  many.SaveToStream(small);
  small.SetPosition(0);
  t = Clock::now();
  TZipFile manyBack;
  manyBack.LoadFromStream(small);
  const double s = Seconds(t);
  std::printf("%-34s %9.0f members/s (%d members, %.3f s)\n", "LoadFromStream (small members)", manyBack.Count() / s,
              manyBack.Count(), s);
  return 0;
}
