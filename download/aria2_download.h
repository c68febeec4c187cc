#pragma once
// The engine that hands a whole transfer to aria2, which ships beside the
// installer as InstallerHelper.exe: one hidden child per run, its console
// output read through a pipe, its summary lines turned into OnProgress and its
// completion message into OnFinished. aria2 keeps its own resume state in the
// control file (destination + ".aria2"); the engine only asks whether it exists.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "download/interfaces.h"

namespace kx {

namespace platform {
class Subprocess;
}

// The helper's file name; the engine factory uses this engine only when the
// current folder holds a file of this name.
inline constexpr char kAria2HelperFile[] = "InstallerHelper.exe";

// The command line that starts the helper for destination `path` and `url`.
std::wstring aria2CommandLine(const std::wstring& path, const std::wstring& url);

class CAria2Download final : public IDownload {
 public:
  CAria2Download(IDownloadCallBack* installCallback, IDownloadStateCallBack* stateCallback);
  // Stops the run and waits for its job, so no callback outlives the engine.
  ~CAria2Download() override;

  void Download(const std::string& url, const std::wstring& path, std::uint64_t size, const std::string& md5) override;
  // Ends the current run at once; the run reports nothing afterwards.
  void Stop() override;
  void Resume(bool resume) override;
  // 1 from the first start of the child until Stop, else 0.
  std::int32_t GetTaskCount() override;

  // One line of the child's output: a summary line becomes OnProgress, the
  // completion message marks the run complete.
  void ParseAria2Line(const std::string& line);

 private:
  std::int32_t RunAria2(void* unused);
  void transfer();
  void report();

  IDownloadCallBack* const installCallback_;
  IDownloadStateCallBack* const stateCallback_;
  std::wstring url_;
  std::wstring path_;
  std::string narrowPath_;
  std::uint64_t size_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  bool completed_ = false;

  std::mutex jobLock_;
  std::condition_variable jobEnded_;
  int activeJobs_ = 0;                      // guarded by jobLock_
  platform::Subprocess* child_ = nullptr;  // guarded by jobLock_; the running child, for Stop
};

}  // namespace kx
