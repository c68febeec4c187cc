#include "download/downloader.h"

#include <curl/curl.h>

#include <chrono>
#include <filesystem>

#include "download/download_writer.h"
#include "download/range_probe.h"
#include "download/segment_plan.h"
#include "download/segment_worker.h"
#include "platform/codepage.h"
#include "platform/system_info.h"

namespace kx {

namespace {

std::string fileNameOf(const std::wstring& path) {
  const std::filesystem::path file(path);
  const std::wstring name = file.filename().wstring();
  return platform::wideToFileSystem(name.empty() ? path : name);
}

// Progress in a record means something only for the file it was written with.
bool destinationHasSize(const std::wstring& path, std::uint64_t size) {
  std::error_code ec;
  const std::uintmax_t actual = std::filesystem::file_size(platform::wideToFileSystem(path), ec);
  return !ec && actual == size;
}

bool usable(const ResumeRecord& record) {
  return record.supportResume && !record.range.empty() && destinationHasSize(record.dst, record.size);
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

ResumeRecord Downloader::PlanOrResume(const std::string& url, const std::wstring& path, std::uint64_t size) {
  ResumeRecord local;
  if (LoadResumeRecord(recordPath, local) && usable(local)) return local;
  local = ResumeRecord{};
  local.dst = path;
  local.url = url;
  local.supportResume = ProbeRangeSupport(url);
  local.size = size;
  local.range = PlanSegments(fileNameOf(path), size, local.supportResume, platform::processorCount());
  return local;
}

void Downloader::Download(const std::string& url, const std::wstring& path, std::uint64_t size, const std::string&) {
  EndRun();
  recordPath = ResumeRecordPath(path);
  ResumeRecord local = PlanOrResume(url, path, size);
  local.writer = std::make_shared<DownloadWriter>(local.dst);
  local.writer->Prepare(local.size);
  {
    std::lock_guard guard(progressLock);
    record = std::move(local);
    dstNarrow = platform::wideToFileSystem(record.dst);
    lastPercent = 0;
    finishing = false;
    failedSegments = 0;
    taskCount = static_cast<std::int32_t>(record.range.size());
  }
  bool started = false;
  for (ResumeSegment& segment : record.range) {
    if (segment.bFinished) {
      OnBytes(0, segment.tmp);
      continue;
    }
    auto slot = std::make_unique<WorkerSlot>();
    slot->worker = std::make_unique<SegmentWorker>(this, record.writer);
    slot->segment = &segment;
    WorkerSlot* raw = slot.get();
    std::lock_guard guard(workersLock);
    workers.push_back(std::move(slot));
    raw->thread = std::thread(&Downloader::SegmentLoop, this, url, raw);
    started = true;
  }
  if (!started) {
    record.writer->Close();
    OnFinished(record.range.front().tmp);
  }
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

void Downloader::SegmentLoop(std::string url, WorkerSlot* slot) {
  while (!stopRequested) {
    if (slot->worker->Run(url, BeginAttempt(slot)) || stopRequested) return;
    MarkFailed(slot);
    std::uint64_t generation;
    {
      std::lock_guard guard(waitLock);
      generation = resumeGeneration;
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
    writer->Close();
    saver.Flush();  // a finished file has a finished record on disk
    callback->OnFinished(path);
  });
}

// Called under progressLock, so the snapshots reach the saver in order.
void Downloader::SaveResumeRecord() { saver.Save(recordPath, ResumeRecordText(record)); }

void Downloader::Stop() {
  std::lock_guard guard(workersLock);
  stopRequested = true;
  {
    // Threads waiting for an answer to their failure end too.
    std::lock_guard wait(waitLock);
    waitSignal.notify_all();
  }
  for (const auto& slot : workers) slot->worker->Abort();
  for (const auto& slot : workers) slot->thread.join();
  workers.clear();
  saver.Flush();
}

void Downloader::Resume(bool resume) {
  resumeAllowed = resume;
  std::lock_guard guard(waitLock);
  ++resumeGeneration;
  waitSignal.notify_all();
}

std::int32_t Downloader::GetTaskCount() { return taskCount; }

// Ends the current run, if any, so that the next one starts with fresh flags.
void Downloader::EndRun() {
  Stop();
  if (finisher.joinable()) {
    if (finisher.get_id() == std::this_thread::get_id()) {
      finisher.detach();
    } else {
      finisher.join();
    }
  }
  stopRequested = false;
  waitedOnce = false;
  resumeAllowed = false;
}

}  // namespace kx
