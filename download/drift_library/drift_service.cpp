// The downloader library: commands queue download tasks that one worker
// thread runs in order; reports go to the registered listener as JSON.
#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/strings.h"
#include "download/file_md5.h"
#include "download/drift_library/drift_codes.h"
#include "download/drift_library/drift_transfer.h"
#include "download/drift_library/velo_drift.h"

namespace VeloDrift {

IVeloDownloadListener::IVeloDownloadListener() = default;
IVeloDownloadListener::~IVeloDownloadListener() = default;

}  // namespace VeloDrift

namespace kx::drift {

namespace {

using nlohmann::json;

struct FileEntry {
  std::string url;
  std::string path;
  std::string md5;  // empty: not checked
};

struct Task {
  std::string id;
  std::vector<FileEntry> files;
  TransferOptions options;
};

// Command values are strings; a number is taken too. Anything else gives the fallback.
long number(const json& command, const char* key, long fallback, long low, long high) {
  const auto it = command.find(key);
  if (it == command.end()) return fallback;
  double value = static_cast<double>(fallback);
  if (it->is_number()) {
    value = it->get<double>();
  } else if (it->is_string()) {
    try {
      value = std::stod(it->get<std::string>());
    } catch (const std::exception&) {
      return fallback;
    }
  }
  if (!(value == value)) return fallback;  // NaN
  return static_cast<long>(std::clamp(value, static_cast<double>(low), static_cast<double>(high)));
}

std::string text(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<Task> taskFrom(const json& command) {
  Task task;
  task.id = text(command, "downloadid");
  task.options.connections = static_cast<int>(number(command, "threadnum", 3, 1, 16));
  task.options.retries = static_cast<int>(number(command, "retry", 5, 0, 100));
  task.options.connectTimeoutMs = number(command, "connect_timeout", 60000, 100, 600000);
  task.options.tickIntervalMs = number(command, "callback_interval", 1500, 50, 60000);
  const auto files = command.find("downfile");
  if (files == command.end() || !files->is_array()) return std::nullopt;
  for (const auto& file : *files) {
    if (!file.is_object()) return std::nullopt;
    FileEntry entry{text(file, "targeturl"), text(file, "filepath"), text(file, "md5")};
    if (entry.md5 == "NotMD5") entry.md5.clear();
    task.files.push_back(std::move(entry));
  }
  return task;
}

std::string fileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Command paths are UTF-8.
std::string digestOf(const std::string& path) { return FileMd5(fromUtf8(path)).value_or(""); }

class DriftService final : public VeloDrift::IVeloDownloadInterface {
 public:
  DriftService() {
    curl_global_init(CURL_GLOBAL_ALL);
    worker_ = std::thread([this] { work(); });
  }

  void SetListener(VeloDrift::IVeloDownloadListener* listener) override {
    std::lock_guard<std::recursive_mutex> lock(listenerLock_);
    listener_ = listener;
  }

  void SendCommand(const char* text) override {
    if (!text) return;
    const json command = json::parse(text, nullptr, false);
    if (!command.is_object()) return;
    const std::string method = kx::drift::text(command, "methodId");
    if (method == "download") {
      std::optional<Task> task = taskFrom(command);
      if (!task) return;
      std::lock_guard<std::mutex> lock(queueLock_);
      queue_.push_back(std::move(*task));
      queueSignal_.notify_all();
    } else if (method == "downloadqueueclear") {
      std::lock_guard<std::mutex> lock(queueLock_);
      queue_.clear();
    } else if (method == "downloadcancel") {
      cancelCurrent();
    }
  }

 private:
  void cancelCurrent() {
    std::unique_lock<std::mutex> lock(queueLock_);
    if (!busy_) return;
    abort_ = true;
    // From a listener call the worker is this thread: it stops once the call returns.
    if (std::this_thread::get_id() == worker_.get_id()) return;
    queueSignal_.wait(lock, [this] { return !busy_; });
  }

  void work() {
    for (;;) {
      Task task;
      {
        std::unique_lock<std::mutex> lock(queueLock_);
        queueSignal_.wait(lock, [this] { return !queue_.empty(); });
        task = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        abort_ = false;
      }
      run(task);
      std::lock_guard<std::mutex> lock(queueLock_);
      busy_ = false;
      queueSignal_.notify_all();
    }
  }

  void run(const Task& task) {
    event(task.id, kOk, kEventStart);
    for (const FileEntry& file : task.files) {
      const Code code = runFile(task, file);
      if (abort_) return;  // a cancelled task says nothing more
      if (code != kOk && code != kAlreadyComplete) break;
    }
    event(task.id, kOk, kEventEnd);
  }

  Code runFile(const Task& task, const FileEntry& file) {
    const std::string name = fileNameOf(file.path);
    if (file.url.empty() || file.path.empty()) return finish(task.id, kBadRequest, file, "no URL or no path");
    if (!file.md5.empty()) {
      event(task.id, kOk, kEventLocalCheck);
      std::error_code ec;
      if (std::filesystem::exists(file.path, ec) && digestOf(file.path) == asciiLower(file.md5))
        return finish(task.id, kAlreadyComplete, file, "");
    }
    event(task.id, kOk, kEventRequestStart);
    TransferHooks hooks;
    hooks.onTick = [&](std::uint64_t done, std::uint64_t total, std::uint64_t speed) {
      if (abort_) return;
      const double fraction = total > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total)) : 0.0;
      progress(task.id, fraction, speed);
    };
    hooks.onRetry = [&] { event(task.id, kOk, kEventRetry); };
    const TransferResult result = fetchFile(file.url, file.path, task.options, hooks, abort_);
    if (abort_) return kNetworkFailed;
    if (result.code != kOk) return finish(task.id, result.code, file, result.error);
    if (!file.md5.empty() && digestOf(file.path) != asciiLower(file.md5)) {
      std::error_code ec;
      std::filesystem::remove(file.path, ec);
      return finish(task.id, kDigestMismatch, file, "MD5 differs from " + file.md5);
    }
    return finish(task.id, kOk, file, "");
  }

