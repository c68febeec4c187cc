#include "telemetry/payload_cipher.h"

#include <openssl/evp.h>

#include <memory>

#include "common/build_config.h"

namespace kx::telemetry {

PayloadCipher::PayloadCipher() : key_(mixKey(telemetryKeyConstant())) {}

PayloadKey PayloadCipher::mixKey(PayloadKey constant) {
  // Each byte takes in its mirror image and a position-dependent salt; later
  // bytes see the earlier ones already mixed.
  for (std::size_t i = 0; i < constant.size(); ++i)
    constant[i] ^= static_cast<std::uint8_t>(constant[constant.size() - 1 - i] ^ (0x3C + 11 * i));
  return constant;
}

bool PayloadCipher::Encrypt(std::string_view data, std::string& out) {
  std::lock_guard guard(lock_);
  const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                EVP_CIPHER_CTX_free);
  if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, key_.data(), nullptr) != 1)
    return false;
  // OpenSSL's block padding is PKCS#7, a whole block included.
  std::string result(data.size() + 16, '\0');
  int written = 0, last = 0;
  auto* buffer = reinterpret_cast<unsigned char*>(result.data());
  if (EVP_EncryptUpdate(context.get(), buffer, &written, reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<int>(data.size())) != 1 ||
      EVP_EncryptFinal_ex(context.get(), buffer + written, &last) != 1)
    return false;
  result.resize(static_cast<std::size_t>(written + last));
  out = std::move(result);
  return true;
}

}  // namespace kx::telemetry
