#pragma once
// The destination file of a segmented download, shared by every segment
// thread: each block is written at its final offset, one block at a time.

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
  // can; elsewhere the last byte is written as 0xFF. Returns whether the file is open.
  bool Prepare(std::uint64_t size);

  // Writes `length` bytes at `offset`. False when the file is not open or any
  // byte could not be written; a failure never makes later writes look successful.
  bool Write(std::uint64_t offset, const void* data, std::uint64_t length);

  void Close();

  const std::wstring& path() const { return path_; }

 private:
  bool createAtSize(std::uint64_t size);

  std::wstring path_;
  Allocation allocation_;
  std::mutex lock_;
  platform::RandomAccessFile file_;
};

}  // namespace kx
