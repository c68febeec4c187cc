#pragma once
// Values fixed when the product is built. The product links a unit generated
// from CMake cache variables; test executables link one whose values a test sets.

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

}  // namespace kx
