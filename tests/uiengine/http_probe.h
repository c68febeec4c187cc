#pragma once
// A blocking HTTP / WebSocket client for probing the window server in tests.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kx::test {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Reply {
  unsigned status = 0;
  std::string body;
  std::map<std::string, std::string> headers;  // names lower-cased
};

// GET `target`; Host is "127.0.0.1:<port>" unless `headers` names one.
Reply httpGet(std::uint16_t port, const std::string& target, const Headers& headers = {});
// Sends a WebSocket handshake; answers the status (101 when the server switched protocols).
unsigned webSocketHandshake(std::uint16_t port, const std::string& target, const Headers& headers = {});

// "http://127.0.0.1:PORT/..." split into port and target.
std::pair<std::uint16_t, std::string> splitUrl(const std::string& url);

}  // namespace kx::test
