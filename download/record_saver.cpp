#include "download/record_saver.h"

#include "download/download_writer.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"

namespace kx {

RecordSaver::RecordSaver() : thread_(&RecordSaver::loop, this) {}

RecordSaver::~RecordSaver() {
  {
    std::lock_guard guard(lock_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void RecordSaver::Save(const std::wstring& path, std::string text, std::shared_ptr<DownloadWriter> data) {
  {
    std::lock_guard guard(lock_);
    queued_ = Snapshot{path, std::move(text), std::move(data)};
  }
  changed_.notify_all();
}

void RecordSaver::WaitUntilWritten() {
  std::unique_lock lock(lock_);
  changed_.wait(lock, [this] { return !queued_ && !writing_; });
}

void RecordSaver::loop() {
  std::unique_lock lock(lock_);
  for (;;) {
    changed_.wait(lock, [this] { return queued_ || ending_; });
    if (!queued_) return;
    const Snapshot snapshot = std::move(*queued_);
    queued_.reset();
    writing_ = true;
    lock.unlock();
    // The snapshot was taken after the bytes it counts were written, so a
    // flush now covers them. A failed save is not reported: the next one tries again.
    if (!snapshot.data || snapshot.data->Flush())
      platform::writeFileAtomically(platform::wideToFileSystem(snapshot.path), snapshot.text);
    lock.lock();
    writing_ = false;
    changed_.notify_all();
  }
}

}  // namespace kx
