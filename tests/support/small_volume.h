#pragma once
// A real small file system (a tmpfs) for tests of what a full disk does.
// Mounting needs root, as the CI runs tests; elsewhere the volume is not
// available: check mounted() and skip with why().

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/test_server.h"

namespace kx::test {

class SmallVolume {
 public:
  // Mounted on a temporary folder of its own.
  explicit SmallVolume(std::uint64_t bytes);
  // Mounted on `mountPoint`, which it creates.
  SmallVolume(const std::filesystem::path& mountPoint, std::uint64_t bytes);
  // Unmounts; whatever is on the volume goes with it.
  ~SmallVolume();
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;

  bool mounted() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  std::string path() const { return mountPoint_.string(); }
  std::string file(const std::string& name) const { return (mountPoint_ / name).string(); }
  // Grows or shrinks the volume in place, keeping its files ("freeing space").
  bool resize(std::uint64_t bytes);

 private:
  std::optional<TempDir> ownFolder_;
  std::filesystem::path mountPoint_;
  std::string why_;
};

}  // namespace kx::test
