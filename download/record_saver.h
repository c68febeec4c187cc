#pragma once
// Writes resume records on a thread of its own, so that segment transfers never
// wait for the disk to take a record; when saves come faster than the disk, the
// newest record wins and the ones in between are skipped.
//
// A record counts bytes of the data file as written; after a power loss it
// must not count bytes that never reached the disk. So the data file is
// flushed before each record is written, and a record whose data cannot be
// flushed is not written at all (the one on disk, counting less, stays).

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kx {

class DownloadWriter;

class RecordSaver {
 public:
  RecordSaver();
  // Writes what is still queued, then ends the thread.
  ~RecordSaver();
  RecordSaver(const RecordSaver&) = delete;
  RecordSaver& operator=(const RecordSaver&) = delete;

  // Queues `text` as the next content of the record file `path`; `data`, when
  // given, is the file whose bytes the record counts.
  void Save(const std::wstring& path, std::string text, std::shared_ptr<DownloadWriter> data);
  // Returns once everything queued so far is written (or skipped).
  void WaitUntilWritten();

 private:
  struct Snapshot {
    std::wstring path;
    std::string text;
    std::shared_ptr<DownloadWriter> data;
  };
  void loop();

  std::mutex lock_;
  std::condition_variable changed_;
  std::optional<Snapshot> queued_;
  bool writing_ = false;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace kx
