#pragma once
// Writes resume records on a thread of its own, so that segment transfers never
// wait for the disk to take a record; when saves come faster than the disk, the
// newest record wins and the ones in between are skipped.

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kx {

class RecordSaver {
 public:
  RecordSaver();
  // Writes what is still queued, then ends the thread.
  ~RecordSaver();
  RecordSaver(const RecordSaver&) = delete;
  RecordSaver& operator=(const RecordSaver&) = delete;

  // Queues `text` as the next content of the record file `path`.
  void Save(const std::wstring& path, std::string text);
  // Returns once everything queued so far is written.
  void Flush();

 private:
  struct Snapshot {
    std::wstring path;
    std::string text;
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
