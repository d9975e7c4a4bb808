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

namespace {
// A deflated member's header fields from "version needed" to the extra
// field's length, as both its headers hold them.
std::string HeaderFields(uint32_t Crc, size_t Compressed, size_t Size, size_t NameLength) {
  std::string f;
  Put16(f, 20);
  Put16(f, 0);
  Put16(f, 8);
  Put32(f, 0x5A8B6C21);
  Put32(f, Crc);
  Put32(f, static_cast<uint32_t>(Compressed));
  Put32(f, static_cast<uint32_t>(Size));
  Put16(f, static_cast<uint16_t>(NameLength));
  Put16(f, 0);
  return f;
}

std::string LocalHeader(const std::string& Name, const std::string& Fields) {
  std::string h;
  Put32(h, 0x04034B50);
  return h + Fields + Name;
}

std::string CentralHeader(const std::string& Name, const std::string& Fields, size_t Offset) {
  std::string h;
  Put32(h, 0x02014B50);
  Put16(h, 20);
  h += Fields;
  Put16(h, 0);
  Put16(h, 0);
  Put16(h, 0);
  Put32(h, 0x20);
  Put32(h, static_cast<uint32_t>(Offset));
  return h + Name;
}

std::string EndRecord(size_t Count, size_t DirectorySize, size_t DirectoryOffset) {
  std::string e;
  Put32(e, 0x06054B50);
  Put16(e, 0);
  Put16(e, 0);
  Put16(e, static_cast<uint16_t>(Count));
  Put16(e, static_cast<uint16_t>(Count));
  Put32(e, static_cast<uint32_t>(DirectorySize));
  Put32(e, static_cast<uint32_t>(DirectoryOffset));
  Put16(e, 0);
  return e;
}

uint32_t Crc(const std::string& Data) {
  return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
}
}  // namespace

std::string FullOverlapZip(int Entries, size_t KernelSize, bool HonestFirst) {
  std::string zip, central;
  int count = 0;
  if (HonestFirst) {
    const std::string content = "read me\n", data = RawDeflate(content);
    const std::string fields = HeaderFields(Crc(content), data.size(), content.size(), 10);
    zip += LocalHeader("readme.txt", fields) + data;
    central += CentralHeader("readme.txt", fields, 0);
    ++count;
  }
  const std::string kernel(KernelSize, '\0'), data = RawDeflate(kernel);
  const size_t at = zip.size();
  zip += LocalHeader("0", HeaderFields(Crc(kernel), data.size(), KernelSize, 1)) + data;
  for (int i = 0; i < Entries; ++i, ++count) {
    const std::string name = std::to_string(i);
    central += CentralHeader(name, HeaderFields(Crc(kernel), data.size(), KernelSize, name.size()), at);
  }
  return zip + central + EndRecord(static_cast<size_t>(count), central.size(), zip.size());
}

std::string QuotedOverlapZip(int Members, size_t KernelSize) {
  const std::string kernel(KernelSize, '\0');
  // Made from the last member back: each member's data are a stored block
  // holding the next member's local header, then the next member's data.
  std::string data = RawDeflate(kernel);
  uint32_t crc = Crc(kernel);
  size_t size = KernelSize;
  std::vector<std::string> locals(static_cast<size_t>(Members)), fields(locals.size());
  for (size_t i = locals.size(); i-- > 0;) {
    const std::string name = std::to_string(i);
    fields[i] = HeaderFields(crc, data.size(), size, name.size());
    locals[i] = LocalHeader(name, fields[i]);
    if (i == 0) break;
    std::string block(1, '\0');  // not the last block, stored
    Put16(block, static_cast<uint16_t>(locals[i].size()));
    Put16(block, static_cast<uint16_t>(~locals[i].size()));
    crc = static_cast<uint32_t>(crc32_combine(Crc(locals[i]), crc, static_cast<z_off_t>(size)));
    size += locals[i].size();
    data = block + locals[i] + data;
  }
  const std::string zip = locals[0] + data;
  std::string central;
  size_t offset = 0;
  for (size_t i = 0; i < locals.size(); offset += locals[i].size() + 5, ++i)
    central += CentralHeader(std::to_string(i), fields[i], offset);
  return zip + central + EndRecord(locals.size(), central.size(), zip.size());
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
