#pragma once
// Unpredictable bytes from the operating system's random source.

#include <cstdint>
#include <span>

namespace kx::platform {

// Fills `out`; throws std::system_error when the source cannot be read.
void secureRandomBytes(std::span<std::uint8_t> out);

}  // namespace kx::platform
