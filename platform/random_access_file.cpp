#include "platform/random_access_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/codepage.h"
#include "platform/volume.h"

namespace kx::platform {

namespace {

bool writeAll(int fd, const char* data, std::size_t length, std::uint64_t offset) {
  while (length > 0) {
    const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

RandomAccessFile::~RandomAccessFile() { close(); }

bool RandomAccessFile::open(const std::wstring& path, Mode mode) {
  close();
  const int flags = O_RDWR | O_CLOEXEC | (mode == Mode::CreateOrTruncate ? O_CREAT | O_TRUNC : 0);
  fd_ = ::open(wideToFileSystem(path).c_str(), flags, 0644);
  return fd_ >= 0;
}

void RandomAccessFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RandomAccessFile::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
  return fd_ >= 0 && writeAll(fd_, static_cast<const char*>(data), length, offset);
}

bool RandomAccessFile::reserve(std::uint64_t size) { return fd_ >= 0 && allocateFast(fd_, size); }

}  // namespace kx::platform
