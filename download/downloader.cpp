#include "download/downloader.h"

#include <curl/curl.h>

#include <chrono>
#include <filesystem>

#include "download/destination.h"
#include "download/download_writer.h"
#include "download/range_probe.h"
#include "download/segment_plan.h"
#include "download/segment_worker.h"
#include "platform/codepage.h"
#include "platform/system_info.h"

namespace kx {

using platform::FileStatus;

namespace {

DiskError diskErrorOf(FileStatus status) { return status == FileStatus::NoSpace ? DiskError::Full : DiskError::Unwritable; }

// A thread of the run may itself end the run (from a callback); it cannot wait for itself.
void joinUnlessSelf(std::thread& thread) {
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
}

}  // namespace

Downloader::Downloader(IDownloadCallBack* installCallback, IDownloadStateCallBack* stateCallback)
    : installCallback(installCallback), stateCallback(stateCallback) {
  curl_global_init(CURL_GLOBAL_ALL);
}

Downloader::~Downloader() {
  EndRun();
  curl_global_cleanup();
}

std::optional<ResumeRecord> Downloader::PlanOrResume(const std::string& url, const std::wstring& path,
                                                     std::uint64_t size) {
  ResumeRecord loaded;
  const bool fits = LoadResumeRecord(recordPath, loaded) && ResumeRecordFits(loaded, url, path, size);
  if (fits && loaded.validator.empty()) return loaded;
  const RangeProbe probe = ProbeRangeSupport(url, stopRequested);
  if (probe.answer == RangeProbe::Answer::Failed) return std::nullopt;
  // The bytes of a record belong to the file the server had then; another
  // file now (a new validator) starts over rather than mixing the two.
  if (fits && probe.answer == RangeProbe::Answer::Ranges && probe.validator == loaded.validator) return loaded;

  ResumeRecord fresh;
  fresh.dst = path;
  fresh.url = url;
  fresh.supportResume = probe.answer == RangeProbe::Answer::Ranges;
  fresh.validator = probe.validator;
  fresh.size = size;
  fresh.range = PlanSegments(DestinationFileName(path), size, fresh.supportResume, platform::processorCount());
  // The file about to be replaced may have been aria2's; its state no longer describes it.
  std::error_code ec;
  std::filesystem::remove(platform::wideToFileSystem(Aria2ControlFilePath(path)), ec);
  // The record goes to disk before the file is made, so that a file of ours
  // never lies there without the record that says so.
  saver.Save(recordPath, ResumeRecordText(fresh), nullptr);
  saver.WaitUntilWritten();
  return fresh;
}

void Downloader::Download(const std::string& url, const std::wstring& path, std::uint64_t size, const std::string&) {
  EndRun();
  {
    std::lock_guard guard(progressLock);
    record = ResumeRecord{};  // the last run's record stays with its own file
  }
  recordPath = ResumeRecordPath(path);
  taskCount = 1;  // the probe: one request in flight
  starter = std::thread(&Downloader::StartRun, this, url, path, size);
}

void Downloader::StartRun(const std::string& url, const std::wstring& path, std::uint64_t size) {
  while (!stopRequested) {
    std::optional<ResumeRecord> planned = PlanOrResume(url, path, size);
    if (stopRequested) return;
    const std::uint64_t generation = CurrentGeneration();
    if (!planned) {
      // No answer from the server is a lost connection like any other, not a
      // server without ranges.
      stateCallback->OnInterrupted();
      if (!WaitBeforeRetry(generation)) return;
      continue;
    }
    planned->writer = std::make_shared<DownloadWriter>(planned->dst);
    const FileStatus prepared = planned->writer->Prepare(planned->size);
    if (prepared != FileStatus::Ok) {
      ReportDiskError(diskErrorOf(prepared));
      if (!WaitForAnswer(generation)) return;
      continue;
    }
    {
      std::lock_guard guard(progressLock);
      record = std::move(*planned);
      dstNarrow = platform::wideToFileSystem(record.dst);
      lastPercent = 0;
      finishing = false;
      failedSegments = 0;
      taskCount = static_cast<std::int32_t>(record.range.size());
    }
    StartSegments(url);
    return;
  }
}

void Downloader::StartSegments(const std::string& url) {
  bool started = false;
  for (ResumeSegment& segment : record.range) {
    if (segment.bFinished) {
      OnBytes(0, segment.tmp);
      continue;
    }
    auto slot = std::make_unique<WorkerSlot>();
    slot->worker = std::make_unique<SegmentWorker>(this, record.writer, record.size, record.validator);
    slot->segment = &segment;
    WorkerSlot* raw = slot.get();
    std::lock_guard guard(workersLock);
    if (stopRequested) return;
    workers.push_back(std::move(slot));
    raw->thread = std::thread(&Downloader::SegmentLoop, this, url, raw);
    started = true;
  }
  if (!started) OnFinished(record.range.front().tmp);
}

ResumeSegment Downloader::BeginAttempt(WorkerSlot* slot) {
  std::lock_guard guard(progressLock);
  // Without ranges every attempt receives the file from its first byte.
  if (!slot->segment->bRange) slot->segment->seek = 0;
  return *slot->segment;
}

void Downloader::MarkFailed(WorkerSlot* slot) {
  std::lock_guard guard(progressLock);
  if (slot->segment->failed) return;
  slot->segment->failed = true;
  ++failedSegments;
}

std::uint64_t Downloader::CurrentGeneration() {
  std::lock_guard guard(waitLock);
  return resumeGeneration;
}

bool Downloader::WaitBeforeRetry(std::uint64_t generation) {
  std::unique_lock lock(waitLock);
  // Only the first wave of failures waits for an answer; later ones retry on
  // the answer already given.
  if (!waitedOnce) {
    waitSignal.wait(lock, [&] { return resumeGeneration != generation || stopRequested; });
    waitedOnce = true;
  }
  waitSignal.wait_for(lock, std::chrono::milliseconds(500), [&] { return stopRequested.load(); });
  return resumeAllowed && !stopRequested;
}

void Downloader::ReportDiskError(DiskError error) {
  // Every range meets a full disk at about the same time; the person hears it once.
  if (!diskErrorReported.exchange(true)) stateCallback->OnDiskError(error);
}

bool Downloader::WaitForAnswer(std::uint64_t generation) {
  // Trying again on a full disk only fetches the same bytes again: nothing
  // moves before the person has answered.
  std::unique_lock lock(waitLock);
  waitSignal.wait(lock, [&] { return resumeGeneration != generation || stopRequested; });
  return resumeAllowed && !stopRequested;
}

void Downloader::SegmentLoop(std::string url, WorkerSlot* slot) {
  while (!stopRequested) {
    const SegmentOutcome outcome = slot->worker->Run(url, BeginAttempt(slot));
    if (outcome == SegmentOutcome::Done || stopRequested) return;
    MarkFailed(slot);
    const std::uint64_t generation = CurrentGeneration();
    if (outcome == SegmentOutcome::DiskFull) {
      ReportDiskError(DiskError::Full);
      if (!WaitForAnswer(generation)) return;
      continue;
    }
    stateCallback->OnInterrupted();
    if (!WaitBeforeRetry(generation)) return;
  }
}

void Downloader::OnBytes(std::uint64_t bytes, const std::string& segmentId) {
  std::lock_guard guard(progressLock);
  const std::int32_t failedBefore = failedSegments;
  bool matched = false;
  std::uint64_t total = 0;
  for (ResumeSegment& segment : record.range) {
    if (segment.tmp == segmentId) {
      segment.seek += bytes;
      matched = true;
      if (segment.failed) {
        segment.failed = false;
        --failedSegments;
      }
    }
    total += segment.seek;
  }
  if (failedBefore != 0 && failedSegments == 0) stateCallback->OnReconnected();
  if (!matched) return;
  const auto percent = record.size == 0 ? 100u : static_cast<std::uint32_t>(static_cast<double>(total) / record.size * 100.0);
  if (percent != lastPercent) {
    lastPercent = percent;
    SaveResumeRecord();
  }
  installCallback->OnBytes(total, dstNarrow);
}

void Downloader::OnFinished(const std::string& segmentId) {
  std::lock_guard guard(progressLock);
  bool allFinished = true;
  for (ResumeSegment& segment : record.range) {
    if (segment.tmp == segmentId) segment.bFinished = true;
    allFinished = allFinished && segment.bFinished;
  }
  SaveResumeRecord();
  if (!allFinished || finishing) return;
  finishing = true;
  finisher = std::thread([this, writer = record.writer, path = dstNarrow, callback = installCallback] {
    // The file is complete only once every byte has reached the disk.
    const FileStatus closed = writer->Close();
    saver.WaitUntilWritten();  // a finished file has a finished record on disk
    if (closed != FileStatus::Ok) {
      ReportDiskError(diskErrorOf(closed));
      return;
    }
    callback->OnFinished(path);
  });
}

// Called under progressLock, so the snapshots reach the saver in order.
void Downloader::SaveResumeRecord() { saver.Save(recordPath, ResumeRecordText(record), record.writer); }

void Downloader::Stop() {
  {
    std::lock_guard guard(workersLock);
    stopRequested = true;
  }
  {
    // Threads waiting for an answer to their failure end too.
    std::lock_guard wait(waitLock);
    waitSignal.notify_all();
  }
  joinUnlessSelf(starter);
  {
    std::lock_guard guard(workersLock);
    for (const auto& slot : workers) slot->worker->Abort();
    for (const auto& slot : workers) slot->thread.join();
    workers.clear();
  }
  // The report of a completed file belongs to the run: after Stop nothing more comes.
  joinUnlessSelf(finisher);
  {
    // What was written is kept, even before the first percent.
    std::lock_guard guard(progressLock);
    if (record.writer) {
      record.writer->Close();
      SaveResumeRecord();
    }
  }
  saver.WaitUntilWritten();
}

void Downloader::Resume(bool resume) {
  resumeAllowed = resume;
  diskErrorReported = false;
  std::lock_guard guard(waitLock);
  ++resumeGeneration;
  waitSignal.notify_all();
}

std::int32_t Downloader::GetTaskCount() { return taskCount; }

// Ends the current run, if any, so that the next one starts with fresh flags.
void Downloader::EndRun() {
  Stop();
  stopRequested = false;
  waitedOnce = false;
  resumeAllowed = false;
  diskErrorReported = false;
}

}  // namespace kx
