#pragma once
// What the install manager would see of a download engine, recorded for tests.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/interfaces.h"

namespace kx::test {

class RecordingCallbacks : public IDownloadCallBack, public IDownloadStateCallBack {
 public:
  // Called on the engine's thread after each OnInterrupted is recorded.
  std::function<void()> onInterrupted;

  void OnTaskStart(const std::string&) override {}
  void OnProgress(std::int32_t, std::uint32_t, const std::string&) override {}
  void OnBytes(std::uint64_t bytes, const std::string& key) override {
    std::lock_guard guard(lock_);
    bytes_.push_back(bytes);
    byteKey_ = key;
  }
  void OnFinished(const std::string& key) override {
    {
      std::lock_guard guard(lock_);
      finished_.push_back(key);
    }
    changed_.notify_all();
  }
  void OnInterrupted() override {
    {
      std::lock_guard guard(lock_);
      ++interruptions_;
    }
    changed_.notify_all();
    if (onInterrupted) onInterrupted();
  }
  void OnReconnected() override {
    std::lock_guard guard(lock_);
    ++reconnections_;
  }
  void OnRetry() override {}
  void OnDiskError(DiskError error) override {
    {
      std::lock_guard guard(lock_);
      diskErrors_.push_back(error);
    }
    changed_.notify_all();
  }

  // False when nothing was finished within `limit`.
  bool waitFinished(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return waitFor([this] { return !finished_.empty(); }, limit);
  }
  // False when no disk error came within `limit`.
  bool waitDiskError(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return waitFor([this] { return !diskErrors_.empty(); }, limit);
  }
  // False when fewer than `count` interruptions came within `limit`.
  bool waitInterrupted(int count = 1, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return waitFor([this, count] { return interruptions_ >= count; }, limit);
  }

  std::vector<std::string> finished() const { return locked(finished_); }
  std::vector<std::uint64_t> bytes() const { return locked(bytes_); }
  std::string byteKey() const { return locked(byteKey_); }
  int interruptions() const { return locked(interruptions_); }
  int reconnections() const { return locked(reconnections_); }
  std::vector<DiskError> diskErrors() const { return locked(diskErrors_); }

 private:
  bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, limit, done);
  }
  template <typename T>
  T locked(const T& value) const {
    std::lock_guard guard(lock_);
    return value;
  }

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> finished_;
  std::vector<std::uint64_t> bytes_;
  std::string byteKey_;
  int interruptions_ = 0;
  int reconnections_ = 0;
  std::vector<DiskError> diskErrors_;
};

}  // namespace kx::test
