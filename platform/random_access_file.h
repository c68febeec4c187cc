#pragma once
// A file that several threads write at arbitrary offsets.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kx::platform {

class RandomAccessFile {
 public:
  enum class Mode { OpenExisting, CreateOrTruncate };

  RandomAccessFile() = default;
  ~RandomAccessFile();
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;

  // Opens for reading and writing; closes whatever was open before.
  bool open(const std::wstring& path, Mode mode);
  bool isOpen() const { return fd_ >= 0; }
  void close();

  // Writes all `length` bytes at `offset`; false when any of them could not be written.
  bool writeAt(std::uint64_t offset, const void* data, std::size_t length);

  // Gives the file `size` bytes without writing them (allocateFast of volume.h).
  bool reserve(std::uint64_t size);

 private:
  int fd_ = -1;
};

}  // namespace kx::platform
