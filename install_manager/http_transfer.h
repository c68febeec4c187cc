#pragma once
// The install manager's libcurl requests. Every one verifies the server's
// certificate and host name (system store, plus the build's extra CA file);
// none follows redirects.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace kx {

using HttpHeaders = std::unordered_map<std::string, std::string>;

// Total time allowed for one request.
inline constexpr long kRequestTimeoutSeconds = 15;

// Documents are small; a body beyond this is refused so that a faulty server
// cannot fill the memory within the time limit.
inline constexpr std::size_t kMaxDocumentBytes = 16 * 1024 * 1024;

// Connects to `address` instead of the address the URL's host resolves to;
// the URL, the TLS server name, the Host header and the certificate check
// still use the host name.
struct ConnectOverride {
  std::string host;     // as the URL names it
  std::string address;  // IP literal
};

// GET: the body whatever the status; empty when the transfer fails (partial
// data is dropped) or the body is larger than kMaxDocumentBytes.
std::string getBody(const std::string& url, const HttpHeaders& headers, const ConnectOverride* connect = nullptr);

// HEAD: the Content-Length of a successful (2xx) answer; 0 when there is none.
std::uint64_t probeContentLength(const std::string& url);

// The host part of `url` ("" when it does not parse).
std::string urlHost(const std::string& url);

}  // namespace kx
