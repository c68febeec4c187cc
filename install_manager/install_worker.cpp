// The download worker: hands the selected files to the engine one at a time,
// verifies them, asks the page about damaged ones, and hands over to the
// installation thread; plus the window's controls of that worker.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>

#include "common/strings.h"
#include "download/verification.h"
#include "install_manager/command_line.h"
#include "install_manager/install_man.h"
#include "platform/codepage.h"
#include "platform/volume.h"
#include "setup/installation_sequence.h"
#include "setup/platform_setup.h"

namespace kx {

namespace {

// The file name after the last path separator of an engine's narrow path.
std::string fileNamePart(const std::string& path) {
  const auto separator = path.find_last_of(static_cast<char>(std::filesystem::path::preferred_separator));
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool isOurs(DestinationState state) {
  return state != DestinationState::Absent && state != DestinationState::Foreign;
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
  // The person said stop: no new engine, no new worker.
  if (!resume) return;
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
    if (failed.empty()) {
      if (cancelRequested) break;
      if (ITaskCallback* window = windowTaskCallback) {
        window->OnDownloadProgress(90, 0);
        window->OnInstallProgress(90);
      }
      const auto notInstalled = runInstallation();
      if (!notInstalled) return;
      // The downloads are kept: asked to retry, the next pass finds them
      // complete and sound, and the installation runs again.
      if (!waitForDecision(*notInstalled)) break;
      work = entries;
      continue;
    }
    if (!waitForDecision(failed.front().url)) break;
    work = std::move(failed);
    std::lock_guard lock(entriesLock);
    lastReportTick = 0;
    lastReportBytes = doneBytesLocked();
  }
  engine->Stop();
}

std::optional<std::string> InstallMan::runInstallation() {
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
  std::optional<std::string> notInstalled;
  std::thread([&] { notInstalled = runInstallationSequence(entries, choices, windowTaskCallback.load(), host); })
      .join();
  return notInstalled;
}

void InstallMan::downloadPass(const std::vector<PackageEntry>& work) {
  for (const PackageEntry& entry : work) {
    if (cancelRequested) return;
    if (!entry.selected) continue;
    const DestinationState state = InspectDestination(entry.localPath, entry.url, entry.size);
    if (state == DestinationState::Complete) {
      const auto name = std::filesystem::path(entry.localPath).filename().wstring();
      markDownloaded(platform::wideToFileSystem(name));
      continue;
    }
    std::unique_lock lock(downloadLock);
    // Counted before the call: an engine may finish before the worker waits.
    const std::uint64_t seen = wakeups;
    lock.unlock();
    if (prepareDestination(entry, state)) {
      downloadingPackage = !entry.isPlatformInstaller;
      engine->Download(entry.url, entry.localPath, entry.size, entry.md5);
    }
    // Without a free path the window has been told; only a cancel wakes this wait.
    lock.lock();
    downloadDone.wait(lock, [&] { return wakeups != seen; });
  }
}

bool InstallMan::prepareDestination(const PackageEntry& entry, DestinationState state) {
  switch (state) {
    case DestinationState::Foreign:
      if (MoveAside(entry.localPath)) return true;
      reportDiskError(DiskError::Unwritable);
      return false;
    case DestinationState::Stale:
      try {
        RemoveDownloadedFile(entry.localPath);
      } catch (const std::filesystem::filesystem_error&) {
        // The engine replaces it.
      }
      return true;
    case DestinationState::Unfinished:
      // aria2 would start such a file over: its ranges go back to the downloader that wrote them.
      if (engineKind != EngineKind::Segmented) {
        engineIndex = std::max(engineIndex.load(), 2);
        createEngine();
      }
      return true;
    default:
      return true;
  }
}

std::vector<PackageEntry> InstallMan::verificationPass(const std::vector<PackageEntry>& work) {
  std::vector<PackageEntry> failed;
  for (const PackageEntry& entry : work) {
    if (cancelRequested) break;
    if (!entry.selected) continue;
    const FileCheck check = CheckFileMd5(entry.localPath, entry.md5);
    if (check == FileCheck::Match) continue;
    // Only a damaged file of ours is deleted; one that cannot be read may be
    // whole, and is checked again on retry.
    if (check == FileCheck::Mismatch && isOurs(InspectDestination(entry.localPath, entry.url, entry.size))) {
      try {
        RemoveDownloadedFile(entry.localPath);
      } catch (const std::filesystem::filesystem_error&) {
        // Still reported as damaged; the next pass checks the file again.
      }
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
  // An engine without records of its own leaves none: the file is marked as
  // ours and complete, so that a later run knows it from a file of the user's.
  if (const std::optional<PackageEntry> entry = markDownloaded(fileNamePart(key)))
    RecordFinishedDownload(entry->localPath, entry->url, entry->size);
  std::lock_guard lock(downloadLock);
  ++wakeups;
  downloadDone.notify_all();
}

std::optional<PackageEntry> InstallMan::markDownloaded(const std::string& fileName) {
  std::lock_guard lock(entriesLock);
  for (PackageEntry& entry : entries)
    if (entry.fileName == fileName) {
      entry.isDownloaded = true;
      return entry;
    }
  return std::nullopt;
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

void InstallMan::OnDiskError(DiskError error) { reportDiskError(error); }

void InstallMan::reportDiskError(DiskError error) {
  ITaskCallback* window = windowTaskCallback;
  if (!window || cancelRequested) return;
  window->OnDiskError(error, platform::freeDiskSpace(installDir).value_or(0), requiredBytes());
}

}  // namespace kx
