#pragma once
// A file system of a few megabytes of its own (a tmpfs), for tests of what a
// full disk does. Mounting needs root, as the CI runs tests; elsewhere the
// volume is not available and the test says so and skips.

#include <cstdint>
#include <string>

#include "tests/support/test_server.h"

namespace kx::test {

class SmallVolume {
 public:
  explicit SmallVolume(std::uint64_t bytes);
  // Unmounts; whatever is on the volume goes with it.
  ~SmallVolume();
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;

  bool mounted() const { return mounted_; }
  // Why the volume could not be mounted.
  const std::string& failure() const { return failure_; }
  const std::string& path() const { return mountPoint_.path(); }
  std::string file(const std::string& name) const { return mountPoint_.file(name); }

 private:
  TempDir mountPoint_;
  bool mounted_ = false;
  std::string failure_;
};

}  // namespace kx::test
