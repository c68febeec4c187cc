#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace kx::platform {

namespace {

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::size_t kUniqueLetters = 6;  // mkstemp's XXXXXX

bool writeAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void syncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool sameFile(int fd, const std::string& name) {
  struct stat opened {}, named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(name.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

bool isTemporaryOf(const std::string& name, const std::string& target) {
  if (name.size() != target.size() + kTemporaryMark.size() + kUniqueLetters) return false;
  if (!name.starts_with(target) || name.compare(target.size(), kTemporaryMark.size(), kTemporaryMark) != 0) return false;
  for (std::size_t i = target.size() + kTemporaryMark.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// A new temporary beside `path`, locked for as long as it stays open. The
// lock is taken after the file exists, so a cleaner may have removed it in
// between: then the name no longer leads to it and another is made.
int createLockedTemporary(const std::filesystem::path& path, std::string& name) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    name = path.string() + std::string(kTemporaryMark) + std::string(kUniqueLetters, 'X');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX) == 0 && sameFile(fd, name)) return fd;
    ::close(fd);
  }
  return -1;
}

}  // namespace

void removeAbandonedReplacements(const std::filesystem::path& path) {
  const std::string target = path.filename().string();
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  std::error_code error;
  std::filesystem::directory_iterator entries(folder, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    const std::string name = entries->path().filename().string();
    if (!isTemporaryOf(name, target)) continue;
    const std::string full = entries->path().string();
    const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    // A writer holds its temporary locked until it has renamed or removed it;
    // the lock is free only when that writer is gone.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && sameFile(fd, full)) ::unlink(full.c_str());
    ::close(fd);
  }
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view content) {
  removeAbandonedReplacements(path);
  std::string temporary;
  const int fd = createLockedTemporary(path, temporary);
  if (fd < 0) return false;
  const bool written = writeAll(fd, content) && ::fsync(fd) == 0;
  // mkstemp creates 0600; the replaced file should read like any other file.
  ::fchmod(fd, 0644);
  // The lock is held until the temporary has its final name or is gone.
  const bool replaced = written && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!replaced) ::unlink(temporary.c_str());
  if (::close(fd) != 0 || !replaced) return false;
  syncFolder(path.parent_path());
  return true;
}

}  // namespace kx::platform
