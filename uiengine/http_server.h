#pragma once
// The window server: HTTP and WebSocket on 127.0.0.1 at a port the system
// picks, served by one thread of its own. It only moves bytes; what a request
// means is the delegate's business.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kx::uiengine {

struct HttpRequest {
  std::string method;
  std::string target;
  std::string host;
  std::string origin;
  std::string fetchSite;
  std::string cookie;
  bool upgrade = false;
};

struct HttpResponse {
  unsigned status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// One live channel (a WebSocket). Thread-safe; sends keep their order.
class Channel {
 public:
  virtual ~Channel() = default;
  virtual std::uint64_t id() const = 0;
  virtual void send(std::string text) = 0;
  virtual void close() = 0;
};

class ServerDelegate {
 public:
  virtual ~ServerDelegate() = default;
  // Server thread. `respond` may be called from any thread, once.
  virtual void onRequest(const HttpRequest& request, std::function<void(HttpResponse)> respond) = 0;
  // Server thread: may this handshake become a channel?
  virtual bool acceptChannel(const HttpRequest& request) = 0;
  virtual void onChannelOpen(std::shared_ptr<Channel> channel) = 0;
  virtual void onChannelText(std::uint64_t channel, std::string text) = 0;
  virtual void onChannelClosed(std::uint64_t channel) = 0;
};

class HttpServer {
 public:
  // Binds the listening socket; throws std::system_error when it cannot.
  HttpServer();
  ~HttpServer();  // stop()
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::uint16_t port() const;
  // Starts serving; the delegate must outlive stop().
  void start(ServerDelegate& delegate);
  // Stops serving and joins the server thread. Channels handed out must be
  // released before the server is destroyed.
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::thread thread_;
};

}  // namespace kx::uiengine
