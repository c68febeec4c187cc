#include "bench/kxbench/engines.h"

#include "download/aria2_download.h"
#include "download/drift_download.h"

namespace kx::bench {

TransferWatch::Outcome TransferWatch::await() {
  std::unique_lock<std::mutex> lock(mutex_);
  signal_.wait(lock, [this] { return outcome_ != Outcome::Pending; });
  const Outcome outcome = outcome_;
  outcome_ = Outcome::Pending;
  return outcome;
}

void TransferWatch::settle(Outcome outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  outcome_ = outcome;
  signal_.notify_all();
}

std::unique_ptr<IDownload> makeEngine(const std::string& name, IDownloadCallBack* installCallback,
                                      IDownloadStateCallBack* stateCallback) {
  if (name == "aria2") return std::make_unique<CAria2Download>(installCallback, stateCallback);
  if (name == "library") return std::make_unique<CDriftDownload>(installCallback, stateCallback);
  return nullptr;
}

bool runTransfer(IDownload& engine, TransferWatch& watch, const std::string& url, const std::wstring& destination,
                 std::uint64_t size, int resumes) {
  engine.Download(url, destination, size, "");
  for (;;) {
    const TransferWatch::Outcome outcome = watch.await();
    if (outcome != TransferWatch::Outcome::Interrupted || resumes-- <= 0) return outcome == TransferWatch::Outcome::Finished;
    engine.Resume(true);
  }
}

}  // namespace kx::bench
