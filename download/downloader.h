#pragma once
// The segmented HTTP(S) engine: splits a file into up to nine byte ranges that
// separate threads fetch at once, writes every block at its final offset, keeps
// the plan and the progress in the resume record beside the file, and retries
// failed ranges when told to.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download/interfaces.h"
#include "download/record_saver.h"
#include "download/resume_record.h"

namespace kx {

class SegmentWorker;

class Downloader : public IDownload, public IDownloadCallBack {
 public:
  // Both callbacks are the install manager's; they must outlive the downloader.
  Downloader(IDownloadCallBack* installCallback, IDownloadStateCallBack* stateCallback);
  ~Downloader() override;
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  void Download(const std::string& url, const std::wstring& path, std::uint64_t size, const std::string& md5) override;
  void Stop() override;
  void Resume(bool resume) override;
  std::int32_t GetTaskCount() override;

  // What the segment workers report.
  void OnTaskStart(const std::string&) override {}
  void OnProgress(std::int32_t, std::uint32_t, const std::string&) override {}
  void OnBytes(std::uint64_t bytes, const std::string& segmentId) override;
  void OnFinished(const std::string& segmentId) override;

 private:
  struct WorkerSlot {
    std::thread thread;
    std::unique_ptr<SegmentWorker> worker;
    ResumeSegment* segment;
  };

  ResumeRecord PlanOrResume(const std::string& url, const std::wstring& path, std::uint64_t size);
  void SegmentLoop(std::string url, WorkerSlot* slot);
  ResumeSegment BeginAttempt(WorkerSlot* slot);
  void MarkFailed(WorkerSlot* slot);
  bool WaitBeforeRetry(std::uint64_t resumeGeneration);
  void SaveResumeRecord();
  void EndRun();

  std::mutex workersLock;
  std::vector<std::unique_ptr<WorkerSlot>> workers;
  std::thread finisher;

  std::mutex progressLock;
  std::uint32_t lastPercent = 0;
  ResumeRecord record;
  std::wstring recordPath;
  std::string dstNarrow;
  bool finishing = false;
  IDownloadCallBack* installCallback;
  RecordSaver saver;

  std::atomic<bool> stopRequested{false};
  std::mutex waitLock;
  std::condition_variable waitSignal;
  std::atomic<bool> waitedOnce{false};
  std::atomic<bool> resumeAllowed{false};
  std::uint64_t resumeGeneration = 0;  // counts Resume calls, under waitLock
  IDownloadStateCallBack* stateCallback;
  std::atomic<std::int32_t> failedSegments{0};
  std::atomic<std::int32_t> taskCount{0};
};

}  // namespace kx
