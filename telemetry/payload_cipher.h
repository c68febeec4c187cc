#pragma once
// AES-128 in ECB mode with PKCS#7 padding: what the collection service expects.

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace kx::telemetry {

using PayloadKey = std::array<std::uint8_t, 16>;

class PayloadCipher {
 public:
  // The key is mixed from the build's constant, so the executable never holds it verbatim.
  PayloadCipher();
  explicit PayloadCipher(const PayloadKey& key) : key_(key) {}

  // Pads `data` to the next multiple of 16 (a whole block when it already is
  // one) and encrypts each block on its own. False when the cipher fails.
  bool Encrypt(std::string_view data, std::string& out);

  // The in-place mixing that turns the build's constant into the key; the
  // service's operator applies the same rule to the constant they hand out.
  static PayloadKey mixKey(PayloadKey constant);

 private:
  PayloadKey key_;
  std::mutex lock_;  // one encryption at a time
};

}  // namespace kx::telemetry
