#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/strings.h"

namespace kx::platform {

namespace {

// A folder only this user can write: $XDG_RUNTIME_DIR, else /tmp/kx-<uid>
// created mode 0700. An existing folder of another owner, or a symbolic link
// planted there, is refused, so no other user can hold or squat our lock.
std::string privateLockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') return runtime;
  const std::string folder = "/tmp/kx-" + std::to_string(getuid());
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
      (info.st_mode & 077) != 0)
    return {};
  return folder;
}

}  // namespace

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::wstring& name) {
  const std::string folder = privateLockFolder();
  if (folder.empty()) return std::unique_ptr<InstanceLock>(new InstanceLock(-1));
  const std::string path = folder + "/" + toUtf8(name) + ".lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return std::unique_ptr<InstanceLock>(new InstanceLock(-1));
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? nullptr : std::unique_ptr<InstanceLock>(new InstanceLock(-1));
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

}  // namespace kx::platform
