#pragma once
// Values fixed when the product is built. The product links a unit generated
// from CMake cache variables; test executables link one whose values a test sets.

#include <array>
#include <cstdint>
#include <string>

namespace kx {

// Roles of the maker's hosts; each answers a host name, optionally with ":port".
enum class HostRole { U1, U3, U5, N1, N2, N3, C, MP, MT, MM, ME, MO, MOT, G, HTTPDNS, HDSERVER, DOWNLOAD, TELEMETRY };

std::string hostName(HostRole role);

// A CA bundle trusted in addition to the system store; empty in the product.
std::string extraCaFile();

// Referer header of package downloads.
std::string downloadReferer();

// A transfer slower than one byte per second for this long is abandoned.
int lowSpeedTimeSeconds();

// The constant the telemetry mixes its payload key from (the key itself is
// never stored in the executable).
std::array<std::uint8_t, 16> telemetryKeyConstant();

// The executable's own version, four numbers "a.b.c.d".
std::string fileVersion();

}  // namespace kx
