#pragma once
// Facts about the volume that holds a path, and fast space reservation on it.

#include <cstdint>
#include <optional>
#include <string>

namespace kx::platform {

// Name of the file system holding `path` ("ext4", "tmpfs", "vfat", ...), empty when unknown.
std::string fileSystemType(const std::wstring& path);

// Whether that file system reserves space without writing it (as NTFS does with
// the volume-maintenance privilege): ext4, xfs, btrfs, tmpfs and the like.
bool supportsFastAllocation(const std::wstring& path);

// Reserves `size` bytes for the open file `fd` without zero-filling them; the
// file's length becomes at least `size`. False when the file system cannot.
bool allocateFast(int fd, std::uint64_t size);

// Whether `path` can name a place on this system's volumes. A path in drive
// form ("D:\..." or "D:/...") names a volume that does not exist here.
bool namesKnownVolume(const std::wstring& path);

// Bytes available to the user on the volume holding `path`; nothing when the
// path names no known volume or its nearest existing parent cannot be examined.
std::optional<std::uint64_t> freeDiskSpace(const std::wstring& path);

}  // namespace kx::platform
