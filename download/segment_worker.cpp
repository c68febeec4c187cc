#include "download/segment_worker.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

#include "common/build_config.h"
#include "download/download_writer.h"

namespace kx {

namespace {

constexpr long kReceiveBufferBytes = 256 * 1024;
constexpr std::size_t kWriteBlockBytes = 256 * 1024;

// The numbers of a Content-Range value "bytes first-last/total" ("*" for an unknown total).
struct ContentRange {
  std::uint64_t first = 0, last = 0;
  std::optional<std::uint64_t> total;
};

bool readNumber(std::string_view& text, std::uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

bool skip(std::string_view& text, char expected) {
  if (text.empty() || text.front() != expected) return false;
  text.remove_prefix(1);
  return true;
}

std::optional<ContentRange> parseContentRange(std::string_view text) {
  ContentRange range;
  if (!text.starts_with("bytes ")) return std::nullopt;
  text.remove_prefix(6);
  if (!readNumber(text, range.first) || !skip(text, '-') || !readNumber(text, range.last) || !skip(text, '/'))
    return std::nullopt;
  if (text == "*") return range;
  std::uint64_t total = 0;
  if (!readNumber(text, total) || !text.empty()) return std::nullopt;
  range.total = total;
  return range;
}

}  // namespace

SegmentWorker::SegmentWorker(IDownloadCallBack* callback, std::shared_ptr<DownloadWriter> writer,
                             std::uint64_t fileSize, std::string validator)
    : writer_(std::move(writer)), callback_(callback), fileSize_(fileSize), validator_(std::move(validator)) {
  pending_.reserve(kWriteBlockBytes);
}

void SegmentWorker::Abort() {
  aborted_ = true;
  writer_->Close();
}

bool SegmentWorker::configure(CURL* curl, curl_slist*& headers) {
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
    if (!validator_.empty()) {
      headers = curl_slist_append(headers, ("If-Range: " + validator_).c_str());
      curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
  }
  return true;
}

SegmentOutcome SegmentWorker::Run(const std::string& url, const ResumeSegment& segment) {
  segment_ = segment;
  url_ = url;
  attempt_ = 0;
  diskFull_ = false;
  SegmentOutcome result = SegmentOutcome::Failed;
  // A crash can leave a range written to its end but not yet marked finished;
  // asking for it again would send an empty, invalid range.
  if (segment_.bRange && complete()) {
    callback_->OnFinished(segment_.tmp);
    return SegmentOutcome::Done;
  }
  while (attempt_ < maxAttempts_) {
    ++attempt_;
    const CurlEasy curl(curl_easy_init());
    curl_slist* headers = nullptr;
    if (!curl || !configure(curl.get(), headers)) {
      curl_slist_free_all(headers);
      continue;
    }
    callback_->OnTaskStart(segment_.tmp);
    if (aborted_) {
      curl_slist_free_all(headers);
      return SegmentOutcome::Done;
    }
    transfer_ = curl.get();
    answerChecked_ = false;
    const CURLcode code = curl_easy_perform(curl.get());
    transfer_ = nullptr;
    curl_slist_free_all(headers);
    // What arrived before a failure is good data: keep it, so the retry starts after it.
    const bool flushed = flush();
    // A transfer that ends early without an error (a closed connection without
    // Content-Length, an empty error answer) is a failed attempt, not a finished segment.
    if (code == CURLE_OK && flushed && complete()) {
      callback_->OnFinished(segment_.tmp);
      attempt_ = 0;
      return SegmentOutcome::Done;
    }
    if (aborted_) return SegmentOutcome::Done;
    if (diskFull_) result = SegmentOutcome::DiskFull;
  }
  return result;
}

bool SegmentWorker::flush() {
  if (pending_.empty()) return true;
  const platform::FileStatus written = writer_->Write(segment_.start + segment_.seek, pending_.data(), pending_.size());
  if (written == platform::FileStatus::Ok) {
    callback_->OnBytes(pending_.size(), segment_.tmp);
    segment_.seek += pending_.size();
  }
  diskFull_ = diskFull_ || written == platform::FileStatus::NoSpace;
  pending_.clear();
  return written == platform::FileStatus::Ok;
}

// Only the answer asked for goes into the file: a full body (200) where a range
// was asked for, a range other than the one asked for, or an error page would
// land at the wrong offset. A full body also answers a range request whose
// If-Range no longer names the server's file: that file changed, and the next
// run plans afresh.
bool SegmentWorker::answerFits() {
  long status = 0;
  curl_easy_getinfo(transfer_, CURLINFO_RESPONSE_CODE, &status);
  if (!segment_.bRange) return status == 200;
  if (status != 206) return false;
  curl_header* header = nullptr;
  if (curl_easy_header(transfer_, "Content-Range", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return false;
  const std::optional<ContentRange> range = parseContentRange(header->value);
  return range && range->first == segment_.start + segment_.seek && range->last == segment_.start + segment_.length - 1 &&
         (!range->total || *range->total == fileSize_);
}

size_t SegmentWorker::receive(const char* data, size_t length) {
  if (!answerChecked_) {
    if (!answerFits()) return 0;
    answerChecked_ = true;
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
