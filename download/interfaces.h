#pragma once
// The four interfaces that join the download engines, the install manager and
// the main window. The order of the virtual operations is part of the contract
// between those parties: append, never reorder.
//
// Narrow strings are URLs, MD5 texts, segment ids and paths in the file-system
// code page; destination paths handed to IDownload are wide.

#include <cstdint>
#include <string>

namespace kx {

// Why the destination refused a download (OnDiskError).
enum class DiskError : std::int32_t {
  Full,        // no space left on the volume, or the user's quota is used up
  Unwritable,  // the file cannot be created, allocated, written or flushed for another reason
};

class IDownload {
 public:
  // Destroying an engine stops it.
  virtual ~IDownload() = default;
  // Starts fetching `url` into `path` and returns without waiting; the outcome
  // arrives through the callbacks. `md5` is used only by engines that check it.
  virtual void Download(const std::string& url, const std::wstring& path, std::uint64_t size,
                        const std::string& md5) = 0;
  // Ends the current run; afterwards the engine reports nothing more for it.
  virtual void Stop() = 0;
  // Answers an interruption: true tries again, false gives up.
  virtual void Resume(bool resume) = 0;
  // Parallel transfers of the current plan; the window's retry budget is three times this.
  virtual std::int32_t GetTaskCount() = 0;
};

class IDownloadCallBack {
 public:
  virtual ~IDownloadCallBack() = default;
  // Before each transfer attempt of a segment.
  virtual void OnTaskStart(const std::string& taskId) = 0;
  // Whole-file percentage 0..100 and speed, from engines that only know percentages.
  virtual void OnProgress(std::int32_t percent, std::uint32_t bytesPerSecond, const std::string& path) = 0;
  // Segment level: bytes of the block just written, keyed by segment id.
  // File level: total bytes of the file written so far, keyed by destination path.
  virtual void OnBytes(std::uint64_t bytes, const std::string& key) = 0;
  // Segment level: segment id done. File level: destination path complete.
  virtual void OnFinished(const std::string& key) = 0;
};

class IDownloadStateCallBack {
 public:
  virtual ~IDownloadStateCallBack() = default;
  // A transfer failed; the engine waits for Resume.
  virtual void OnInterrupted() = 0;
  // Data flows again and no segment is marked failed any more.
  virtual void OnReconnected() = 0;
  // Counts like OnInterrupted, without the reconnecting notice.
  virtual void OnRetry() = 0;
  // The engine cannot do the job at all.
  virtual void OnEngineFailed() {}
  // The destination cannot take the download. Trying the transfer again cannot
  // help, so this is no interruption: the engine waits for Resume (true once
  // there is room, false to give up).
  virtual void OnDiskError(DiskError) {}
};

class ITaskCallback {
 public:
  virtual ~ITaskCallback() = default;
  // Overall progress while downloading, 0..90, and speed in bytes per second.
  virtual void OnDownloadProgress(std::int32_t percent, std::int32_t bytesPerSecond) = 0;
  // Installation progress 90..100.
  virtual void OnInstallProgress(std::int32_t percent) = 0;
  virtual void OnInstallFinished() = 0;
  // A downloaded package failed its MD5 check; `url` is the first such package's URL.
  virtual void OnCheckFileError(const std::string& url) = 0;
  // The download stopped because of the disk. `freeBytes` is the space left on
  // the volume of the installation folder, `requiredBytes` the space the
  // installation needs (the figures of the space report). Nothing is retried
  // until the person has made room and asks for it.
  virtual void OnDiskError(DiskError error, std::uint64_t freeBytes, std::uint64_t requiredBytes) = 0;
};

}  // namespace kx
