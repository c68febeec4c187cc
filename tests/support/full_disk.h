#pragma once
// A full disk for every user: while a FullDisk lives, write() to files below
// `folder` stores at most `freeBytes` more bytes in all, then fails with
// ENOSPC, as on a volume that has run out of space. Extending a file without
// writing it still works, as on a real full volume and unlike under a file
// size limit: that is how a writer that misses a failed write ends up with a
// full-size file of zeros. Writes elsewhere pass through. Tests that use it
// link kx_full_disk, which puts its own write() in front of the C library's.

#include <cstdint>
#include <filesystem>

namespace kx::test {

class FullDisk {
 public:
  FullDisk(const std::filesystem::path& folder, std::uint64_t freeBytes);
  ~FullDisk();
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;
};

}  // namespace kx::test
