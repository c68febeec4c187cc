#pragma once
// The telemetry collection service as tests meet it: tests/support/collector.py
// on 127.0.0.1, which decrypts, unpacks and parses every payload it receives
// with the test build's key, and answers in any of the ways a service can fail.

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/test_server.h"

namespace kx::test {

class CollectionService {
 public:
  CollectionService();

  // "127.0.0.1:PORT", the value of the telemetry host role.
  std::string hostAndPort() const { return server_.hostAndPort(); }
  // Answers for successive requests ("ok", "status", "type", "charset",
  // "spaced", "long", "stall", "hold"); the last one repeats.
  void answer(const std::vector<std::string>& answers);
  // Lets held requests answer "ok".
  void release();
  // Every request received so far, oldest first (see collector.py for the fields).
  nlohmann::json received() const { return server_.requests(); }
  // Waits (bounded) until `count` requests have arrived.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;

  // The records of every request that could be opened, in arrival order.
  std::vector<nlohmann::json> records() const;

 private:
  TestServer server_;
};

// The test build's key constant as the service is given it: 32 hex digits.
std::string testKeyConstantHex();

}  // namespace kx::test
