#include "telemetry/gzip_writer.h"

#include <zlib.h>

#include "common/little_endian.h"

namespace kx::telemetry {

namespace {

constexpr unsigned char kHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B};
constexpr std::size_t kStep = 4096;

}  // namespace

std::optional<std::string> GzipWriter::write(std::string_view input) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    return std::nullopt;
  std::string out(reinterpret_cast<const char*>(kHeader), sizeof kHeader);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  int status = Z_OK;
  while (status == Z_OK) {
    unsigned char chunk[kStep];
    stream.next_out = chunk;
    stream.avail_out = kStep;
    status = deflate(&stream, Z_FINISH);
    out.append(reinterpret_cast<const char*>(chunk), kStep - stream.avail_out);
  }
  deflateEnd(&stream);
  if (status != Z_STREAM_END) return std::nullopt;
  const auto crc = static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(input.data()), static_cast<uInt>(input.size())));
  LittleEndianWriter(out).u32(crc).u32(static_cast<std::uint32_t>(input.size()));
  return out;
}

}  // namespace kx::telemetry
