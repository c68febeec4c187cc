#include "platform/random_access_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

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

std::wstring replacementFileFor(const std::wstring& path) { return path + L".tmp"; }

bool replaceFileContent(const std::wstring& path, std::string_view content) {
  const std::string target = wideToFileSystem(path);
  const std::string temporary = wideToFileSystem(replacementFileFor(path));
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = writeAll(fd, content.data(), content.size(), 0) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kx::platform
