#include "telemetry/digest.h"

#include <openssl/sha.h>

namespace kx::telemetry {

Sha1Digest sha1(std::string_view bytes) {
  Sha1Digest digest{};
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
  return digest;
}

std::string upperHex(const Sha1Digest& digest) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace kx::telemetry
