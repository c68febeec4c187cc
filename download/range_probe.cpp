#include "download/range_probe.h"

#include "common/strings.h"
#include "download/curl_easy.h"

namespace kx {

namespace {

size_t appendHeader(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

bool ProbeRangeSupport(const std::string& url) {
  const CurlEasy curl(curl_easy_init());
  if (!curl) return false;
  std::string headers;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_HEADER, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_RANGE, "0-1");
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 15L);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, appendHeader);
  curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &headers);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, discard);
  applyTlsTrust(curl.get());
  if (curl_easy_perform(curl.get()) != CURLE_OK) return false;
  // HTTP/2 sends header names in lower case, so the name is matched without regard to case.
  return asciiLower(headers).find("content-range: bytes") != std::string::npos;
}

}  // namespace kx
