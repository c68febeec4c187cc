#pragma once
// One gzip member (RFC 1952) in memory: the payload's compression before encryption.

#include <optional>
#include <string>
#include <string_view>

namespace kx::telemetry {

class GzipWriter {
 public:
  // A fixed 10-byte header (no name, time 0, operating system 11), the raw
  // deflate stream at the default level, then CRC-32 and length. Nothing
  // when zlib fails.
  static std::optional<std::string> write(std::string_view input);
};

}  // namespace kx::telemetry
