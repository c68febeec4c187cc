// The download worker: hands the selected files to the engine one at a time,
// verifies them, asks the page about damaged ones, and hands over to the
// installation thread; plus the window's controls of that worker.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>

#include "common/strings.h"
#include "download/resume_record.h"
#include "download/verification.h"
#include "install_manager/command_line.h"
#include "install_manager/install_man.h"
#include "platform/codepage.h"
#include "setup/installation_sequence.h"
#include "setup/platform_setup.h"

namespace kx {

namespace {

// The file name after the last path separator of an engine's narrow path.
std::string fileNamePart(const std::string& path) {
  const auto separator = path.find_last_of(static_cast<char>(std::filesystem::path::preferred_separator));
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool existsOnDisk(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(path), error);
}

// A file an engine left half-written still has its engine's resume state
// beside it: aria2's control file, or a resume record with unfinished ranges.
// Such a file goes back to the engine, which continues it, instead of being
// taken as complete and then failing its check.
bool transferUnfinished(const std::wstring& path) {
  if (existsOnDisk(path + L".aria2")) return true;
  ResumeRecord record;
  if (!LoadResumeRecord(ResumeRecordPath(path), record)) return false;
  return std::any_of(record.range.begin(), record.range.end(),
                     [](const ResumeSegment& segment) { return !segment.bFinished; });
}

}  // namespace

void InstallMan::startWorker(const std::wstring& folder) {
  // Assigning over a thread that was never joined would end the process.
  if (workerThread.joinable()) stopWorker();
  cancelRequested = false;
  workerThread = std::thread(&InstallMan::runWorker, this, folder);
}

void InstallMan::stopWorker() {
  cancelAndWake();
  joinWorker();
}

void InstallMan::reconnect(bool resume) {
  if (engineIndex <= 1 || engineKind == EngineKind::Segmented) {
    if (engine) engine->Resume(resume);
    return;
  }
  cancelAndWake();
  joinWorker();
  createEngine();
  cancelRequested = false;
  workerThread = std::thread(&InstallMan::runWorker, this, installDir);
}

void InstallMan::answerCheckFailure(bool retry) {
  if (!retry) cancelRequested = true;
  std::lock_guard lock(downloadLock);
  decisionGiven = true;
  ++wakeups;
  decisionMade.notify_all();
}

std::int32_t InstallMan::GetTaskCount() {
  // The engine is replaced only after its last callback, so no engine thread
  // reads it while it changes.
  return engine ? engine->GetTaskCount() : 0;
}

void InstallMan::cancelAndWake() {
  cancelRequested = true;
  std::lock_guard lock(downloadLock);
  ++wakeups;
  downloadDone.notify_all();
  // A worker waiting for the page's decision must see the cancel too, or
  // closing the window during the check-failure question would hang.
  decisionMade.notify_all();
}

void InstallMan::joinWorker() {
  if (!workerThread.joinable()) return;
  if (workerThread.get_id() == std::this_thread::get_id())
    throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur), "join");
  workerThread.join();
}

void InstallMan::runWorker(std::wstring folder) {
  // An exception that left this thread would end the whole process.
  try {
    runDownloadAndInstall(std::move(folder));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "download worker stopped: %s\n", error.what());
    engine->Stop();
  }
}

void InstallMan::runDownloadAndInstall(std::wstring folder) {
  installDir = folder;
  if (folder.empty()) return;
  std::vector<PackageEntry> work = entries;
  while (!cancelRequested) {
    downloadPass(work);
    std::vector<PackageEntry> failed = verificationPass(work);
    if (failed.empty()) break;
    if (!waitForDecision(failed.front().url)) break;
    work = std::move(failed);
    std::lock_guard lock(entriesLock);
    lastReportTick = 0;
    lastReportBytes = doneBytesLocked();
  }
  if (cancelRequested) {
    engine->Stop();
    return;
  }
  if (ITaskCallback* window = windowTaskCallback) {
    window->OnDownloadProgress(90, 0);
    window->OnInstallProgress(90);
  }
  runInstallation();
}

