#include "download/curl_easy.h"

#include <string>

#include "common/build_config.h"

namespace kx {

void applyTlsTrust(CURL* curl) {
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  // CURLOPT_CAINFO replaces the bundle file only; the system folder (CAPATH) stays trusted.
  const std::string extra = extraCaFile();
  if (!extra.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, extra.c_str());
}

}  // namespace kx
