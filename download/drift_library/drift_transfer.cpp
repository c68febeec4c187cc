#include "download/drift_library/drift_transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/build_config.h"
#include "common/strings.h"
#include "download/curl_easy.h"

namespace kx::drift {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMinimumRangeBytes = 256 * 1024;

// The destination, shared by every range: each block is written at its offset.
class FileWriter {
 public:
  explicit FileWriter(const std::string& path) {
    std::ofstream(path, std::ios::binary | std::ios::trunc);  // create or empty it
    stream_.open(path, std::ios::binary | std::ios::in | std::ios::out);
  }
  bool ok() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stream_.good();
  }
  bool write(std::uint64_t offset, const char* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    stream_.seekp(static_cast<std::streamoff>(offset));
    stream_.write(data, static_cast<std::streamsize>(size));
    return stream_.good();
  }
  bool close() {
    std::lock_guard<std::mutex> lock(mutex_);
    stream_.close();
    return !stream_.fail();
  }

 private:
  std::mutex mutex_;
  std::fstream stream_;
};

struct Range {
  std::uint64_t start = 0;
  std::uint64_t length = 0;  // 0 with an unknown size: the whole body
  std::atomic<std::uint64_t> done{0};
  Code failure = kOk;
  std::string error;
};

struct Shared {
  const std::string& url;
  const TransferOptions& options;
  const std::atomic<bool>& abort;
  FileWriter* writer = nullptr;  // created once the server has answered
  bool knownSize = false;
  std::atomic<bool> writeFailed{false};
};


int abortCheck(void* shared, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Shared*>(shared)->abort ? 1 : 0;
}

CurlEasy newRequest(Shared& shared) {
  CurlEasy curl(curl_easy_init());
  if (!curl) return curl;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, shared.url.c_str());
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, shared.options.connectTimeoutMs);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lowSpeedTimeSeconds()));
  curl_easy_setopt(c, CURLOPT_USERAGENT, "VeloDrift/1.0");
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, abortCheck);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &shared);
  applyTlsTrust(c);
  return curl;
}

struct Probe {
  Code failure = kOk;
  std::string error;
  bool ranges = false;
  std::uint64_t size = 0;  // 0: unknown
};

std::size_t collectHeader(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// One HEAD request asking for the first byte: a 206 with Content-Range names
// the size and shows range support; a 200 names the size only.
Probe probe(Shared& shared) {
  Probe result;
  CurlEasy curl = newRequest(shared);
  if (!curl) return {kNetworkFailed, "cannot create a request"};
  std::string headers;
  curl_easy_setopt(curl.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_RANGE, "0-0");
  curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, collectHeader);
  curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &headers);
  const CURLcode rc = curl_easy_perform(curl.get());
  if (rc == CURLE_HTTP_RETURNED_ERROR) return {kServerRefused, curl_easy_strerror(rc)};
  if (rc != CURLE_OK) return {kNetworkFailed, curl_easy_strerror(rc)};
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  const std::string lower = asciiLower(headers);
  const std::size_t at = lower.rfind("content-range: bytes 0-0/");
  if (status == 206 && at != std::string::npos) {
    result.ranges = true;
    result.size = std::strtoull(lower.c_str() + at + 25, nullptr, 10);
  } else {
    curl_off_t length = -1;
    curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    result.size = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  }
  return result;
}

struct RangeRequest {
  Shared* shared;
  Range* range;
  CURL* curl;
  bool checkedStatus = false;
};

std::size_t writeBlock(char* data, std::size_t size, std::size_t count, void* target) {
  auto* request = static_cast<RangeRequest*>(target);
  const std::size_t n = size * count;
  Range& range = *request->range;
  if (!request->checkedStatus) {
    // A server that ignores the range would put the file's start at this offset.
    long status = 0;
    curl_easy_getinfo(request->curl, CURLINFO_RESPONSE_CODE, &status);
    if (request->shared->knownSize && status != 206 && range.start + range.done > 0) return 0;
    request->checkedStatus = true;
  }
  if (request->shared->knownSize && range.done + n > range.length) return 0;
  if (!request->shared->writer->write(range.start + range.done, data, n)) {
    request->shared->writeFailed = true;
    return 0;
  }
  range.done += n;
  return request->shared->abort ? 0 : n;
}

// One attempt at the rest of a range; true when it is complete.
bool fetchRest(Shared& shared, Range& range) {
  if (shared.knownSize && range.done == range.length) return true;  // an error after the last byte
  CurlEasy curl = newRequest(shared);
  if (!curl) {
    range.failure = kNetworkFailed;
    range.error = "cannot create a request";
    return false;
  }
  if (!shared.knownSize) range.done = 0;  // without ranges a retry starts over
  char text[64];
  if (shared.knownSize) {
    std::snprintf(text, sizeof text, "%llu-%llu", static_cast<unsigned long long>(range.start + range.done),
                  static_cast<unsigned long long>(range.start + range.length - 1));
    curl_easy_setopt(curl.get(), CURLOPT_RANGE, text);
  }
  RangeRequest request{&shared, &range, curl.get()};
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, writeBlock);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &request);
  const CURLcode rc = curl_easy_perform(curl.get());
  if (rc == CURLE_OK && (!shared.knownSize || range.done == range.length)) return true;
  if (shared.writeFailed) {
    range.failure = kFileFailed;
    range.error = "cannot write the file";
  } else if (rc == CURLE_HTTP_RETURNED_ERROR || (rc == CURLE_WRITE_ERROR && !request.checkedStatus)) {
    range.failure = kServerRefused;
    range.error = rc == CURLE_WRITE_ERROR ? "the server ignored the byte range" : curl_easy_strerror(rc);
  } else {
    range.failure = kNetworkFailed;
    range.error = rc == CURLE_OK ? "the body ended early" : curl_easy_strerror(rc);
  }
  return false;
}

