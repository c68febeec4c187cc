#include "tests/support/full_disk.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

namespace kx::test {

namespace {

std::mutex lock;
std::atomic<bool> armed{false};
std::string fullFolder;     // with a trailing separator
std::uint64_t bytesLeft = 0;

bool below(int fd, const std::string& folder) {
  char target[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = readlink(link.c_str(), target, sizeof target);
  return n > 0 && std::string(target, static_cast<std::size_t>(n)).starts_with(folder);
}

}  // namespace

FullDisk::FullDisk(const std::filesystem::path& folder, std::uint64_t freeBytes) {
  std::lock_guard guard(lock);
  fullFolder = std::filesystem::weakly_canonical(folder).string() + "/";
  bytesLeft = freeBytes;
  armed = true;
}

FullDisk::~FullDisk() { armed = false; }

}  // namespace kx::test

// Every write() of the process comes here first (libarchive's, the C++
// streams', our own), because the executable's definition wins over the C
// library's.
extern "C" ssize_t write(int fd, const void* data, size_t size) {
  using namespace kx::test;
  if (armed && size > 0 && fd > 2) {
    std::lock_guard guard(lock);
    if (armed && below(fd, fullFolder)) {
      if (bytesLeft == 0) {
        errno = ENOSPC;
        return -1;
      }
      size = static_cast<size_t>(std::min<std::uint64_t>(size, bytesLeft));
      bytesLeft -= size;
    }
  }
  return syscall(SYS_write, fd, data, size);
}
