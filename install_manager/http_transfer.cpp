#include "install_manager/http_transfer.h"

#include <curl/curl.h>

#include <memory>
#include <vector>

#include "download/curl_easy.h"
#include "install_manager/package_document.h"

namespace kx {

namespace {

struct SlistCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlHandle = CurlEasy;
using CurlList = std::unique_ptr<curl_slist, SlistCleanup>;

// Settings shared by every request: bounded time, no signals (worker threads),
// and TLS that checks who answers.
CurlHandle newRequest(const std::string& url) {
  CurlHandle curl(curl_easy_init());
  if (!curl) return curl;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, kRequestTimeoutSeconds);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  applyTlsTrust(curl.get());
  return curl;
}

// Null for an empty list, or when memory runs out.
CurlList makeList(const std::vector<std::string>& lines) {
  curl_slist* head = nullptr;
  for (const auto& line : lines) {
    curl_slist* extended = curl_slist_append(head, line.c_str());
    if (!extended) {
      curl_slist_free_all(head);
      return nullptr;
    }
    head = extended;
  }
  return CurlList(head);
}

std::size_t appendBounded(char* data, std::size_t size, std::size_t count, void* target) {
  auto& body = *static_cast<std::string*>(target);
  const std::size_t n = size * count;
  if (body.size() + n > kMaxDocumentBytes) return 0;  // aborts the transfer
  body.append(data, n);
  return n;
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

}  // namespace

std::string getBody(const std::string& url, const HttpHeaders& headers, const ConnectOverride* connect) {
  std::string body;
  CurlHandle curl = newRequest(url);
  if (!curl) return body;
  std::vector<std::string> lines;
  for (const auto& [name, value] : headers) lines.push_back(name + ": " + value);
  CurlList headerList = makeList(lines);
  if (!lines.empty() && !headerList) return body;
  if (headerList) curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headerList.get());
  CurlList connectTo;
  if (connect) {
    const bool ipv6 = connect->address.find(':') != std::string::npos;
    const std::string target = ipv6 ? "[" + connect->address + "]" : connect->address;
    // "HOST:PORT:ADDRESS:PORT" with both ports left empty: any port, the same port.
    connectTo = makeList({connect->host + "::" + target + ":"});
    if (!connectTo) return body;
    curl_easy_setopt(curl.get(), CURLOPT_CONNECT_TO, connectTo.get());
  }
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, appendBounded);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
  if (curl_easy_perform(curl.get()) != CURLE_OK) body.clear();
  return body;
}

std::uint64_t probeContentLength(const std::string& url) {
  CurlHandle curl = newRequest(url);
  if (!curl) return 0;
  curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_HEADER, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, discard);
  if (curl_easy_perform(curl.get()) != CURLE_OK) return 0;
  long status = 0;
  curl_off_t length = -1;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  // An error page's length is not the package's size.
  if (status < 200 || status > 299 || length <= 0) return 0;
  const auto size = static_cast<std::uint64_t>(length);
  return size > kMaxPackageSize ? 0 : size;
}

std::string urlHost(const std::string& url) {
  std::string host;
  CURLU* handle = curl_url();
  if (!handle) return host;
  char* part = nullptr;
  if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
      curl_url_get(handle, CURLUPART_HOST, &part, 0) == CURLUE_OK && part)
    host = part;
  curl_free(part);
  curl_url_cleanup(handle);
  return host;
}

}  // namespace kx
