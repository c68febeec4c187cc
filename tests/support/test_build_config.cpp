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
  return it == hosts.end() ? defaultHost : it->second;
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
