#include "setup/zip_directory.h"

#include <algorithm>
#include <fstream>

namespace kx {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kDirectorySignature = 0x02014b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;

class Bytes {
 public:
  Bytes(const std::string& data, std::size_t at) : data(data), at(at) {}
  bool has(std::size_t n) const { return at <= data.size() && data.size() - at >= n; }
  std::uint64_t take(std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data[at + i])) << (8 * i);
    at += n;
    return v;
  }
  std::string text(std::size_t n) {
    std::string s = data.substr(at, n);
    at += n;
    return s;
  }
  void skip(std::size_t n) { at += n; }
  std::size_t position() const { return at; }

 private:
  const std::string& data;
  std::size_t at;
};

bool readAt(std::ifstream& in, std::uint64_t offset, std::size_t size, std::string& out) {
  out.assign(size, '\0');
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(out.data(), static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in.gcount()) == size;
}

struct DirectoryLocation {
  std::uint64_t entries = 0;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;
};

std::optional<DirectoryLocation> locateDirectory(std::ifstream& in, std::uint64_t fileSize) {
  if (fileSize < kEndSize) return std::nullopt;
  const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndSize + kMaxCommentSize));
  std::string tail;
  if (!readAt(in, fileSize - tailSize, tailSize, tail)) return std::nullopt;
  for (std::size_t pos = tailSize - kEndSize + 1; pos-- > 0;) {
    Bytes end(tail, pos);
    if (end.take(4) != kEndSignature) continue;
    end.skip(4);  // disk numbers
    end.skip(2);
    DirectoryLocation found;
    found.entries = end.take(2);
    found.size = end.take(4);
    found.offset = end.take(4);
    const std::uint64_t endOffset = fileSize - tailSize + pos;
    if (found.entries != 0xFFFF && found.size != 0xFFFFFFFF && found.offset != 0xFFFFFFFF) return found;
    // ZIP64: the locator sits right before the classic end record.
    std::string locator;
    if (endOffset < 20 || !readAt(in, endOffset - 20, 20, locator)) return std::nullopt;
    Bytes loc(locator, 0);
    if (loc.take(4) != kZip64LocatorSignature) return std::nullopt;
    loc.skip(4);
    const std::uint64_t zip64End = loc.take(8);
    std::string record;
    if (!readAt(in, zip64End, 56, record)) return std::nullopt;
    Bytes z(record, 0);
    if (z.take(4) != kZip64EndSignature) return std::nullopt;
    z.skip(8 + 2 + 2 + 4 + 4 + 8);
    found.entries = z.take(8);
    found.size = z.take(8);
    found.offset = z.take(8);
    return found;
  }
  return std::nullopt;
}

// Applies the ZIP64 extended-information field to the values saturated in
// the directory record.
void applyZip64Extra(const std::string& extra, std::uint64_t& uncompressed, ZipDirectoryEntry& entry) {
  Bytes x(extra, 0);
  while (x.has(4)) {
    const auto id = x.take(2);
    const auto size = static_cast<std::size_t>(x.take(2));
    if (!x.has(size)) return;
    if (id != 0x0001) {
      x.skip(size);
      continue;
    }
    std::string field = x.text(size);
    Bytes f(field, 0);
    if (uncompressed == 0xFFFFFFFF && f.has(8)) uncompressed = f.take(8);
    if (entry.compressedSize == 0xFFFFFFFF && f.has(8)) entry.compressedSize = f.take(8);
    if (entry.localHeaderOffset == 0xFFFFFFFF && f.has(8)) entry.localHeaderOffset = f.take(8);
    return;
  }
}

}  // namespace

std::optional<std::vector<ZipDirectoryEntry>> readZipDirectory(const std::filesystem::path& archive) {
  std::ifstream in(archive, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const auto fileSize = static_cast<std::uint64_t>(in.tellg());
  const auto location = locateDirectory(in, fileSize);
  if (!location || location->offset > fileSize || location->size > fileSize - location->offset) return std::nullopt;

  std::string directory;
  if (!readAt(in, location->offset, static_cast<std::size_t>(location->size), directory)) return std::nullopt;
  std::vector<ZipDirectoryEntry> entries;
  Bytes d(directory, 0);
  for (std::uint64_t i = 0; i < location->entries; ++i) {
    if (!d.has(46) || d.take(4) != kDirectorySignature) return std::nullopt;
    d.skip(4);  // versions
    ZipDirectoryEntry entry;
    entry.utf8Name = (d.take(2) & 0x0800) != 0;
    d.skip(2 + 4 + 4);  // method, time and date, CRC
    entry.compressedSize = d.take(4);
    std::uint64_t uncompressed = d.take(4);
    const auto nameLength = static_cast<std::size_t>(d.take(2));
    const auto extraLength = static_cast<std::size_t>(d.take(2));
    const auto commentLength = static_cast<std::size_t>(d.take(2));
    d.skip(2 + 2 + 4);  // disk, internal and external attributes
    entry.localHeaderOffset = d.take(4);
    if (!d.has(nameLength + extraLength + commentLength)) return std::nullopt;
    entry.storedName = d.text(nameLength);
    applyZip64Extra(d.text(extraLength), uncompressed, entry);
    d.skip(commentLength);
    entries.push_back(std::move(entry));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.localHeaderOffset < b.localHeaderOffset; });
  return entries;
}

}  // namespace kx
