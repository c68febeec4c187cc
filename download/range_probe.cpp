#include "download/range_probe.h"

#include "common/strings.h"
#include "download/curl_easy.h"

namespace kx {

namespace {

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

int stopWhenAsked(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

std::string header(CURL* curl, const char* name) {
  curl_header* found = nullptr;
  if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK) return {};
  return found->value;
}

// A weak ETag does not promise the same bytes, so it cannot guard a range.
std::string validatorOf(CURL* curl) {
  const std::string etag = header(curl, "ETag");
  if (!etag.empty() && !etag.starts_with("W/")) return etag;
  return header(curl, "Last-Modified");
}

}  // namespace

RangeProbe ProbeRangeSupport(const std::string& url, const std::atomic<bool>& stop) {
  RangeProbe probe;
  const CurlEasy curl(curl_easy_init());
  if (!curl) return probe;
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_RANGE, "0-1");
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 15L);
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, discard);
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, stopWhenAsked);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &stop);
  applyTlsTrust(curl.get());
  if (curl_easy_perform(curl.get()) != CURLE_OK) return probe;
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  // Only an answer about the file decides the plan; an error status (a busy
  // or failing server) says nothing about ranges.
  const bool headRefused = status == 405 || status == 501;
  if ((status < 200 || status >= 300) && !headRefused) return probe;
  const bool ranged = status == 206 && asciiLower(header(curl.get(), "Content-Range")).starts_with("bytes");
  probe.answer = ranged ? RangeProbe::Answer::Ranges : RangeProbe::Answer::NoRanges;
  probe.validator = validatorOf(curl.get());
  return probe;
}

}  // namespace kx
