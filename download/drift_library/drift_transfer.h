#pragma once
// One file fetched over several connections at once, each with its byte range,
// retried from where it stopped; used by the downloader library's tasks.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "download/drift_library/drift_codes.h"

namespace kx::drift {

struct TransferOptions {
  int connections = 3;
  int retries = 5;            // further attempts of a failed range
  long connectTimeoutMs = 60000;
  long tickIntervalMs = 1500;  // how often onTick is called
};

struct TransferHooks {
  std::function<void(std::uint64_t done, std::uint64_t total, std::uint64_t bytesPerSecond)> onTick;
  std::function<void()> onRetry;
};

struct TransferResult {
  Code code = kOk;
  std::string error;
};

// Fetches `url` into `path` (created or replaced). Returns early, with code
// kNetworkFailed, once `abort` is set.
TransferResult fetchFile(const std::string& url, const std::string& path, const TransferOptions& options,
                         const TransferHooks& hooks, const std::atomic<bool>& abort);

}  // namespace kx::drift
