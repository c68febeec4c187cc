#pragma once
// Records what an engine reports, with the time of each call, and lets a test
// wait (bounded) for a report.

#include <chrono>
#include <fstream>
#include <iterator>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/interfaces.h"

namespace kx::test {

// Test paths are ASCII, so a byte-wise widening is exact.
inline std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Report {
  enum Kind { Progress, Bytes, Finished, Interrupted, Reconnected, Retry, EngineFailed, DiskFull, DiskUnwritable } kind =
      Progress;
  std::int32_t percent = 0;
  std::uint32_t speed = 0;
  std::string key;
  std::chrono::steady_clock::time_point at;
};

class RecordingCallbacks : public IDownloadCallBack, public IDownloadStateCallBack {
 public:
  void OnTaskStart(const std::string&) override {}
  void OnProgress(std::int32_t percent, std::uint32_t speed, const std::string& path) override {
    add(Report::Progress, path, percent, speed);
  }
  void OnBytes(std::uint64_t, const std::string& key) override { add(Report::Bytes, key); }
  void OnFinished(const std::string& key) override { add(Report::Finished, key); }
  void OnInterrupted() override { add(Report::Interrupted); }
  void OnReconnected() override { add(Report::Reconnected); }
  void OnRetry() override { add(Report::Retry); }
  void OnEngineFailed() override { add(Report::EngineFailed); }
  void OnDiskError(DiskError error) override {
    add(error == DiskError::Full ? Report::DiskFull : Report::DiskUnwritable);
  }

  // Runs on the reporting thread after each report is recorded.
  std::function<void(const Report&)> onReport;

  std::vector<Report> all() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::vector<Report> of(Report::Kind kind) {
    std::vector<Report> found;
    for (const auto& r : all())
      if (r.kind == kind) found.push_back(r);
    return found;
  }
  // The first final report (finished, interrupted, engine failed or a disk error), waiting up to `limit`.
  std::vector<Report> awaitFinal(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return finals() > seen_; });
    ++seen_;
    std::vector<Report> result;
    for (const auto& r : reports_)
      if (isFinal(r)) result.push_back(r);
    return result;
  }
  bool awaitKind(Report::Kind kind, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      for (const auto& r : reports_)
        if (r.kind == kind) return true;
      return false;
    });
  }

 private:
  static bool isFinal(const Report& r) {
    return r.kind == Report::Finished || r.kind == Report::Interrupted || r.kind == Report::EngineFailed ||
           r.kind == Report::DiskFull || r.kind == Report::DiskUnwritable;
  }
  std::size_t finals() const {
    std::size_t n = 0;
    for (const auto& r : reports_) n += isFinal(r) ? 1 : 0;
    return n;
  }
  void add(Report::Kind kind, const std::string& key = "", std::int32_t percent = 0, std::uint32_t speed = 0) {
    Report report;
    report.kind = kind;
    report.key = key;
    report.percent = percent;
    report.speed = speed;
    report.at = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back(report);
    }
    changed_.notify_all();
    if (onReport) onReport(report);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> reports_;
  std::size_t seen_ = 0;
};

}  // namespace kx::test
