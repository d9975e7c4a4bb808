#include "ZipTestSupport.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

uint32_t ReferenceCrc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) {
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc ^ 0xFFFFFFFFu;
}

std::string RawDeflate(const std::string& data) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
  zs.avail_out = static_cast<uInt>(out.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::string RawInflate(const std::string& data) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) throw std::runtime_error("inflateInit2");
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  std::string out;
  char buffer[65536];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof buffer;
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - zs.avail_out);
    if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0) rc = Z_BUF_ERROR;
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("not a complete deflate stream");
  return out;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string BuildArchive(const std::vector<RawMember>& members, const std::string& comment) {
  std::string locals, central;
  for (const RawMember& m : members) {
    const std::string data = m.DataOverride ? *m.DataOverride : (m.Method == 8 ? RawDeflate(m.Content) : m.Content);
    const uint32_t crc = m.CrcOverride >= 0 ? static_cast<uint32_t>(m.CrcOverride) : ReferenceCrc32(m.Content);
    const uint32_t usize = m.UncompressedOverride >= 0 ? static_cast<uint32_t>(m.UncompressedOverride)
                                                       : static_cast<uint32_t>(m.Content.size());
    const bool deferred = (m.Flags & 8) != 0;
    const uint32_t offset = static_cast<uint32_t>(locals.size());
    std::string fields;  // version needed .. extra length, as in the local header
    Put16(fields, 20);
    Put16(fields, m.Flags);
    Put16(fields, m.Method);
    Put32(fields, 0x5A8B6C21);  // some DOS date and time
    Put32(fields, deferred ? 0 : crc);
    Put32(fields, deferred ? 0 : static_cast<uint32_t>(data.size()));
    Put32(fields, deferred ? 0 : usize);
    Put16(fields, static_cast<uint16_t>(m.Name.size()));
    Put16(fields, static_cast<uint16_t>(m.Extra.size()));
    Put32(locals, 0x04034B50);
    locals += fields + m.Name + m.Extra + data;
    if (deferred) {
      if (m.DescriptorSignature) Put32(locals, 0x08074B50);
      Put32(locals, crc);
      Put32(locals, static_cast<uint32_t>(data.size()));
      Put32(locals, usize);
    }
    Put32(central, 0x02014B50);
    Put16(central, 20);
    central += fields.substr(0, 10);
    Put32(central, crc);
    Put32(central, static_cast<uint32_t>(data.size()));
    Put32(central, usize);
    Put16(central, static_cast<uint16_t>(m.Name.size()));
    Put16(central, static_cast<uint16_t>(m.Extra.size()));
    Put16(central, static_cast<uint16_t>(m.Comment.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, 0x20);
    Put32(central, offset);
    central += m.Name + m.Extra + m.Comment;
  }
  std::string end;
  Put32(end, 0x06054B50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, static_cast<uint16_t>(members.size()));
  Put16(end, static_cast<uint16_t>(members.size()));
  Put32(end, static_cast<uint32_t>(central.size()));
  Put32(end, static_cast<uint32_t>(locals.size()));
  Put16(end, static_cast<uint16_t>(comment.size()));
  return locals + central + end + comment;
}

int64_t TLimitedStream::Write(const void* buffer, int64_t count) {
  const int64_t room = Limit - GetSize();
  if (room <= 0) return 0;
  return TMemoryStream::Write(buffer, count < room ? count : room);
}

std::string FixtureFile(const std::string& name) {
  const char* folder = std::getenv("QUARN_ZIP_FIXTURES");
  return folder ? std::string(folder) + kSep + name : std::string();
}

void WriteWholeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
