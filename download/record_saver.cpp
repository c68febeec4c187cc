#include "download/record_saver.h"

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

void RecordSaver::Save(const std::wstring& path, std::string text) {
  {
    std::lock_guard guard(lock_);
    queued_ = Snapshot{path, std::move(text)};
  }
  changed_.notify_all();
}

void RecordSaver::Flush() {
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
    // A failed save is not reported: the next one tries again.
    platform::writeFileAtomically(platform::wideToFileSystem(snapshot.path), snapshot.text);
    lock.lock();
    writing_ = false;
    changed_.notify_all();
  }
}

}  // namespace kx
