// kxbench download [--engine segmented|aria2|library] URL DEST SIZE: fetches
// URL into DEST from scratch with a download engine (the segmented downloader
// unless told otherwise), resuming after interruptions, and prints its figures.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "bench/kxbench/command.h"
#include "bench/kxbench/engines.h"
#include "download/downloader.h"
#include "download/verification.h"
#include "platform/codepage.h"
#include "platform/current_directory.h"
#include "platform/process.h"

namespace kx::bench {

namespace {

constexpr int kMaxInterruptions = 50;

class Completion : public IDownloadCallBack, public IDownloadStateCallBack {
 public:
  IDownload* engine = nullptr;

  void OnTaskStart(const std::string&) override {}
  void OnProgress(std::int32_t, std::uint32_t, const std::string&) override {}
  void OnBytes(std::uint64_t, const std::string&) override {}
  void OnFinished(const std::string&) override { end(true); }
  void OnInterrupted() override {
    if (++interruptions_ > kMaxInterruptions) return end(false);
    engine->Resume(true);
  }
  void OnReconnected() override {}
  void OnRetry() override {}
  void OnEngineFailed() override { end(false); }

  bool wait() {
    std::unique_lock lock(lock_);
    done_.wait(lock, [this] { return ended_; });
    return succeeded_;
  }

 private:
  void end(bool succeeded) {
    std::lock_guard guard(lock_);
    ended_ = true;
    succeeded_ = succeeded;
    done_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable done_;
  bool ended_ = false;
  bool succeeded_ = false;
  int interruptions_ = 0;
};

std::unique_ptr<IDownload> createEngine(const std::string& name, IDownloadCallBack* callback,
                                        IDownloadStateCallBack* state) {
  if (name == "segmented") return std::make_unique<Downloader>(callback, state);
  return makeEngine(name, callback, state);
}

int runDownload(const std::vector<std::string>& given) {
  std::vector<std::string> args = given;
  std::string engineName = "segmented";
  if (args.size() == 5 && args[0] == "--engine") {
    engineName = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: kxbench download [--engine segmented|aria2|library] URL DEST SIZE\n");
    return 2;
  }
  const std::wstring dest = platform::fileSystemToWide(std::filesystem::absolute(args[1]).string());
  const std::uint64_t size = std::stoull(args[2]);
  // Helper files (InstallerHelper.exe) are looked up beside the program, as the installer does.
  platform::setCurrentDirectory(std::filesystem::path(platform::executablePath()).parent_path().wstring());
  RemoveDownloadedFile(dest);  // a left-over record would make the run measure nothing
  Completion completion;
  const auto started = std::chrono::steady_clock::now();
  {
    const std::unique_ptr<IDownload> engine = createEngine(engineName, &completion, &completion);
    if (!engine) {
      std::fprintf(stderr, "kxbench download: unknown engine %s\n", engineName.c_str());
      return 2;
    }
    completion.engine = engine.get();
    engine->Download(args[0], dest, size, "");
    if (!completion.wait()) {
      std::fprintf(stderr, "kxbench download: the download did not complete\n");
      return 1;
    }
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  printFigures(size, seconds.count());
  return 0;
}

const Registration registration({"download", "[--engine segmented|aria2|library] URL DEST SIZE", runDownload});

}  // namespace

}  // namespace kx::bench
