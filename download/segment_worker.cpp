#include "download/segment_worker.h"

#include <algorithm>
#include <cstdio>

#include "common/build_config.h"
#include "download/download_writer.h"

namespace kx {

namespace {
constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr std::size_t kWriteBlockBytes = 256 * 1024;
}  // namespace

SegmentWorker::SegmentWorker(IDownloadCallBack* callback, std::shared_ptr<DownloadWriter> writer)
    : writer_(std::move(writer)), callback_(callback) {
  pending_.reserve(kWriteBlockBytes);
}

void SegmentWorker::Abort() {
  aborted_ = true;
  writer_->Close();
}

bool SegmentWorker::configure(CURL* curl) {
  const std::string referer = downloadReferer();
  const bool ok = curl_easy_setopt(curl, CURLOPT_URL, url_.c_str()) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(lowSpeedTimeSeconds())) == CURLE_OK &&
                  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(connectTimeout_)) == CURLE_OK;
  if (!ok) return false;
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Downloader/1.0");
  curl_easy_setopt(curl, CURLOPT_REFERER, referer.c_str());
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  applyTlsTrust(curl);
  if (segment_.bRange) {
    char range[64];
    std::snprintf(range, sizeof range, "%llu-%llu", static_cast<unsigned long long>(segment_.start + segment_.seek),
                  static_cast<unsigned long long>(segment_.start + segment_.length - 1));
    curl_easy_setopt(curl, CURLOPT_RANGE, range);
  }
  return true;
}

bool SegmentWorker::Run(const std::string& url, const ResumeSegment& segment) {
  segment_ = segment;
  url_ = url;
  attempt_ = 0;
  bool result = false;
  // A crash can leave a range written to its end but not yet marked finished;
  // asking for it again would send an empty, invalid range.
  if (segment_.bRange && complete()) {
    callback_->OnFinished(segment_.tmp);
    return true;
  }
  while (attempt_ < maxAttempts_) {
    ++attempt_;
    const CurlEasy curl(curl_easy_init());
    if (!curl || !configure(curl.get())) continue;
    callback_->OnTaskStart(segment_.tmp);
    if (aborted_) return true;
    transfer_ = curl.get();
    statusChecked_ = false;
    const CURLcode code = curl_easy_perform(curl.get());
    transfer_ = nullptr;
    // What arrived before a failure is good data: keep it, so the retry starts after it.
    const bool flushed = flush();
    // A transfer that ends early without an error (a closed connection without
    // Content-Length, an empty error answer) is a failed attempt, not a finished segment.
    if (code == CURLE_OK && flushed && complete()) {
      callback_->OnFinished(segment_.tmp);
      attempt_ = 0;
      return true;
    }
    if (aborted_) result = true;
  }
  return result;
}

bool SegmentWorker::flush() {
  if (pending_.empty()) return true;
  const bool written = writer_->Write(segment_.start + segment_.seek, pending_.data(), pending_.size());
  if (written) {
    callback_->OnBytes(pending_.size(), segment_.tmp);
    segment_.seek += pending_.size();
  }
  pending_.clear();
  return written;
}

size_t SegmentWorker::receive(const char* data, size_t length) {
  if (!statusChecked_) {
    // Only the answer we asked for goes into the file: a full body (200) where a
    // range was asked for, or an error page, would land at the wrong offset.
    long status = 0;
    curl_easy_getinfo(transfer_, CURLINFO_RESPONSE_CODE, &status);
    if (status != (segment_.bRange ? 206 : 200)) return 0;
    statusChecked_ = true;
  }
  const std::uint64_t received = segment_.seek + pending_.size();
  const std::uint64_t room = segment_.length - std::min(received, segment_.length);
  const std::size_t accepted = static_cast<std::size_t>(std::min<std::uint64_t>(length, room));
  if (pending_.size() + accepted > kWriteBlockBytes && !flush()) return 0;
  pending_.insert(pending_.end(), data, data + accepted);
  // More data than the range holds ends the attempt; what fits is kept.
  return accepted == length ? length : 0;
}

size_t SegmentWorker::WriteCallback(char* data, size_t size, size_t count, void* worker) {
  auto* self = static_cast<SegmentWorker*>(worker);
  if (self->aborted_) return 0;
  return self->receive(data, size * count);
}

int SegmentWorker::ProgressCallback(void* worker, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<SegmentWorker*>(worker)->aborted_ ? 1 : 0;
}

}  // namespace kx
