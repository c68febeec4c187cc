#include "tests/support/small_volume.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace kx::test {

namespace {

std::string sizeOption(std::uint64_t bytes) { return "size=" + std::to_string(bytes) + ",mode=0755"; }

}  // namespace

SmallVolume::SmallVolume(std::uint64_t bytes) : ownFolder_(std::in_place) {
  mountPoint_ = ownFolder_->path();
  if (mount("tmpfs", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, sizeOption(bytes).c_str()) != 0)
    why_ = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
}

SmallVolume::SmallVolume(const std::filesystem::path& mountPoint, std::uint64_t bytes) : mountPoint_(mountPoint) {
  std::error_code ec;
  std::filesystem::create_directories(mountPoint_, ec);
  // A namespace of our own keeps the mount from other processes and ends it
  // with this one (possible only while the process has one thread); without
  // one the destructor still unmounts.
  if (unshare(CLONE_NEWNS) == 0) mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
  if (mount("tmpfs", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, sizeOption(bytes).c_str()) != 0)
    why_ = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
}

SmallVolume::~SmallVolume() {
  if (mounted()) umount2(mountPoint_.c_str(), MNT_DETACH);
}

bool SmallVolume::resize(std::uint64_t bytes) {
  return mounted() &&
         mount(nullptr, mountPoint_.c_str(), nullptr, MS_REMOUNT | MS_NOSUID | MS_NODEV, sizeOption(bytes).c_str()) == 0;
}

}  // namespace kx::test
