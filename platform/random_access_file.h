#pragma once
// A file that several threads write at arbitrary offsets.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx::platform {

// How a file operation ended, in the terms its callers act on.
enum class FileStatus {
  Ok,
  NoSpace,      // the volume is full or the user's quota used up
  Unsupported,  // the file system cannot do this (as reserving space on some)
  Failed,       // anything else
};

class RandomAccessFile {
 public:
  enum class Mode { ReadOnly, OpenExisting, CreateOrTruncate };

  RandomAccessFile() = default;
  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Opens for reading (ReadOnly) or for reading and writing; closes whatever was open before.
  FileStatus open(const std::wstring& path, Mode mode);
  bool isOpen() const { return fd_ >= 0; }
  // Closes the file; not Ok when the system reports that written data may be lost.
  FileStatus close();

  // Writes all `length` bytes at `offset`; not Ok when any of them could not be written.
  FileStatus writeAt(std::uint64_t offset, const void* data, std::size_t length);

  // Makes what was written so far reach the disk (its data, not every attribute).
  FileStatus flush();

  // Reads up to `capacity` bytes at `offset`: the count read, 0 at the end, -1 on an error.
  std::int64_t readAt(std::uint64_t offset, void* buffer, std::size_t capacity);

  // Gives the file `size` bytes without writing them (allocateFast of volume.h).
  FileStatus reserve(std::uint64_t size);

 private:
  int fd_ = -1;
};

}  // namespace kx::platform
