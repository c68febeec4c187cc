#include "tests/support/test_build_config.h"

#include <cstdlib>
#include <map>
#include <mutex>

namespace kx {

namespace {

// An installer built for tests runs in a process of its own: the test that
// starts it names its server and that server's CA in the environment.
std::string fromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::mutex lock;
std::map<HostRole, std::string> hosts;
std::string defaultHost = fromEnvironment("KX_TEST_HOST", "127.0.0.1:9");
std::string caFile = fromEnvironment("KX_TEST_CA_FILE", "");
int lowSpeedSeconds = 30;

}  // namespace

std::string hostName(HostRole role) {
  std::lock_guard guard(lock);
  const auto it = hosts.find(role);
  if (it != hosts.end()) return it->second;
  // A copy of the product built with this configuration is pointed at a collection stand-in this way.
  if (const char* telemetry = std::getenv("KX_TEST_TELEMETRY_HOST"); role == HostRole::TELEMETRY && telemetry)
    return telemetry;
  return defaultHost;
}

std::string extraCaFile() {
  std::lock_guard guard(lock);
  return caFile;
}

std::string downloadReferer() { return "https://referer.test/"; }

int lowSpeedTimeSeconds() {
  std::lock_guard guard(lock);
  return lowSpeedSeconds;
}

std::array<std::uint8_t, 16> telemetryKeyConstant() {
  const std::string hex = KX_TEST_TELEMETRY_KEY_CONSTANT;
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return bytes;
}

std::string fileVersion() { return "7.6.5.4"; }

namespace test {

void setHost(HostRole role, std::string hostAndPort) {
  std::lock_guard guard(lock);
  hosts[role] = std::move(hostAndPort);
}

void setAllHosts(std::string hostAndPort) {
  std::lock_guard guard(lock);
  hosts.clear();
  defaultHost = std::move(hostAndPort);
}

void setExtraCaFile(std::string path) {
  std::lock_guard guard(lock);
  caFile = std::move(path);
}

void setLowSpeedTimeSeconds(int seconds) {
  std::lock_guard guard(lock);
  lowSpeedSeconds = seconds;
}

}  // namespace test
}  // namespace kx
