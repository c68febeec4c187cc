#include "platform/random_access_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/codepage.h"
#include "platform/volume.h"

namespace kx::platform {

namespace {

FileStatus statusOf(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return FileStatus::NoSpace;
    case EOPNOTSUPP:
    case ENOSYS:
      return FileStatus::Unsupported;
    default:
      return FileStatus::Failed;
  }
}

bool writeAll(int fd, const char* data, std::size_t length, std::uint64_t offset) {
  while (length > 0) {
    const ssize_t n = ::pwrite(fd, data, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;  // no progress and no reason given
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

RandomAccessFile::~RandomAccessFile() { close(); }

FileStatus RandomAccessFile::open(const std::wstring& path, Mode mode) {
  close();
  const int access = mode == Mode::ReadOnly ? O_RDONLY : O_RDWR;
  const int flags = access | O_CLOEXEC | (mode == Mode::CreateOrTruncate ? O_CREAT | O_TRUNC : 0);
  fd_ = ::open(wideToFileSystem(path).c_str(), flags, 0644);
  return fd_ >= 0 ? FileStatus::Ok : statusOf(errno);
}

FileStatus RandomAccessFile::close() {
  if (fd_ < 0) return FileStatus::Ok;
  const int fd = fd_;
  fd_ = -1;
  // The descriptor is gone even when close reports an error; it must not be closed twice.
  return ::close(fd) == 0 ? FileStatus::Ok : statusOf(errno);
}

FileStatus RandomAccessFile::writeAt(std::uint64_t offset, const void* data, std::size_t length) {
  if (fd_ < 0) return FileStatus::Failed;
  return writeAll(fd_, static_cast<const char*>(data), length, offset) ? FileStatus::Ok : statusOf(errno);
}

FileStatus RandomAccessFile::flush() {
  if (fd_ < 0) return FileStatus::Failed;
  return ::fdatasync(fd_) == 0 ? FileStatus::Ok : statusOf(errno);
}

std::int64_t RandomAccessFile::readAt(std::uint64_t offset, void* buffer, std::size_t capacity) {
  if (fd_ < 0) return -1;
  for (;;) {
    const ssize_t n = ::pread(fd_, buffer, capacity, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

FileStatus RandomAccessFile::reserve(std::uint64_t size) {
  if (fd_ < 0) return FileStatus::Failed;
  return allocateFast(fd_, size) ? FileStatus::Ok : statusOf(errno);
}

}  // namespace kx::platform
