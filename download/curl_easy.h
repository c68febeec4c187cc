#pragma once
// What every libcurl request of the installer shares.

#include <curl/curl.h>

#include <memory>

namespace kx {

struct CurlEasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;

// Peers are verified against the system's trust store plus the build's extra CA file.
void applyTlsTrust(CURL* curl);

}  // namespace kx