  Code finish(const std::string& id, Code code, const FileEntry& file, const std::string& error) {
    send(false, json{{"downloadid", id}, {"code", static_cast<int>(code)}, {"filename", fileNameOf(file.path)},
                     {"filepath", file.path}, {"error", error}});
    return code;
  }

  void event(const std::string& id, Code code, const char* name) {
    send(false, json{{"downloadid", id}, {"code", static_cast<int>(code)}, {"filename", name}});
  }

  void progress(const std::string& id, double fraction, std::uint64_t speed) {
    send(true, json{{"downloadid", id}, {"progress", fraction}, {"speed", speed}});
  }

  void send(bool isProgress, const json& message) {
    const std::string text = message.dump();
    std::lock_guard<std::recursive_mutex> lock(listenerLock_);
    if (!listener_) return;
    if (isProgress)
      listener_->OnProgressMessage(text.c_str());
    else
      listener_->OnEventMessage(text.c_str(), 0);
  }

  std::recursive_mutex listenerLock_;  // held while the listener is called, so unregistering waits for it
  VeloDrift::IVeloDownloadListener* listener_ = nullptr;

  std::mutex queueLock_;
  std::condition_variable queueSignal_;
  std::deque<Task> queue_;
  bool busy_ = false;
  std::atomic<bool> abort_{false};
  std::thread worker_;
};

}  // namespace

}  // namespace kx::drift

namespace VeloDrift {

IVeloDownloadInterface* IVeloDownloadInterface::getDLInst() {
  // Lives until the process ends: its worker may be inside a transfer then.
  static kx::drift::DriftService* const instance = new kx::drift::DriftService();
  return instance;
}

}  // namespace VeloDrift
