#pragma once
// A per-user lock named by a string, held by one process at a time. The
// kernel releases it when the holder ends in any way, so a crashed copy never
// leaves a stale lock behind.

#include <memory>
#include <string>

namespace kx::platform {

class InstanceLock {
 public:
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Null when another process holds the lock of that name. When the lock
  // cannot be set up at all (no private folder for it) the caller gets a
  // lock anyway: refusing to start would be worse than a second copy.
  static std::unique_ptr<InstanceLock> acquire(const std::wstring& name);

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace kx::platform
