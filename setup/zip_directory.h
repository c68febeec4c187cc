#pragma once
// The central directory of a zip archive, read on its own: the stored names
// with their UTF-8 flag and Unicode Path field, the sizes, and where each
// entry's local header lies. The extraction takes names, sizes and offsets
// from here (ZIP64 included) and leaves reading the entries' data to
// libarchive, which walks the same directory in the same order.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kx {

struct ZipDirectoryEntry {
  std::string storedName;   // bytes exactly as stored
  bool utf8Name = false;    // general-purpose flag bit 11
  std::string unicodeName;  // UTF-8 name of an Info-ZIP Unicode Path field that matches the stored name, else empty
  std::uint64_t localHeaderOffset = 0;  // corrected for bytes in front of the archive
  std::uint64_t dataOffset = 0;         // where the entry's data starts, after its local header
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
};

// The entries in order of their local headers, which is the order in which
// the archive is read. Every record of the directory counts, however many
// the end record's 16-bit count says (writers without ZIP64 let it wrap).
// Bytes in front of the archive (a self-extractor's program) shift every
// offset, as the directory's own position shows. Nothing when the file is
// not a readable zip archive.
std::optional<std::vector<ZipDirectoryEntry>> readZipDirectory(const std::filesystem::path& archive);

}  // namespace kx
