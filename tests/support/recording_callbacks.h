#pragma once
// What the install manager would see of a download engine: every report,
// with the time it came, and bounded waits for reports.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/interfaces.h"

namespace kx::test {

struct Report {
  enum Kind { Progress, Bytes, Finished, Interrupted, Reconnected, Retry, EngineFailed } kind = Progress;
  std::int32_t percent = 0;
  std::uint32_t speed = 0;
  std::uint64_t bytes = 0;
  std::string key;  // the path of OnProgress, the key of OnBytes and OnFinished
  std::chrono::steady_clock::time_point at;
};

class RecordingCallbacks : public IDownloadCallBack, public IDownloadStateCallBack {
 public:
  void OnTaskStart(const std::string&) override {}
  void OnProgress(std::int32_t percent, std::uint32_t speed, const std::string& path) override {
    add({.kind = Report::Progress, .percent = percent, .speed = speed, .key = path});
  }
  void OnBytes(std::uint64_t bytes, const std::string& key) override {
    add({.kind = Report::Bytes, .bytes = bytes, .key = key});
  }
  void OnFinished(const std::string& key) override { add({.kind = Report::Finished, .key = key}); }
  void OnInterrupted() override { add({.kind = Report::Interrupted}); }
  void OnReconnected() override { add({.kind = Report::Reconnected}); }
  void OnRetry() override { add({.kind = Report::Retry}); }
  void OnEngineFailed() override { add({.kind = Report::EngineFailed}); }

  // Runs on the reporting thread after each report is recorded.
  std::function<void(const Report&)> onReport;

  std::vector<Report> all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::vector<Report> of(Report::Kind kind) const {
    std::vector<Report> found;
    for (const auto& r : all())
      if (r.kind == kind) found.push_back(r);
    return found;
  }
  int count(Report::Kind kind) const { return static_cast<int>(of(kind).size()); }
  // The keys of the reports of one kind, in order.
  std::vector<std::string> keys(Report::Kind kind) const {
    std::vector<std::string> found;
    for (const auto& r : of(kind)) found.push_back(r.key);
    return found;
  }
  // The byte counts of the OnBytes reports, in order.
  std::vector<std::uint64_t> bytes() const {
    std::vector<std::uint64_t> found;
    for (const auto& r : of(Report::Bytes)) found.push_back(r.bytes);
    return found;
  }

  // False when fewer than `count` reports of `kind` came within `limit`.
  bool awaitCount(Report::Kind kind, int count, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      int n = 0;
      for (const auto& r : reports_) n += r.kind == kind ? 1 : 0;
      return n >= count;
    });
  }
  bool awaitKind(Report::Kind kind, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return awaitCount(kind, 1, limit);
  }
  // Every final report (finished, interrupted or engine failed) so far, once
  // one more has come than at the previous call, waiting up to `limit`.
  std::vector<Report> awaitFinal(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return finals() > seen_; });
    ++seen_;
    std::vector<Report> result;
    for (const auto& r : reports_)
      if (isFinal(r)) result.push_back(r);
    return result;
  }

 private:
  static bool isFinal(const Report& r) {
    return r.kind == Report::Finished || r.kind == Report::Interrupted || r.kind == Report::EngineFailed;
  }
  std::size_t finals() const {
    std::size_t n = 0;
    for (const auto& r : reports_) n += isFinal(r) ? 1 : 0;
    return n;
  }
  void add(Report report) {
    report.at = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back(report);
    }
    changed_.notify_all();
    if (onReport) onReport(report);
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> reports_;
  std::size_t seen_ = 0;
};

}  // namespace kx::test
