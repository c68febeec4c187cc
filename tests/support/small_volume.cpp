#include "tests/support/small_volume.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace kx::test {

namespace {

std::string sizeOption(std::uint64_t bytes) { return "size=" + std::to_string(bytes); }

}  // namespace

SmallVolume::SmallVolume(const std::filesystem::path& mountPoint, std::uint64_t bytes) : mountPoint(mountPoint) {
  std::error_code ec;
  std::filesystem::create_directories(mountPoint, ec);
  // A namespace of our own keeps the mount from other processes and ends it
  // with this one; without one the destructor still unmounts.
  if (unshare(CLONE_NEWNS) == 0) mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, sizeOption(bytes).c_str()) != 0)
    why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
}

SmallVolume::~SmallVolume() {
  if (mounted()) umount2(mountPoint.c_str(), MNT_DETACH);
}

bool SmallVolume::resize(std::uint64_t bytes) {
  return mounted() && mount(nullptr, mountPoint.c_str(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV,
                            sizeOption(bytes).c_str()) == 0;
}

}  // namespace kx::test
