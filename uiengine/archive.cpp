#include "uiengine/archive.h"

#include <cstring>
#include <set>
#include <stdexcept>

namespace kx::uiengine {

namespace {

constexpr char kMagic[4] = {'K', 'X', 'P', 'K'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kRecordSize = 12;

std::uint32_t readU32(std::span<const std::uint8_t> block, std::size_t at) {
  return static_cast<std::uint32_t>(block[at]) | static_cast<std::uint32_t>(block[at + 1]) << 8 |
         static_cast<std::uint32_t>(block[at + 2]) << 16 | static_cast<std::uint32_t>(block[at + 3]) << 24;
}

void appendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

std::unique_ptr<Archive> Archive::open(std::span<const std::uint8_t> block) {
  if (block.size() < kHeaderSize || std::memcmp(block.data(), kMagic, 4) != 0 || readU32(block, 4) != kVersion)
    return nullptr;
  const std::uint32_t count = readU32(block, 8);
  std::unique_ptr<Archive> archive(new Archive);
  std::size_t at = kHeaderSize;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (block.size() - at < kRecordSize) return nullptr;
    const std::size_t pathLength = readU32(block, at);
    const std::size_t offset = readU32(block, at + 4);
    const std::size_t length = readU32(block, at + 8);
    at += kRecordSize;
    if (block.size() - at < pathLength || offset > block.size() || length > block.size() - offset) return nullptr;
    std::string path(reinterpret_cast<const char*>(block.data() + at), pathLength);
    at += pathLength;
    if (!archive->items_.emplace(std::move(path), block.subspan(offset, length)).second) return nullptr;
  }
  return archive;
}

std::optional<std::span<const std::uint8_t>> Archive::item(std::string_view path) const {
  const auto it = items_.find(path);
  if (it == items_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::uint8_t> packArchive(const std::vector<ArchiveItem>& items) {
  std::set<std::string_view> seen;
  std::size_t indexSize = kHeaderSize;
  for (const auto& item : items) {
    if (item.path.empty() || item.path.front() == '/') throw std::invalid_argument("bad archive path: " + item.path);
    if (!seen.insert(item.path).second) throw std::invalid_argument("duplicate archive path: " + item.path);
    indexSize += kRecordSize + item.path.size();
  }
  std::vector<std::uint8_t> out(kMagic, kMagic + 4);
  appendU32(out, kVersion);
  appendU32(out, static_cast<std::uint32_t>(items.size()));
  std::size_t offset = indexSize;
  for (const auto& item : items) {
    appendU32(out, static_cast<std::uint32_t>(item.path.size()));
    appendU32(out, static_cast<std::uint32_t>(offset));
    appendU32(out, static_cast<std::uint32_t>(item.data.size()));
    out.insert(out.end(), item.path.begin(), item.path.end());
    offset += item.data.size();
  }
  if (offset > UINT32_MAX) throw std::invalid_argument("archive larger than 4 GiB");
  for (const auto& item : items) out.insert(out.end(), item.data.begin(), item.data.end());
  return out;
}

}  // namespace kx::uiengine
