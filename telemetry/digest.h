#pragma once
// SHA-1, which guards the telemetry's files and names the device and the app key.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx::telemetry {

using Sha1Digest = std::array<std::uint8_t, 20>;

Sha1Digest sha1(std::string_view bytes);

// "%02X" per byte.
std::string upperHex(const Sha1Digest& digest);

}  // namespace kx::telemetry
