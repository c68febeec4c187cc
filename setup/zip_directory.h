#pragma once
// The central directory of a zip archive, read on its own: the stored names
// with their UTF-8 flag, and where each entry's local header lies. The
// extraction takes names and archive offsets from here (ZIP64 included) and
// leaves reading the entries' data to libarchive.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kx {

struct ZipDirectoryEntry {
  std::string storedName;  // bytes exactly as stored
  bool utf8Name = false;   // general-purpose flag bit 11
  std::uint64_t localHeaderOffset = 0;
  std::uint64_t compressedSize = 0;
};

// The entries in order of their local headers, which is the order in which
// the archive is read. Nothing when the file is not a readable zip archive.
std::optional<std::vector<ZipDirectoryEntry>> readZipDirectory(const std::filesystem::path& archive);

}  // namespace kx
