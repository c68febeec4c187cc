#include "telemetry/http_sender.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "common/build_config.h"

namespace kx::telemetry {

namespace {

constexpr std::size_t kBodyLimit = 1024;
constexpr std::string_view kAccepted = R"({"code":200})";

struct Transfer {
  std::string body;
  bool tooLong = false;
  const std::atomic<bool>* cancel = nullptr;
  std::chrono::milliseconds idleLimit{};
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
  curl_off_t lastBytes = -1;
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* target) {
  auto& transfer = *static_cast<Transfer*>(target);
  const std::size_t n = size * count;
  if (transfer.body.size() + n > kBodyLimit) {
    transfer.tooLong = true;
    return 0;  // more than the answer can be: stop reading
  }
  transfer.body.append(data, n);
  return n;
}

// Each step of a request may stall for the step time-out, as with the
// system's per-step time-outs; a cancelled request ends at once.
int watchProgress(void* target, curl_off_t downTotal, curl_off_t downNow, curl_off_t upTotal, curl_off_t upNow) {
  (void)downTotal, (void)upTotal;
  auto& transfer = *static_cast<Transfer*>(target);
  if (transfer.cancel && transfer.cancel->load()) return 1;
  const auto now = std::chrono::steady_clock::now();
  if (downNow + upNow != transfer.lastBytes) {
    transfer.lastBytes = downNow + upNow;
    transfer.lastProgress = now;
  }
  return now - transfer.lastProgress > transfer.idleLimit ? 1 : 0;
}

void initialiseCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

}  // namespace

HttpSender::HttpSender() : HttpSender(hostName(HostRole::TELEMETRY)) {}

HttpSender::HttpSender(std::string hostAndPort) : hostAndPort_(std::move(hostAndPort)) {}

void HttpSender::setIdentity(std::string sdkVersion, std::string hashedAppKey) {
  sdkVersion_ = std::move(sdkVersion);
  hashedAppKey_ = std::move(hashedAppKey);
}

std::chrono::milliseconds HttpSender::stepTimeout() const {
  return std::chrono::milliseconds(shuttingDown_ ? 2000 : 5000);
}

int HttpSender::Post(std::string_view payload, const std::atomic<bool>* cancel) {
  initialiseCurl();
  const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) return -1;
  // The order and spelling of these headers is what the service reads.
  const std::string lines[] = {
      "x-upload-time: " + std::to_string(uploadTime_.load()),
      "Content-Type: application/x-gzip",
      "Content-Encoding: gzip",
      "Content-Length:" + std::to_string(payload.size()),
      "SDK-Ver:" + sdkVersion_,
      "Hashed-APPKEY:" + hashedAppKey_,
      "Accept:",  // no accept types
      "Expect:",  // the body goes at once, without waiting for a go-ahead
  };
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr, curl_slist_free_all);
  for (const auto& line : lines) {
    curl_slist* longer = curl_slist_append(headers.get(), line.c_str());
    if (!longer) return -1;
    headers.release();
    headers.reset(longer);
  }
  const std::string url = "http://" + hostAndPort_ + "/receiver";
  Transfer transfer;
  transfer.cancel = cancel;
  transfer.idleLimit = stepTimeout();

  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "User-Agent");
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, payload.data());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(transfer.idleLimit.count()));
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collectBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, watchProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) return static_cast<int>(result);

  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  const char* type = nullptr;
  curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type);
  if (status != 200 || !type || std::string_view(type) != "application/json") return -1;
  return transfer.body == kAccepted ? 0 : -1;
}

}  // namespace kx::telemetry
