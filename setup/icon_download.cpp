#include "setup/icon_download.h"

#include <curl/curl.h>

#include <cstdio>
#include <memory>

#include "common/build_config.h"
#include "download/curl_easy.h"

namespace kx {

namespace {

std::size_t writeToFile(char* data, std::size_t size, std::size_t count, void* file) {
  return std::fwrite(data, size, count, static_cast<std::FILE*>(file)) * size;
}

}  // namespace

bool downloadIcon(const std::string& url, const std::filesystem::path& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) return false;
  CurlEasy curl(curl_easy_init());
  if (!curl) return false;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lowSpeedTimeSeconds()));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kIconConnectTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, kIconTransferTimeoutSeconds);
  applyTlsTrust(c);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, writeToFile);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, file.get());
  const CURLcode result = curl_easy_perform(c);
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  const bool closed = std::fclose(file.release()) == 0;
  return result == CURLE_OK && status < 400 && closed;
}

}  // namespace kx
