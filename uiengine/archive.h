#pragma once
// The packed page archive: one read-only block of bytes (compiled into the
// executable) holding every page file under its path.
//
// Format, all integers unsigned 32-bit little-endian:
//   "KXPK" | version (1) | item count N
//   N index records: path length | data offset | data length | path bytes (UTF-8, '/' separated, no leading '/')
//   item data, each at its data offset (counted from the start of the block)
// Paths are unique. The block is read in place: an opened archive keeps
// pointing into the caller's bytes, which must outlive it.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kx::uiengine {

class Archive {
 public:
  // Null when the block is not a well-formed archive.
  static std::unique_ptr<Archive> open(std::span<const std::uint8_t> block);

  // The item's bytes; nullopt when there is no item of that path.
  std::optional<std::span<const std::uint8_t>> item(std::string_view path) const;

  std::size_t size() const { return items_.size(); }

 private:
  Archive() = default;
  std::map<std::string, std::span<const std::uint8_t>, std::less<>> items_;
};

struct ArchiveItem {
  std::string path;
  std::vector<std::uint8_t> data;
};

// Builds an archive block; throws std::invalid_argument for an empty,
// absolute or duplicate path.
std::vector<std::uint8_t> packArchive(const std::vector<ArchiveItem>& items);

}  // namespace kx::uiengine
