#pragma once
// A file that several threads write at arbitrary offsets, and the small-file
// replacement that survives a crash in the middle of a save.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// Replaces the content of `path` with `content` so that a crash or power loss
// leaves either the old or the new content, never a torn file: the text goes
// to `path` + ".tmp", is flushed to the disk, and is renamed over `path`.
bool replaceFileContent(const std::wstring& path, std::string_view content);

// The temporary file replaceFileContent uses for `path`.
std::wstring replacementFileFor(const std::wstring& path);

}  // namespace kx::platform
