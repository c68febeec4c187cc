#pragma once
// Stand-ins for the two parties around the install manager: an engine whose
// behaviour a test scripts, and a window that records every callback and
// answers interruptions and failed checks as the real window's policy does.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/interfaces.h"
#include "install_manager/install_man.h"

namespace kx::test {

class TempDir;

// Sends the user's configuration (HKCU), data (trash), the machine folder
// (HKLM, HKCR, all-users desktop) and the temporary folder into
// `scratch`/config, data, machine and tmp. The worker's installation steps
// write all of them, and every test program that runs the worker starts
// out redirected.
void redirectOperatingSystemLocations(const TempDir& scratch);

// One event as "Name(arg,arg)", in arrival order.
class EventLog {
 public:
  void add(std::string event);
  std::vector<std::string> events() const;
  // Waits (bounded) until `event` has been recorded; false on time-out.
  bool waitFor(const std::string& event, std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
  bool contains(const std::string& event) const;
  void clear();

 private:
  mutable std::mutex lock;
  mutable std::condition_variable changed;
  std::vector<std::string> log;
};

// An engine whose Download runs `onDownload` on a thread of its own, as real
// engines report from their threads, or, when `synchronous`, inside Download
// itself. Every call is logged.
class FakeEngine : public IDownload {
 public:
  struct Call {
    std::string url;
    std::wstring path;
    std::uint64_t size;
  };
  using Script = std::function<void(FakeEngine&, const Call&)>;

  FakeEngine(EventLog& log, std::string name, IDownloadCallBack* progress, IDownloadStateCallBack* state,
             Script onDownload, std::int32_t taskCount, bool synchronous = false);
  ~FakeEngine() override;

  void Download(const std::string& url, const std::wstring& path, std::uint64_t size,
                const std::string& md5) override;
  void Stop() override;
  void Resume(bool resume) override;
  std::int32_t GetTaskCount() override { return taskCount; }

  IDownloadCallBack* const progress;
  IDownloadStateCallBack* const state;

 private:
  EventLog& log;
  const std::string name;
  Script onDownload;
  const std::int32_t taskCount;
  const bool synchronous;
  Call last{};
  std::mutex threadsLock;
  std::vector<std::thread> threads;
};

// Writes `content` to the call's path and reports the file complete.
void completeWith(FakeEngine& engine, const FakeEngine::Call& call, const std::string& content);

// The window's side: records the task and state callbacks, and answers on a
// "UI thread" of its own the way the window's messages 1290, 1282 and 1287 do.
class RecordingWindow : public IDownloadStateCallBack, public ITaskCallback {
 public:
  explicit RecordingWindow(EventLog& log) : log(log), ui([this] { runUi(); }) {}
  ~RecordingWindow() override { shutdown(); }

  void attach(InstallMan& manager, std::wstring folder);
  // Ends the UI thread; later posts are dropped.
  void shutdown();

  // What the user answers to the reconnect question, and what happens while
  // the question is open (after the worker has stopped).
  bool answerReconnect = true;
  std::function<void()> whileAsking;
  // How a failed check is answered: from the UI thread as the window does;
  // at once, inside the callback, before the worker can wait; or never.
  enum class CheckAnswer { Retry, Cancel, RetryAtOnce, Never };
  CheckAnswer checkAnswer = CheckAnswer::Retry;
  // Progress reports are logged only when this is set (they are many).
  bool logProgress = false;

  void OnInterrupted() override;
  void OnReconnected() override { log.add("OnReconnected"); }
  void OnRetry() override;

  void OnDownloadProgress(std::int32_t percent, std::int32_t bytesPerSecond) override;
  void OnInstallProgress(std::int32_t percent) override;
  void OnInstallFinished() override { log.add("OnInstallFinished"); }
  void OnCheckFileError(const std::string& url) override;
  // Logged as "OnDiskError(Full)" or "OnDiskError(Unwritable)"; the figures are kept.
  void OnDiskError(DiskError error, std::uint64_t freeBytes, std::uint64_t requiredBytes) override;
  std::uint64_t lastFreeBytes() const { return freeBytes; }
  std::uint64_t lastRequiredBytes() const { return requiredBytes; }

 private:
  void countFailure();
  void post(std::function<void()> task);
  void runUi();

  EventLog& log;
  InstallMan* manager = nullptr;
  std::wstring folder;
  std::mutex reconnectLock;
  bool askingReconnect = false;
  std::atomic<int> failureCount{0};
  std::atomic<std::uint64_t> freeBytes{0};
  std::atomic<std::uint64_t> requiredBytes{0};

  std::mutex queueLock;
  std::condition_variable queueChanged;
  std::deque<std::function<void()>> queue;
  bool stopping = false;
  std::thread ui;
};

}  // namespace kx::test
