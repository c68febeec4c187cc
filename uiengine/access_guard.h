#pragma once
// Decides, before anything reaches native code, whether a request to the
// window server is the window's own.
//
// The engine draws a 256-bit session secret at start. The browser gets it as
// an HttpOnly cookie in exchange for a one-time start token: the address the
// browser is started with is spent by its first load, so reading the
// browser's command line later gains nothing. Every other request, the live
// channel included, must carry the cookie, name exactly our loopback address
// and port as Host (no DNS rebinding), and, when it says where it comes
// from (Origin, Sec-Fetch-Site), come from the window's own origin.

#include <cstdint>
#include <mutex>
#include <map>
#include <string>
#include <string_view>

namespace kx::uiengine {

struct RequestFacts {
  std::string_view method;
  std::string_view target;  // path and query as sent
  std::string_view host;
  std::string_view origin;        // empty when absent
  std::string_view fetchSite;     // Sec-Fetch-Site, empty when absent
  std::string_view cookieHeader;  // empty when absent
  bool upgrade = false;           // a WebSocket handshake
};

class AccessGuard {
 public:
  static constexpr std::string_view kStartPath = "/__kx/start";

  explicit AccessGuard(std::uint16_t port);

  enum class Verdict { Refuse, Allow, StartSession };
  struct Decision {
    Verdict verdict = Verdict::Refuse;
    std::string landing;  // StartSession: where the browser goes next
  };

  // Thread-safe. StartSession consumes the start token of the request.
  Decision check(const RequestFacts& request);

  // A one-time address that opens a session and then sends the browser to `landing`.
  std::string issueStartUrl(const std::string& landing);

  std::string origin() const { return origin_; }
  // The Set-Cookie value that hands the browser its session.
  std::string sessionCookie() const;

 private:
  static std::string queryToken(std::string_view target);
  bool carriesSecret(std::string_view cookieHeader) const;

  std::string host_;
  std::string origin_;
  std::string cookieName_;
  std::string secret_;
  mutable std::mutex lock_;
  std::map<std::string, std::string, std::less<>> startTokens_;  // token -> landing
};

// A lower-case hexadecimal text of `bytes` random bytes from the OS source.
std::string randomHex(std::size_t bytes);

}  // namespace kx::uiengine
