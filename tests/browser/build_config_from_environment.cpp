// The build configuration of the installer the end-to-end tests run: the test
// starts its own server on a port chosen at run time and hands the address and
// the server's CA to the installer through the environment.
#include <cstdlib>

#include "common/build_config.h"

namespace kx {

namespace {

std::string fromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

}  // namespace

// Every role goes to the test server; without one, to a port where nothing listens.
std::string hostName(HostRole) { return fromEnvironment("KX_TEST_HOST", "127.0.0.1:9"); }

std::string extraCaFile() { return fromEnvironment("KX_TEST_CA_FILE", ""); }

std::string downloadReferer() { return "https://referer.test/"; }

int lowSpeedTimeSeconds() { return std::atoi(fromEnvironment("KX_TEST_LOW_SPEED_SECONDS", "30").c_str()); }

}  // namespace kx
