#pragma once
// A real small file system for tests of what a full disk does.

#include <cstdint>
#include <filesystem>
#include <string>

namespace kx::test {

// A tmpfs of `bytes` mounted on `mountPoint` (which it creates) in a mount
// namespace of this process's own, so it vanishes with the process even if a
// test dies. Only root may mount: check mounted() and skip with why()
// otherwise.
class SmallVolume {
 public:
  SmallVolume(const std::filesystem::path& mountPoint, std::uint64_t bytes);
  ~SmallVolume();
  SmallVolume(const SmallVolume&) = delete;
  SmallVolume& operator=(const SmallVolume&) = delete;

  bool mounted() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  // Grows or shrinks the volume in place, keeping its files ("freeing space").
  bool resize(std::uint64_t bytes);

 private:
  std::filesystem::path mountPoint;
  std::string why_;
};

}  // namespace kx::test
