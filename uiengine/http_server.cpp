#include "uiengine/http_server.h"

#include <atomic>
#include <deque>
#include <optional>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

namespace kx::uiengine {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kMaxChannelMessage = 4 * 1024 * 1024;
constexpr auto kIdleRequestTime = std::chrono::seconds(60);

std::atomic<std::uint64_t> nextChannelId{1};

std::string field(const http::request<http::string_body>& request, http::field name) {
  const auto it = request.find(name);
  return it == request.end() ? std::string() : std::string(it->value());
}

HttpRequest describe(const http::request<http::string_body>& request) {
  HttpRequest out;
  out.method = std::string(request.method_string());
  out.target = std::string(request.target());
  out.host = field(request, http::field::host);
  out.origin = field(request, http::field::origin);
  out.cookie = field(request, http::field::cookie);
  const auto site = request.find("Sec-Fetch-Site");
  if (site != request.end()) out.fetchSite = std::string(site->value());
  out.upgrade = websocket::is_upgrade(request);
  return out;
}

class WebSocketSession : public Channel, public std::enable_shared_from_this<WebSocketSession> {
 public:
  WebSocketSession(tcp::socket socket, ServerDelegate& delegate)
      : ws_(std::move(socket)), delegate_(delegate), id_(nextChannelId++) {}

  std::uint64_t id() const override { return id_; }

  void accept(http::request<http::string_body> request) {
    request_ = std::move(request);  // the handshake reads it until it completes
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.read_message_max(kMaxChannelMessage);
    ws_.async_accept(request_, [self = shared_from_this()](beast::error_code error) {
      if (error) return;
      self->open_ = true;
      self->delegate_.onChannelOpen(self);
      self->read();
      self->flush();
    });
  }

  void send(std::string text) override {
    net::post(ws_.get_executor(), [self = shared_from_this(), text = std::move(text)]() mutable {
      self->queue_.push_back(std::move(text));
      if (self->queue_.size() == 1) self->flush();
    });
  }

  void close() override {
    net::post(ws_.get_executor(), [self = shared_from_this()] {
      self->closing_ = true;
      if (self->queue_.empty()) self->closeNow();
    });
  }

 private:
  void read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) return self->finish();
      self->delegate_.onChannelText(self->id_, beast::buffers_to_string(self->buffer_.data()));
      self->buffer_.consume(self->buffer_.size());
      self->read();
    });
  }

  void flush() {
    if (!open_ || writing_ || finished_) return;
    if (queue_.empty()) {
      if (closing_) closeNow();
      return;
    }
    writing_ = true;
    ws_.text(true);
    ws_.async_write(net::buffer(queue_.front()), [self = shared_from_this()](beast::error_code error, std::size_t) {
      self->writing_ = false;
      self->queue_.pop_front();
      if (error) return self->finish();
      self->flush();
    });
  }

  void closeNow() {
    if (!open_ || finished_ || closeSent_) return;
    closeSent_ = true;
    ws_.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code) {});
  }

  void finish() {
    if (finished_) return;
    finished_ = true;
    queue_.clear();
    if (open_) delegate_.onChannelClosed(id_);
  }

  websocket::stream<beast::tcp_stream> ws_;
  http::request<http::string_body> request_;
  ServerDelegate& delegate_;
  const std::uint64_t id_;
  beast::flat_buffer buffer_;
  std::deque<std::string> queue_;
  bool open_ = false, writing_ = false, closing_ = false, closeSent_ = false, finished_ = false;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket socket, ServerDelegate& delegate) : stream_(std::move(socket)), delegate_(delegate) {}

  void read() {
    parser_.emplace();
    parser_->header_limit(16 * 1024);
    parser_->body_limit(64 * 1024);
    stream_.expires_after(kIdleRequestTime);
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) return self->shutdown();
      self->handle(self->parser_->release());
    });
  }

 private:
  void handle(http::request<http::string_body> request) {
    const HttpRequest facts = describe(request);
    if (facts.upgrade) {
      if (!delegate_.acceptChannel(facts)) return refuse(request);
      stream_.expires_never();
      std::make_shared<WebSocketSession>(stream_.release_socket(), delegate_)->accept(std::move(request));
      return;
    }
    const unsigned version = request.version();
    const bool keepAlive = request.keep_alive();
    auto executor = stream_.get_executor();
    delegate_.onRequest(facts, [self = shared_from_this(), executor, version, keepAlive](HttpResponse response) {
      net::post(executor, [self, version, keepAlive, response = std::move(response)]() mutable {
        self->write(std::move(response), version, keepAlive);
      });
    });
  }

  void refuse(const http::request<http::string_body>& request) {
    HttpResponse response;
    response.status = 403;
    response.body = "forbidden";
    write(std::move(response), request.version(), false);
  }

  void write(HttpResponse response, unsigned version, bool keepAlive) {
    auto message = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(response.status), version);
    message->set(http::field::content_type, response.contentType);
    for (const auto& [name, value] : response.headers) message->set(name, value);
    message->body() = std::move(response.body);
    message->keep_alive(keepAlive);
    message->prepare_payload();
    http::async_write(stream_, *message, [self = shared_from_this(), message](beast::error_code error, std::size_t) {
      if (error || !message->keep_alive()) return self->shutdown();
      self->read();
    });
  }

  void shutdown() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  beast::tcp_stream stream_;
  ServerDelegate& delegate_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
};

}  // namespace

struct HttpServer::State {
  net::io_context io{1};
  tcp::acceptor acceptor{io};
  ServerDelegate* delegate = nullptr;

  void accept() {
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code error, tcp::socket socket) {
      if (error) {
        if (error == net::error::operation_aborted) return;
      } else {
        std::make_shared<HttpSession>(std::move(socket), *delegate)->read();
      }
      accept();
    });
  }
};

HttpServer::HttpServer() : state_(std::make_unique<State>()) {
  const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), 0);
  state_->acceptor.open(endpoint.protocol());
  state_->acceptor.bind(endpoint);
  state_->acceptor.listen(net::socket_base::max_listen_connections);
}

HttpServer::~HttpServer() { stop(); }  // then the sockets, and last the I/O context

std::uint16_t HttpServer::port() const { return state_->acceptor.local_endpoint().port(); }

void HttpServer::start(ServerDelegate& delegate) {
  state_->delegate = &delegate;
  state_->accept();
  thread_ = std::thread([state = state_.get()] { state->io.run(); });
}

void HttpServer::stop() {
  state_->io.stop();
  if (thread_.joinable()) thread_.join();
  beast::error_code ignored;
  state_->acceptor.close(ignored);
}

}  // namespace kx::uiengine
