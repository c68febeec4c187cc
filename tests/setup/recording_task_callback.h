#pragma once
// An ITaskCallback that keeps what it was told.

#include <mutex>
#include <vector>

#include "download/interfaces.h"

namespace kx::test {

class RecordingTaskCallback : public ITaskCallback {
 public:
  void OnDownloadProgress(std::int32_t, std::int32_t) override {}
  void OnInstallProgress(std::int32_t percent) override {
    std::lock_guard guard(lock);
    installProgress.push_back(percent);
  }
  void OnInstallFinished() override {}
  void OnCheckFileError(const std::string&) override {}
  void OnDiskError(DiskError, std::uint64_t, std::uint64_t) override {}

  std::vector<std::int32_t> progress() {
    std::lock_guard guard(lock);
    return installProgress;
  }

 private:
  std::mutex lock;
  std::vector<std::int32_t> installProgress;
};

}  // namespace kx::test
