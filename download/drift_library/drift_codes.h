#pragma once
// Result codes and internal event names of the downloader library.

namespace kx::drift {

enum Code : int {
  kAlreadyComplete = -1,  // the file was there with the expected digest; nothing was fetched
  kOk = 0,
  kBadRequest = 1,        // a download entry without URL or path
  kServerRefused = 2,     // the server answered with an error status
  kNetworkFailed = 3,     // the transfer kept failing after every retry
  kDigestMismatch = 4,    // the file arrived but its MD5 differs; the file is removed
  kFileFailed = 5,        // the destination cannot be written
};

inline constexpr const char* kEventStart = "__DOWNLOAD_START__";
inline constexpr const char* kEventConfig = "__DOWNLOAD_CONFIG__";
inline constexpr const char* kEventEnd = "__DOWNLOAD_END__";
inline constexpr const char* kEventLocalCheck = "__DOWNLOAD_LOCAL_CHECK__";
inline constexpr const char* kEventRetry = "__DOWNLOAD_RETRY__";
inline constexpr const char* kEventRequestStart = "__DOWNLOAD_REQUEST_START__";
inline constexpr const char* kEventQueueClear = "__DOWNLOAD_QUEUE_CLEAR__";

}  // namespace kx::drift
