#pragma once
// The engine over the downloader library (libVeloDrift.so, our stand-in for
// the maker's VeloDrift.dll): it sends the library JSON commands and turns the
// library's JSON progress and event messages into the engine callbacks.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "download/interfaces.h"

namespace VeloDrift {
class IVeloDownloadInterface;
}

namespace kx {

// The library's file name; the engine factory uses this engine only when the
// current folder holds a file of this name.
inline constexpr char kDriftLibraryFile[] = "libVeloDrift.so";

// The download command: one JSON object of strings, keys sorted, no whitespace.
std::string driftDownloadCommand(const std::string& url, const std::wstring& path, std::uint64_t size,
                                 const std::string& md5, std::uint64_t downloadId);

// What a progress message asks for; nothing for a message to ignore (no
// downloadid, not an object, not JSON, or a field of the wrong type).
struct DriftProgress {
  std::int32_t percent;
  std::uint32_t bytesPerSecond;
};
std::optional<DriftProgress> readDriftProgress(std::string_view message);

// What an event message means for the transfer.
enum class DriftEvent { Ignored, Finished, Failed };
DriftEvent readDriftEvent(std::string_view message);

class CDriftDownload final : public IDownload {
 public:
  CDriftDownload(IDownloadCallBack* installCallback, IDownloadStateCallBack* stateCallback);
  // Cancels whatever the library does and unregisters the listener.
  ~CDriftDownload() override;

  void Download(const std::string& url, const std::wstring& path, std::uint64_t size, const std::string& md5) override;
  void Stop() override;
  void Resume(bool resume) override;
  // 1 from Download until Stop: the library runs one task at a time.
  std::int32_t GetTaskCount() override;

  // The listener's two entry points (called on the library's threads).
  void OnProgressMessage(const char* message);
  void OnEventMessage(const char* message);

 private:
  class CDriftListener;
  void SendDownloadCommand();
  void sendStopCommands();
  std::string destination();

  IDownloadCallBack* const installCallback_;
  IDownloadStateCallBack* const stateCallback_;
  VeloDrift::IVeloDownloadInterface* const library_;
  std::unique_ptr<CDriftListener> listener_;

  std::mutex fieldsLock_;  // the run's fields, read by the library's threads
  std::wstring url_;
  std::wstring path_;
  std::uint64_t size_ = 0;
  std::string md5_;
  std::atomic<bool> running_{false};
  std::atomic<bool> finishedOk_{false};
};

}  // namespace kx
