#pragma once
// The destination file of a segmented download, shared by every segment
// thread: each block is written at its final offset, one block at a time.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/random_access_file.h"

namespace kx {

class DownloadWriter {
 public:
  // How Prepare may give the file its size.
  enum class Allocation { Fast, WriteLastByte };

  explicit DownloadWriter(std::wstring path, Allocation allocation = Allocation::Fast);

  // Makes the destination exist at exactly `size` bytes and opens it. An
  // existing file of that size is reused unchanged; one of another size is
  // replaced. New space is reserved without writing it where the file system
  // can; a file system that cannot reserve space gets the last byte written as
  // 0xFF instead. NoSpace when the volume has no room for the file, Failed
  // when it cannot be created or opened.
  platform::FileStatus Prepare(std::uint64_t size);

  // Writes `length` bytes at `offset`; not Ok when any byte could not be
  // written. A failure never makes later writes look successful.
  platform::FileStatus Write(std::uint64_t offset, const void* data, std::uint64_t length);

  // Makes every byte written so far reach the disk, so that a resume record
  // may count it. False when that cannot be promised (then or ever after: a
  // failed flush may have lost data). Writes go on while it waits for the disk.
  bool Flush();

  // Flushes and closes; not Ok when written bytes may not have reached the disk.
  platform::FileStatus Close();

  const std::wstring& path() const { return path_; }

 private:
  platform::FileStatus createAtSize(std::uint64_t size);

  std::wstring path_;
  Allocation allocation_;
  std::mutex lock_;
  std::condition_variable flushEnded_;
  platform::RandomAccessFile file_;
  bool unflushed_ = false;  // bytes written since the last flush began
  bool lost_ = false;       // a flush or close failed: written bytes may be gone
  int flushing_ = 0;        // flushes under way without the lock; the file stays open for them
};

}  // namespace kx