// Sleeps `duration`, or less when the transfer is aborted.
void pause(const std::atomic<bool>& abort, std::chrono::milliseconds duration) {
  const auto until = Clock::now() + duration;
  while (!abort && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void runRange(Shared& shared, Range& range, const TransferHooks& hooks) {
  for (int attempt = 0;; ++attempt) {
    range.failure = kOk;
    if (fetchRest(shared, range) || shared.abort) return;
    if (range.failure != kNetworkFailed || attempt >= shared.options.retries) return;
    if (hooks.onRetry) hooks.onRetry();
    pause(shared.abort, std::chrono::milliseconds(500));
  }
}

std::vector<std::unique_ptr<Range>> planRanges(const Probe& found, int connections) {
  std::vector<std::unique_ptr<Range>> ranges;
  std::uint64_t count = 1;
  if (found.ranges && found.size > 0)
    count = std::clamp<std::uint64_t>(found.size / kMinimumRangeBytes, 1, static_cast<std::uint64_t>(std::max(connections, 1)));
  const std::uint64_t length = found.size / count;
  for (std::uint64_t i = 0; i < count; ++i) {
    auto range = std::make_unique<Range>();
    range->start = i * length;
    range->length = i + 1 == count ? found.size - i * length : length;
    ranges.push_back(std::move(range));
  }
  return ranges;
}

// Runs every range on a thread of its own and reports progress while they run.
TransferResult fetchRanges(Shared& shared, Probe& found, const TransferHooks& hooks) {
  auto ranges = planRanges(found, shared.options.connections);
  std::vector<std::thread> threads;
  std::atomic<int> running{static_cast<int>(ranges.size())};
  std::mutex doneLock;
  std::condition_variable doneSignal;
  for (auto& range : ranges)
    threads.emplace_back([&, r = range.get()] {
      runRange(shared, *r, hooks);
      std::lock_guard<std::mutex> lock(doneLock);
      --running;
      doneSignal.notify_all();
    });

  const auto bytesDone = [&] {
    std::uint64_t sum = 0;
    for (const auto& range : ranges) sum += range->done;
    return sum;
  };
  auto last = Clock::now();
  std::uint64_t lastDone = 0;
  const auto tick = [&] {
    const auto now = Clock::now();
    const std::uint64_t done = bytesDone();
    const double seconds = std::chrono::duration<double>(now - last).count();
    const std::uint64_t gained = done > lastDone ? done - lastDone : 0;  // a restarted body counts again from 0
    const auto speed = seconds > 0 ? static_cast<std::uint64_t>(static_cast<double>(gained) / seconds) : 0;
    if (hooks.onTick) hooks.onTick(done, found.size, speed);
    last = now;
    lastDone = done;
  };
  {
    std::unique_lock<std::mutex> lock(doneLock);
    while (running > 0) {
      if (!doneSignal.wait_for(lock, std::chrono::milliseconds(shared.options.tickIntervalMs), [&] { return running == 0; })) {
        lock.unlock();
        tick();
        lock.lock();
      }
    }
  }
  for (auto& thread : threads) thread.join();
  if (shared.abort) return {kNetworkFailed, "cancelled"};
  for (const auto& range : ranges)
    if (range->failure != kOk) return {range->failure, range->error};
  if (found.size == 0) found.size = bytesDone();
  tick();
  return {};
}

}  // namespace

TransferResult fetchFile(const std::string& url, const std::string& path, const TransferOptions& options,
                         const TransferHooks& hooks, const std::atomic<bool>& abort) {
  Shared shared{url, options, abort};
  Probe found;
  for (int attempt = 0;; ++attempt) {
    found = probe(shared);
    if (found.failure != kNetworkFailed || attempt >= options.retries || abort) break;
    if (hooks.onRetry) hooks.onRetry();
    pause(abort, std::chrono::milliseconds(500));
  }
  if (abort) return {kNetworkFailed, "cancelled"};
  if (found.failure != kOk) return {found.failure, found.error};

  FileWriter writer(path);
  if (!writer.ok()) return {kFileFailed, "cannot create the file"};
  shared.writer = &writer;
  // With ranges the size is known; without them the body is fetched whole.
  shared.knownSize = found.ranges;
  TransferResult result = fetchRanges(shared, found, hooks);
  if (!writer.close() && result.code == kOk) result = {kFileFailed, "cannot write the file"};
  if (abort && result.code == kOk) result = {kNetworkFailed, "cancelled"};
  if (result.code != kOk) {
    // Nothing resumes a partial file: a later task fetches it whole again.
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  return result;
}

}  // namespace kx::drift
