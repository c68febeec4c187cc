// Overall progress of the download phase: 0 to 90 percent of the whole bar,
// reported to the window at most once per 300 ms.
#include <algorithm>
#include <limits>

#include "install_manager/install_man.h"
#include "platform/clock.h"
#include "platform/codepage.h"

namespace kx {

namespace {

constexpr std::uint64_t reportIntervalMs = 300;

std::int32_t overallPercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<std::int32_t>(static_cast<double>(done) * 100.0 / static_cast<double>(total) * 0.9);
}

}  // namespace

std::uint64_t InstallMan::doneBytesLocked() const {
  std::uint64_t done = 0;
  for (const PackageEntry& entry : entries)
    if (entry.isDownloaded) done += entry.size;
  return done;
}

void InstallMan::reportDownloadProgress(std::uint64_t done, std::uint64_t bytesPerSecond) {
  ITaskCallback* window = windowTaskCallback;
  if (!window) return;
  const auto speed = std::min<std::uint64_t>(bytesPerSecond, std::numeric_limits<std::int32_t>::max());
  window->OnDownloadProgress(overallPercent(done, totalBytes), static_cast<std::int32_t>(speed));
}

void InstallMan::OnProgress(std::int32_t percent, std::uint32_t bytesPerSecond, const std::string& path) {
  const std::uint64_t now = platform::tickCount();
  std::uint64_t done;
  {
    std::lock_guard lock(entriesLock);
    if (now - lastReportTick < reportIntervalMs) return;
    lastReportTick = now;
    done = doneBytesLocked();
    const std::wstring widePath = platform::fileSystemToWide(path);
    const auto entry = std::find_if(entries.begin(), entries.end(),
                                    [&](const PackageEntry& e) { return e.localPath == widePath; });
    if (entry != entries.end())
      done += static_cast<std::uint64_t>(static_cast<double>(entry->size) * percent / 100.0);
  }
  reportDownloadProgress(done, bytesPerSecond);
}

void InstallMan::OnBytes(std::uint64_t bytes, const std::string&) {
  const std::uint64_t now = platform::tickCount();
  std::uint64_t done, speed;
  {
    std::lock_guard lock(entriesLock);
    done = doneBytesLocked() + bytes;
    if (lastReportTick == 0) {
      lastReportBytes = done;
      lastReportTick = now;
      return;
    }
    if (now - lastReportTick < reportIntervalMs) return;
    // Fewer bytes than at the last sample (a file started again) is no speed.
    speed = done > lastReportBytes ? (done - lastReportBytes) * 1000 / (now - lastReportTick) : 0;
    lastReportBytes = done;
    lastReportTick = now;
  }
  reportDownloadProgress(done, speed);
}

}  // namespace kx
