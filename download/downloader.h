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
#include <optional>
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

  // Returns at once; a thread of the run asks the server about the file, plans
  // or resumes, prepares the file and starts the segment threads. A server
  // that cannot be reached is an interruption, a disk that cannot take the
  // file a disk error; either waits for Resume and then tries again.
  void Download(const std::string& url, const std::wstring& path, std::uint64_t size, const std::string& md5) override;
  // Ends the run: joins every thread of it, including the one that reports a
  // completed file, and saves the record.
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

  void StartRun(const std::string& url, const std::wstring& path, std::uint64_t size);
  // The record to continue, or a fresh plan (already saved); nothing when the
  // server could not be asked about the file.
  std::optional<ResumeRecord> PlanOrResume(const std::string& url, const std::wstring& path, std::uint64_t size);
  void StartSegments(const std::string& url);
  void SegmentLoop(std::string url, WorkerSlot* slot);
  ResumeSegment BeginAttempt(WorkerSlot* slot);
  void MarkFailed(WorkerSlot* slot);
  std::uint64_t CurrentGeneration();
  // After an interruption: the first wave waits for an answer, later ones
  // retry on the answer already given.
  bool WaitBeforeRetry(std::uint64_t generation);
  // After a disk error: always waits for a new answer.
  void ReportDiskError(DiskError error);
  bool WaitForAnswer(std::uint64_t generation);
  void SaveResumeRecord();
  void EndRun();

  std::thread starter;  // asks, plans, prepares and starts the segments of a run
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
  std::atomic<bool> diskErrorReported{false};  // one report until the next Resume
  IDownloadStateCallBack* stateCallback;
  std::atomic<std::int32_t> failedSegments{0};
  std::atomic<std::int32_t> taskCount{0};
};

}  // namespace kx
