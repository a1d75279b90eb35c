#include "zip_reader.h"

#include <zlib.h>

#include <cstdint>

namespace korvanel::test_support {
namespace {

std::uint32_t Read16(const std::string& bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}
std::uint32_t Read32(const std::string& bytes, std::size_t at) {
  return Read16(bytes, at) | (Read16(bytes, at + 2) << 16);
}

bool Inflate(const std::string& compressed, std::size_t size, std::string* out) {
  out->assign(size, '\0');
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(out->data());
  stream.avail_out = static_cast<uInt>(size);
  const int result = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  return result == Z_STREAM_END && stream.total_out == size;
}

}  // namespace

std::map<std::string, std::string> ReadZip(const std::string& archive) {
  std::map<std::string, std::string> members;
  // The end-of-central-directory record is within the last 64 KiB + 22 bytes.
  if (archive.size() < 22) return {};
  std::size_t end = archive.size() - 22;
  while (Read32(archive, end) != 0x06054b50) {
    if (end == 0 || archive.size() - end > 65557) return {};
    --end;
  }
  const std::uint32_t entries = Read16(archive, end + 10);
  std::size_t at = Read32(archive, end + 16);
  for (std::uint32_t i = 0; i < entries; ++i) {
    if (at + 46 > archive.size() || Read32(archive, at) != 0x02014b50) return {};
    const std::uint32_t method = Read16(archive, at + 10);
    const std::uint32_t compressedSize = Read32(archive, at + 20);
    const std::uint32_t size = Read32(archive, at + 24);
    const std::uint32_t nameLength = Read16(archive, at + 28);
    const std::uint32_t extraLength = Read16(archive, at + 30);
    const std::uint32_t commentLength = Read16(archive, at + 32);
    const std::uint32_t local = Read32(archive, at + 42);
    const std::string name = archive.substr(at + 46, nameLength);
    at += 46 + nameLength + extraLength + commentLength;

    if (local + 30 > archive.size() || Read32(archive, local) != 0x04034b50) return {};
    const std::size_t data = local + 30 + Read16(archive, local + 26) + Read16(archive, local + 28);
    if (data + compressedSize > archive.size()) return {};
    const std::string stored = archive.substr(data, compressedSize);
    if (method == 0) {
      members[name] = stored;
    } else if (method != 8 || !Inflate(stored, size, &members[name])) {
      return {};
    }
  }
  return members;
}

}  // namespace korvanel::test_support
