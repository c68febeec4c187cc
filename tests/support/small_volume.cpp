#include "tests/support/small_volume.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace kx::test {

SmallVolume::SmallVolume(std::uint64_t bytes) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = ::mount("tmpfs", mountPoint_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  if (!mounted_) failure_ = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
}

SmallVolume::~SmallVolume() {
  if (mounted_) ::umount2(mountPoint_.path().c_str(), MNT_DETACH);
}

}  // namespace kx::test
