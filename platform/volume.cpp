#include "platform/volume.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <map>

#include "platform/codepage.h"

namespace kx::platform {

namespace {

// A path that may not exist yet is judged by its nearest existing parent.
std::string existingAncestor(const std::wstring& path) {
  std::filesystem::path p(wideToFileSystem(path));
  std::error_code ec;
  while (!p.empty() && !std::filesystem::exists(p, ec)) {
    if (p == p.parent_path()) break;
    p = p.parent_path();
  }
  return p.empty() ? std::string(".") : p.string();
}

constexpr long kXfsMagic = 0x58465342;
constexpr long kF2fsMagic = 0xF2F52010;
constexpr long kZfsMagic = 0x2FC12FC1;
constexpr long kOverlayMagic = 0x794C7630;
constexpr long kSmb2Magic = 0xFE534D42;

struct FileSystemInfo {
  const char* name;
  bool fastAllocation;
};

const std::map<long, FileSystemInfo>& knownFileSystems() {
  static const std::map<long, FileSystemInfo> known = {
      {EXT4_SUPER_MAGIC, {"ext4", true}},   {kXfsMagic, {"xfs", true}},        {BTRFS_SUPER_MAGIC, {"btrfs", true}},
      {TMPFS_MAGIC, {"tmpfs", true}},       {kF2fsMagic, {"f2fs", true}},      {kZfsMagic, {"zfs", false}},
      {kOverlayMagic, {"overlay", true}},   {MSDOS_SUPER_MAGIC, {"vfat", false}}, {NFS_SUPER_MAGIC, {"nfs", false}},
      {kSmb2Magic, {"smb2", false}}, {FUSE_SUPER_MAGIC, {"fuse", false}}, {RAMFS_MAGIC, {"ramfs", false}},
  };
  return known;
}

const FileSystemInfo* lookup(const std::wstring& path) {
  struct statfs info {};
  if (statfs(existingAncestor(path).c_str(), &info) != 0) return nullptr;
  const auto it = knownFileSystems().find(static_cast<long>(info.f_type));
  return it == knownFileSystems().end() ? nullptr : &it->second;
}

}  // namespace

std::string fileSystemType(const std::wstring& path) {
  const FileSystemInfo* info = lookup(path);
  return info ? info->name : "";
}

bool supportsFastAllocation(const std::wstring& path) {
  const FileSystemInfo* info = lookup(path);
  return info && info->fastAllocation;
}

bool allocateFast(int fd, std::uint64_t size) {
  return fallocate(fd, 0, 0, static_cast<off_t>(size)) == 0;
}

bool namesKnownVolume(const std::wstring& path) {
  const auto letter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
  const bool driveForm = path.size() >= 2 && letter(path[0]) && path[1] == L':' &&
                         (path.size() == 2 || path[2] == L'\\' || path[2] == L'/');
  return !driveForm;
}

std::optional<std::uint64_t> freeDiskSpace(const std::wstring& path) {
  if (!namesKnownVolume(path)) return std::nullopt;
  struct statvfs info {};
  if (statvfs(existingAncestor(path).c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace kx::platform
