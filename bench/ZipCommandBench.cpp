// The zip engine's side of the Unzip and Zip commands, without the window, for
// scripts/bench-zip.sh (a benchmark, not a test):
//
//   ZipCommandBench unzip <archive> <outdir>      streamed reader, as the Unzip command extracts
//   ZipCommandBench zip <target> <list file>      ZipDiskFiles over the files listed one per line
//   ZipCommandBench codecs <list file> <count>    zlib against libdeflate on the first files listed
//
// Prints one line: "seconds <s> peak_ws <bytes> written <bytes> size <bytes>
// members <n>". The time starts after the process is up, as the command's would
// after its button was clicked; peak_ws is the process's peak working set.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

#include "ZipReader.h"
#include "ZipWriter.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

namespace {

uint64_t PeakWorkingSet() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return counters.PeakWorkingSetSize;
#endif
  return 0;
}

// Makes the folders along path once each, as the Unzip command does.
void MakeFolders(const std::string& path, std::set<std::string>& made) {
#ifdef _WIN32
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (made.insert(folder).second) CreateDirectoryA(folder.c_str(), nullptr);
  }
#else
  (void)path, (void)made;
#endif
}

int Unzip(const std::string& archive, const std::string& outDir, uint64_t& written, uint64_t& size, int& members) {
  TZipReader reader(archive);
  std::set<std::string> made;
  reader.ExtractAll(
      [&](const TZipEntry& e) {
        std::string path = outDir + "\\" + e.Name;
        for (char& c : path)
          if (c == '/') c = '\\';
        MakeFolders(path, made);
        return e.IsFolder() ? std::string() : path;
      },
      [&](const TZipEntry& e, const std::exception_ptr& error) {
        if (error) std::rethrow_exception(error);
        written += e.UncompressedSize;
        members += e.IsFolder() ? 0 : 1;
      });
  TFileStream file(archive, fmOpenRead | fmShareDenyNone);
  size = static_cast<uint64_t>(file.GetSize());
  return 0;
}

std::vector<std::string> ReadList(const char* listFile) {
  std::vector<std::string> files;
  std::ifstream list(listFile);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) files.push_back(line);
  }
  return files;
}

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Deflate (level 6, raw), inflate and CRC-32 of each file in memory, with
// zlib and with libdeflate: MB/s of input, and the compressed sizes.
int Codecs(const std::vector<std::string>& files) {
  std::vector<std::string> data;
  uint64_t total = 0;
  for (const std::string& f : files) {
    TFileStream in(f, fmOpenRead | fmShareDenyNone);
    std::string d(static_cast<size_t>(in.GetSize()), '\0');
    if (!d.empty()) in.ReadBuffer(&d[0], static_cast<int64_t>(d.size()));
    total += d.size();
    data.push_back(std::move(d));
  }
  std::vector<std::string> packed(data.size());
  std::vector<unsigned char> out;
  for (int engine = 0; engine < 2; ++engine) {
    uint64_t size = 0;
    auto t = std::chrono::steady_clock::now();
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    for (size_t i = 0; i < data.size(); ++i) {
      const std::string& d = data[i];
      std::string& p = packed[i];
      if (engine == 0) {
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        p.resize(deflateBound(&z, d.size()));
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(d.data()));
        z.avail_in = static_cast<uInt>(d.size());
        z.next_out = reinterpret_cast<Bytef*>(&p[0]);
        z.avail_out = static_cast<uInt>(p.size());
        deflate(&z, Z_FINISH);
        p.resize(z.total_out);
        deflateEnd(&z);
      } else {
        p.resize(libdeflate_deflate_compress_bound(c, d.size()));
        p.resize(libdeflate_deflate_compress(c, d.data(), d.size(), &p[0], p.size()));
      }
      size += p.size();
    }
    libdeflate_free_compressor(c);
    const double deflateSeconds = Since(t);
    t = std::chrono::steady_clock::now();
    libdeflate_decompressor* dc = libdeflate_alloc_decompressor();
    for (size_t i = 0; i < data.size(); ++i) {
      out.resize(data[i].size() + 1);
      if (engine == 0) {
        z_stream z{};
        inflateInit2(&z, -MAX_WBITS);
        z.next_in = reinterpret_cast<Bytef*>(&packed[i][0]);
        z.avail_in = static_cast<uInt>(packed[i].size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        inflate(&z, Z_FINISH);
        inflateEnd(&z);
      } else {
        libdeflate_deflate_decompress(dc, packed[i].data(), packed[i].size(), out.data(), data[i].size(), nullptr);
      }
    }
    libdeflate_free_decompressor(dc);
    const double inflateSeconds = Since(t);
    t = std::chrono::steady_clock::now();
    uint32_t crc = 0;
    for (const std::string& d : data)
      crc ^= engine == 0 ? static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(d.data()), d.size()))
                         : libdeflate_crc32(0, d.data(), d.size());
    const double crcSeconds = Since(t);
    std::printf("%-10s deflate %6.1f MB/s  inflate %6.1f MB/s  crc32 %7.1f MB/s  compressed %.1f %% (crc %08x)\n",
                engine == 0 ? "zlib" : "libdeflate", total / 1e6 / deflateSeconds, total / 1e6 / inflateSeconds,
                total / 1e6 / crcSeconds, 100.0 * size / total, crc);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: ZipCommandBench unzip <archive> <outdir> | zip <target> <list file>\n", stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "codecs") {
    std::vector<std::string> files = ReadList(argv[2]);
    files.resize(std::min<size_t>(files.size(), std::strtoul(argv[3], nullptr, 10)));
    return Codecs(files);
  }
  const auto start = std::chrono::steady_clock::now();
  uint64_t written = 0, size = 0;
  int members = 0;
  try {
    if (command == "unzip") {
      Unzip(argv[2], argv[3], written, size, members);
    } else {
      TZipJobResult result;
      ZipDiskFiles(argv[2], ReadList(argv[3]), result);
      written = result.BytesWritten;
      size = result.ArchiveSize;
      members = result.Members;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds %.3f peak_ws %llu written %llu size %llu members %d\n", seconds,
              static_cast<unsigned long long>(PeakWorkingSet()), static_cast<unsigned long long>(written),
              static_cast<unsigned long long>(size), members);
  return 0;
}
