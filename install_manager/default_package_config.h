#pragma once
// The package configuration compiled into the installer, used when the main
// configuration cannot be fetched.

#include <string>

namespace kx {

// A versioned document with the members "1.0" and "2.0", pointing at the
// packages on the build's download and content hosts.
std::string defaultPackageConfig();

}  // namespace kx
