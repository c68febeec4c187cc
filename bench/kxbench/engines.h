#pragma once
// The aria2 and library engines by name, for benchmark commands that run one
// transfer through either.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "download/interfaces.h"

namespace kx::bench {

// Collects an engine's final reports.
class TransferWatch : public IDownloadCallBack, public IDownloadStateCallBack {
 public:
  enum class Outcome { Pending, Finished, Interrupted, Failed };
  void OnTaskStart(const std::string&) override {}
  void OnProgress(std::int32_t, std::uint32_t, const std::string&) override {}
  void OnBytes(std::uint64_t, const std::string&) override {}
  void OnFinished(const std::string&) override { settle(Outcome::Finished); }
  void OnInterrupted() override { settle(Outcome::Interrupted); }
  void OnReconnected() override {}
  void OnRetry() override { settle(Outcome::Interrupted); }
  void OnEngineFailed() override { settle(Outcome::Failed); }
  // Waits for the next final report and clears it.
  Outcome await();

 private:
  void settle(Outcome outcome);
  std::mutex mutex_;
  std::condition_variable signal_;
  Outcome outcome_ = Outcome::Pending;
};

// "aria2" or "library"; null for any other name. The aria2 engine needs
// InstallerHelper.exe in the current folder, as in the installer.
std::unique_ptr<IDownload> makeEngine(const std::string& name, IDownloadCallBack* installCallback,
                                      IDownloadStateCallBack* stateCallback);

// Runs one transfer and waits for its end, resuming interruptions up to
// `resumes` times; true when the file is complete.
bool runTransfer(IDownload& engine, TransferWatch& watch, const std::string& url, const std::wstring& destination,
                 std::uint64_t size, int resumes);

}  // namespace kx::bench
