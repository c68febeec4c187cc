#pragma once
// Fetches one byte range of a segmented download and writes it, block by
// block, at its final offset through the shared writer.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/curl_easy.h"
#include "download/interfaces.h"
#include "download/resume_record.h"

namespace kx {

class DownloadWriter;

// How one transfer attempt of a segment ended.
enum class SegmentOutcome {
  Done,      // the segment is complete, or the worker was aborted: no further attempt
  Failed,    // the connection, the server's answer or a write failed: worth another attempt
  DiskFull,  // the disk has no room for the data: another attempt needs room first
};

class SegmentWorker {
 public:
  // `callback` hears OnTaskStart, OnBytes (each written block) and OnFinished,
  // keyed by segment id. `fileSize` is the size of the whole file, which every
  // partial answer must state; `validator`, when not empty, makes every range
  // request conditional on the file being still the one it names.
  SegmentWorker(IDownloadCallBack* callback, std::shared_ptr<DownloadWriter> writer, std::uint64_t fileSize,
                std::string validator);

  // One transfer attempt for `segment`, continuing from its seek.
  SegmentOutcome Run(const std::string& url, const ResumeSegment& segment);

  // Ends the running transfer promptly and closes the shared file.
  void Abort();

 private:
  static size_t WriteCallback(char* data, size_t size, size_t count, void* worker);
  static int ProgressCallback(void* worker, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  bool configure(CURL* curl, curl_slist*& headers);
  bool answerFits();
  size_t receive(const char* data, size_t length);
  bool flush();
  bool complete() const { return segment_.seek >= segment_.length; }

  std::uint32_t attempt_ = 0;
  const std::uint32_t maxAttempts_ = 1;
  const std::int32_t connectTimeout_ = 15;
  std::string url_;
  std::shared_ptr<DownloadWriter> writer_;
  IDownloadCallBack* callback_;
  const std::uint64_t fileSize_;
  const std::string validator_;
  ResumeSegment segment_;
  std::atomic<bool> aborted_{false};
  CURL* transfer_ = nullptr;  // the running request, for its status
  bool answerChecked_ = false;
  bool diskFull_ = false;
  // Received bytes not yet written; they belong at start + seek. Writing whole
  // pieces of this size instead of libcurl's 16 KiB blocks keeps the shared
  // file and the progress lock free most of the time.
  std::vector<char> pending_;
};

}  // namespace kx
