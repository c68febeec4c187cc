#pragma once
// Appending little-endian fields to a byte string, for the binary formats the
// installer writes (shell links, icons).

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

class LittleEndianWriter {
 public:
  explicit LittleEndianWriter(std::string& out) : out(out) {}
  LittleEndianWriter& u8(std::uint64_t v) { return put(v, 1); }
  LittleEndianWriter& u16(std::uint64_t v) { return put(v, 2); }
  LittleEndianWriter& u32(std::uint64_t v) { return put(v, 4); }
  LittleEndianWriter& u64(std::uint64_t v) { return put(v, 8); }
  LittleEndianWriter& raw(std::string_view bytes) {
    out += bytes;
    return *this;
  }

 private:
  LittleEndianWriter& put(std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return *this;
  }
  std::string& out;
};

}  // namespace kx
