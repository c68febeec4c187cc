#include "tests/uiengine/http_probe.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "common/strings.h"

namespace kx::test {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

std::string hostOf(std::uint16_t port, const Headers& headers) {
  for (const auto& [name, value] : headers)
    if (asciiLower(name) == "host") return value;
  return "127.0.0.1:" + std::to_string(port);
}

// Connects and sends GET `target` with `headers`; answers the open stream.
beast::tcp_stream sendGet(net::io_context& io, std::uint16_t port, const std::string& target, const Headers& headers) {
  beast::tcp_stream stream(io);
  stream.expires_after(std::chrono::seconds(10));
  stream.connect(tcp::endpoint(net::ip::make_address_v4("127.0.0.1"), port));
  http::request<http::empty_body> request(http::verb::get, target, 11);
  request.set(http::field::host, hostOf(port, headers));
  for (const auto& [name, value] : headers)
    if (asciiLower(name) != "host") request.set(name, value);
  http::write(stream, request);
  return stream;
}

}  // namespace

Reply httpGet(std::uint16_t port, const std::string& target, const Headers& headers) {
  net::io_context io;
  auto stream = sendGet(io, port, target, headers);
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(stream, buffer, response);
  Reply reply{response.result_int(), response.body(), {}};
  for (const auto& field : response) reply.headers[asciiLower(std::string(field.name_string()))] = std::string(field.value());
  return reply;
}

unsigned webSocketHandshake(std::uint16_t port, const std::string& target, const Headers& headers) {
  Headers upgrade = headers;
  upgrade.insert(upgrade.end(), {{"Connection", "Upgrade"},
                                 {"Upgrade", "websocket"},
                                 {"Sec-WebSocket-Version", "13"},
                                 {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="}});
  net::io_context io;
  auto stream = sendGet(io, port, target, upgrade);
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  http::read_header(stream, buffer, parser);
  return parser.get().result_int();
}

std::pair<std::uint16_t, std::string> splitUrl(const std::string& url) {
  const std::string prefix = "http://127.0.0.1:";
  const auto slash = url.find('/', prefix.size());
  return {static_cast<std::uint16_t>(std::stoi(url.substr(prefix.size(), slash - prefix.size()))), url.substr(slash)};
}

}  // namespace kx::test
