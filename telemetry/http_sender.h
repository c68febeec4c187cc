#pragma once
// Posts one encrypted payload to the collection service and judges its answer.

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

namespace kx::telemetry {

class HttpSender {
 public:
  // `hostAndPort` is the collection service ("name" means port 80); by default
  // the build's telemetry host.
  HttpSender();
  explicit HttpSender(std::string hostAndPort);

  // Values of the request headers.
  void setIdentity(std::string sdkVersion, std::string hashedAppKey);
  // The uploadTime of the most recent header record (the "x-upload-time" header).
  void setUploadTime(long long uploadTime) { uploadTime_ = uploadTime; }
  // Once shutting down, every step of a request waits 2000 ms instead of 5000 ms.
  void setShuttingDown(bool shuttingDown) { shuttingDown_ = shuttingDown; }

  // POST /receiver over plain HTTP. 0 when the service answered 200 with the
  // content type "application/json" and exactly {"code":200}; otherwise -1 or
  // the transfer's error code. Setting `*cancel` abandons the request promptly.
  int Post(std::string_view payload, const std::atomic<bool>* cancel = nullptr);

 private:
  std::chrono::milliseconds stepTimeout() const;

  std::string hostAndPort_;
  std::string sdkVersion_;
  std::string hashedAppKey_;
  std::atomic<long long> uploadTime_{0};
  std::atomic<bool> shuttingDown_{false};
};

}  // namespace kx::telemetry
