#pragma once
// A loopback HTTPS server that every host role points at, trusted through the
// test build's CA setting, and a fresh install manager for each test.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install_manager/install_man.h"
#include "tests/support/recording_telemetry.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"

namespace kx::test {

class ServerFixture : public ::testing::Test {
 protected:
  ServerFixture() {
    setAllHosts(server.hostAndPort());
    setExtraCaFile(server.caFile());
    clearTelemetryCalls();
  }

  // Paths of the requests the server saw, oldest first.
  std::vector<std::string> requestedPaths(const TestServer& from) const {
    std::vector<std::string> paths;
    for (const auto& request : from.requests()) paths.push_back(request["path"]);
    return paths;
  }
  std::vector<std::string> requestedPaths() const { return requestedPaths(server); }

  // Names of the TrackEvent calls made so far.
  static std::vector<std::wstring> trackedEvents() {
    std::vector<std::wstring> names;
    for (const auto& call : telemetryCalls())
      if (call.call == "TrackEvent") names.push_back(call.arguments.at(0));
    return names;
  }

  // A host name that no resolver can answer, so that only the DNS-over-HTTP
  // retry reaches the server: a label longer than 63 bytes is refused before
  // any query is built, and the test certificate's *.kx.test still covers it.
  static std::string unresolvableHost() { return std::string(64, 'p') + ".kx.test"; }

  TestServer server;
  InstallMan manager;
};

}  // namespace kx::test

namespace kx::test {

// A package record as the update service writes it.
inline nlohmann::json packageRecord(const std::string& version, const std::string& url, std::uint64_t size,
                                    const std::string& md5 = "0123456789abcdef0123456789abcdef") {
  return {{"big_version", version}, {"game_url", url}, {"game_url_nos", url}, {"md5", md5}, {"size", size}};
}

}  // namespace kx::test