void InstallMan::runInstallation() {
  installDirWithSlash = installDir + static_cast<wchar_t>(std::filesystem::path::preferred_separator);
  const InstallationChoices choices{
      .setupArguments = buildPlatformSetupArguments(installDir, createDesktopShortcut, autoRun),
      .root = installDirWithSlash,
      .createDesktopShortcut = createDesktopShortcut,
      .autoRun = autoRun,
      .channel = channel(),
      .mapId = mapId,
      .mapDisplayName = mapDisplayName,
  };
  const InstallationHost host{
      .downloadingPackage = downloadingPackage,
      .unzipTotalBytes = unzipTotalBytes,
      .createMapShortcut = [this](const std::wstring& folder) { CreateCustomShortcut(folder); },
  };
  std::thread(runInstallationSequence, std::cref(entries), std::cref(choices), windowTaskCallback.load(), std::cref(host))
      .join();
}

void InstallMan::downloadPass(const std::vector<PackageEntry>& work) {
  for (const PackageEntry& entry : work) {
    if (cancelRequested) return;
    if (!entry.selected) continue;
    if (existsOnDisk(entry.localPath) && !transferUnfinished(entry.localPath)) {
      const auto name = std::filesystem::path(entry.localPath).filename().wstring();
      markDownloaded(platform::wideToFileSystem(name));
      continue;
    }
    downloadingPackage = !entry.isPlatformInstaller;
    std::unique_lock lock(downloadLock);
    // Counted before the call: an engine may finish before the worker waits.
    const std::uint64_t seen = wakeups;
    lock.unlock();
    engine->Download(entry.url, entry.localPath, entry.size, entry.md5);
    lock.lock();
    downloadDone.wait(lock, [&] { return wakeups != seen; });
  }
}

std::vector<PackageEntry> InstallMan::verificationPass(const std::vector<PackageEntry>& work) {
  std::vector<PackageEntry> failed;
  for (const PackageEntry& entry : work) {
    if (cancelRequested) break;
    if (!entry.selected || VerifyFileMd5(entry.localPath, entry.md5)) continue;
    try {
      RemoveDownloadedFile(entry.localPath);
    } catch (const std::filesystem::filesystem_error&) {
      // Still reported as damaged; the next pass checks the file again.
    }
    failed.push_back(entry);
    std::lock_guard lock(entriesLock);
    for (PackageEntry& own : entries)
      if (own.localPath == entry.localPath) own.isDownloaded = false;
  }
  return failed;
}

bool InstallMan::waitForDecision(const std::string& failedUrl) {
  {
    std::lock_guard lock(downloadLock);
    decisionGiven = false;
  }
  if (ITaskCallback* window = windowTaskCallback; window && !cancelRequested) window->OnCheckFileError(failedUrl);
  std::unique_lock lock(downloadLock);
  decisionMade.wait(lock, [&] { return decisionGiven || cancelRequested; });
  return !cancelRequested;
}

// ---- IDownloadCallBack ---------------------------------------------------------

void InstallMan::OnTaskStart(const std::string&) {}

void InstallMan::OnFinished(const std::string& key) {
  markDownloaded(fileNamePart(key));
  std::lock_guard lock(downloadLock);
  ++wakeups;
  downloadDone.notify_all();
}

void InstallMan::markDownloaded(const std::string& fileName) {
  std::lock_guard lock(entriesLock);
  for (PackageEntry& entry : entries)
    if (entry.fileName == fileName) {
      entry.isDownloaded = true;
      return;
    }
}

// ---- IDownloadStateCallBack ----------------------------------------------------

void InstallMan::forwardToWindow(void (IDownloadStateCallBack::*call)()) {
  IDownloadStateCallBack* window = windowStateCallback;
  if (window && !cancelRequested) (window->*call)();
}

void InstallMan::OnInterrupted() { forwardToWindow(&IDownloadStateCallBack::OnInterrupted); }
void InstallMan::OnReconnected() { forwardToWindow(&IDownloadStateCallBack::OnReconnected); }
void InstallMan::OnRetry() { forwardToWindow(&IDownloadStateCallBack::OnRetry); }

void InstallMan::OnEngineFailed() {
  ++engineIndex;
  OnInterrupted();
}

}  // namespace kx
