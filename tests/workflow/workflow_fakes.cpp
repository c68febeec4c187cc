#include "tests/workflow/workflow_fakes.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/strings.h"
#include "tests/support/test_server.h"

namespace kx::test {
namespace {

// Every worker that finishes runs the real installation steps, which write
// the registry, the desktop, the trash and the temporary folder: each test
// program sends all of them into a folder of its own.
class OperatingSystemLocations : public ::testing::Environment {
 public:
  void SetUp() override { redirectOperatingSystemLocations(scratch); }

 private:
  TempDir scratch;
};

[[maybe_unused]] ::testing::Environment* const operatingSystemLocations =
    ::testing::AddGlobalTestEnvironment(new OperatingSystemLocations);

}  // namespace

void redirectOperatingSystemLocations(const TempDir& scratch) {
  for (const char* name : {"config", "data", "machine", "tmp"}) std::filesystem::create_directories(scratch.file(name));
  setenv("XDG_CONFIG_HOME", scratch.file("config").c_str(), 1);
  setenv("XDG_DATA_HOME", scratch.file("data").c_str(), 1);
  setenv("KX_MACHINE_ROOT", scratch.file("machine").c_str(), 1);
  setenv("TMPDIR", scratch.file("tmp").c_str(), 1);
}

void EventLog::add(std::string event) {
  std::lock_guard guard(lock);
  log.push_back(std::move(event));
  changed.notify_all();
}

void EventLog::clear() {
  std::lock_guard guard(lock);
  log.clear();
}

std::vector<std::string> EventLog::events() const {
  std::lock_guard guard(lock);
  return log;
}

bool EventLog::waitFor(const std::string& event, std::chrono::milliseconds limit) const {
  std::unique_lock guard(lock);
  return changed.wait_for(guard, limit, [&] { return std::find(log.begin(), log.end(), event) != log.end(); });
}

bool EventLog::contains(const std::string& event) const {
  std::lock_guard guard(lock);
  return std::find(log.begin(), log.end(), event) != log.end();
}

FakeEngine::FakeEngine(EventLog& log, std::string name, IDownloadCallBack* progress, IDownloadStateCallBack* state,
                       Script onDownload, std::int32_t taskCount, bool synchronous)
    : progress(progress), state(state), log(log), name(std::move(name)), onDownload(std::move(onDownload)),
      taskCount(taskCount), synchronous(synchronous) {}

FakeEngine::~FakeEngine() {
  std::lock_guard guard(threadsLock);
  for (auto& thread : threads) thread.join();
}

void FakeEngine::Download(const std::string& url, const std::wstring& path, std::uint64_t size, const std::string&) {
  log.add(name + ".Download(" + url + ")");
  last = {url, path, size};
  if (!onDownload) return;
  if (synchronous) return onDownload(*this, last);
  std::lock_guard guard(threadsLock);
  threads.emplace_back([this, call = last] { onDownload(*this, call); });
}

void FakeEngine::Stop() { log.add(name + ".Stop"); }

void FakeEngine::Resume(bool resume) {
  log.add(name + ".Resume(" + (resume ? "true" : "false") + ")");
  if (resume) Download(last.url, last.path, last.size, "");
}

void completeWith(FakeEngine& engine, const FakeEngine::Call& call, const std::string& content) {
  std::ofstream(std::filesystem::path(call.path), std::ios::binary) << content;
  engine.progress->OnFinished(std::filesystem::path(call.path).string());
}

void RecordingWindow::attach(InstallMan& target, std::wstring installFolder) {
  manager = &target;
  folder = std::move(installFolder);
  target.setWindowStateCallback(this);
  target.setWindowTaskCallback(this);
}

void RecordingWindow::shutdown() {
  {
    std::lock_guard guard(queueLock);
    if (stopping) return;
    stopping = true;
    queueChanged.notify_all();
  }
  ui.join();
}

void RecordingWindow::OnInterrupted() {
  log.add("OnInterrupted");
  countFailure();
}

void RecordingWindow::OnRetry() {
  log.add("OnRetry");
  countFailure();
}

// Within three times the engine's task count a failure is resumed
// automatically (message 1290); beyond it the worker is stopped and the user
// asked (message 1282), who may start the installation again.
void RecordingWindow::countFailure() {
  std::lock_guard guard(reconnectLock);
  if (askingReconnect) return;
  const int before = failureCount++;
  if (before <= 3 * manager->GetTaskCount()) {
    post([this] { manager->reconnect(true); });
    return;
  }
  askingReconnect = true;
  post([this] {
    log.add("AskReconnect");
    manager->stopWorker();
    if (whileAsking) whileAsking();
    {
      std::lock_guard guard(reconnectLock);
      askingReconnect = false;
    }
    if (!answerReconnect) return;
    failureCount = 0;
    manager->startWorker(folder);
  });
}

void RecordingWindow::OnDownloadProgress(std::int32_t percent, std::int32_t bytesPerSecond) {
  if (logProgress || percent == 90)
    log.add("OnDownloadProgress(" + std::to_string(percent) + "," + std::to_string(bytesPerSecond) + ")");
}

void RecordingWindow::OnInstallProgress(std::int32_t percent) {
  log.add("OnInstallProgress(" + std::to_string(percent) + ")");
}

void RecordingWindow::OnCheckFileError(const std::string& url) {
  log.add("OnCheckFileError(" + url + ")");
  switch (checkAnswer) {
    case CheckAnswer::Retry:
    case CheckAnswer::Cancel:
      post([this] { manager->answerCheckFailure(checkAnswer == CheckAnswer::Retry); });
      break;
    case CheckAnswer::RetryAtOnce:
      manager->answerCheckFailure(true);
      break;
    case CheckAnswer::Never:
      break;
  }
}

void RecordingWindow::OnDiskError(DiskError error, std::uint64_t free, std::uint64_t required) {
  freeBytes = free;
  requiredBytes = required;
  log.add(error == DiskError::Full ? "OnDiskError(Full)" : "OnDiskError(Unwritable)");
}

void RecordingWindow::post(std::function<void()> task) {
  std::lock_guard guard(queueLock);
  if (stopping) return;
  queue.push_back(std::move(task));
  queueChanged.notify_all();
}

void RecordingWindow::runUi() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock guard(queueLock);
      queueChanged.wait(guard, [&] { return stopping || !queue.empty(); });
      if (stopping) return;
      task = std::move(queue.front());
      queue.pop_front();
    }
    task();
  }
}

}  // namespace kx::test
