#include "setup/zip_directory.h"

#include <algorithm>
#include <fstream>

#include <zlib.h>

namespace kx {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kDirectorySignature = 0x02014b50;
constexpr std::uint32_t kSignatureRecordSignature = 0x05054b50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::uint64_t kZip64ExtraId = 0x0001;
constexpr std::uint64_t kUnicodePathExtraId = 0x7075;
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
  std::uint64_t size = 0;
  std::uint64_t recordedOffset = 0;  // as the end record states it
  std::uint64_t end = 0;             // where the record that follows the directory starts
};

std::optional<DirectoryLocation> zip64Location(std::ifstream& in, std::uint64_t endOffset) {
  std::string locator;
  if (endOffset < kZip64LocatorSize || !readAt(in, endOffset - kZip64LocatorSize, kZip64LocatorSize, locator))
    return std::nullopt;
  Bytes loc(locator, 0);
  if (loc.take(4) != kZip64LocatorSignature) return std::nullopt;
  loc.skip(4);
  const std::uint64_t recordedEnd = loc.take(8);
  // The ZIP64 end record normally lies right before its locator; its stated
  // offset is off by whatever was put in front of the archive.
  const std::uint64_t locatorOffset = endOffset - kZip64LocatorSize;
  const std::uint64_t beforeLocator = locatorOffset >= kZip64EndSize ? locatorOffset - kZip64EndSize : recordedEnd;
  for (const std::uint64_t at : {beforeLocator, recordedEnd}) {
    std::string record;
    if (!readAt(in, at, kZip64EndSize, record)) continue;
    Bytes z(record, 0);
    if (z.take(4) != kZip64EndSignature) continue;
    z.skip(8 + 2 + 2 + 4 + 4 + 8 + 8);  // record size, versions, disk numbers, entry counts
    DirectoryLocation found;
    found.size = z.take(8);
    found.recordedOffset = z.take(8);
    found.end = at;
    return found;
  }
  return std::nullopt;
}

std::optional<DirectoryLocation> locateDirectory(std::ifstream& in, std::uint64_t fileSize) {
  if (fileSize < kEndSize) return std::nullopt;
  const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndSize + kMaxCommentSize));
  std::string tail;
  if (!readAt(in, fileSize - tailSize, tailSize, tail)) return std::nullopt;
  for (std::size_t pos = tailSize - kEndSize + 1; pos-- > 0;) {
    Bytes end(tail, pos);
    if (end.take(4) != kEndSignature) continue;
    end.skip(4 + 2 + 2);  // disk numbers, entries on this disk, entries: the count may have wrapped
    DirectoryLocation found;
    found.size = end.take(4);
    found.recordedOffset = end.take(4);
    found.end = fileSize - tailSize + pos;
    // ZIP64 records, when there are any, hold the directory's real figures
    // (a writer may add them with the classic fields still in range).
    if (auto zip64 = zip64Location(in, found.end)) return zip64;
    if (found.size == 0xFFFFFFFF || found.recordedOffset == 0xFFFFFFFF) return std::nullopt;
    return found;
  }
  return std::nullopt;
}

// Where the directory really starts: right before the record that follows it,
// or where the end record says when that holds no directory.
std::optional<std::uint64_t> directoryStart(std::ifstream& in, const DirectoryLocation& location) {
  const std::optional<std::uint64_t> candidates[] = {
      location.end >= location.size ? std::optional(location.end - location.size) : std::nullopt,
      location.recordedOffset};
  for (const auto& start : candidates) {
    if (!start || *start > location.end || location.end - *start < location.size) continue;
    if (location.size == 0) return start;
    std::string signature;
    if (readAt(in, *start, 4, signature) && Bytes(signature, 0).take(4) == kDirectorySignature) return start;
  }
  return std::nullopt;
}

// Applies the extra fields of a directory record: the ZIP64 values for the
// fields saturated in the record, and a Unicode Path field whose CRC shows it
// was written for this very stored name.
void applyExtraFields(const std::string& extra, ZipDirectoryEntry& entry) {
  Bytes x(extra, 0);
  while (x.has(4)) {
    const auto id = x.take(2);
    const auto size = static_cast<std::size_t>(x.take(2));
    if (!x.has(size)) return;
    std::string field = x.text(size);
    Bytes f(field, 0);
    if (id == kZip64ExtraId) {
      if (entry.uncompressedSize == 0xFFFFFFFF && f.has(8)) entry.uncompressedSize = f.take(8);
      if (entry.compressedSize == 0xFFFFFFFF && f.has(8)) entry.compressedSize = f.take(8);
      if (entry.localHeaderOffset == 0xFFFFFFFF && f.has(8)) entry.localHeaderOffset = f.take(8);
    } else if (id == kUnicodePathExtraId && f.has(5) && f.take(1) == 1) {
      const auto nameCrc = f.take(4);
      const auto& name = entry.storedName;
      if (nameCrc == crc32(0, reinterpret_cast<const Bytef*>(name.data()), static_cast<uInt>(name.size())))
        entry.unicodeName = f.text(size - 5);
    }
  }
}

}  // namespace

std::optional<std::vector<ZipDirectoryEntry>> readZipDirectory(const std::filesystem::path& archive) {
  std::ifstream in(archive, std::ios::binary);
  if (!in) return std::nullopt;
  in.seekg(0, std::ios::end);
  const auto fileSize = static_cast<std::uint64_t>(in.tellg());
  const auto location = locateDirectory(in, fileSize);
  if (!location) return std::nullopt;
  const auto start = directoryStart(in, *location);
  if (!start) return std::nullopt;
  const std::uint64_t shift = *start - location->recordedOffset;  // wraps for a negative shift; the sums wrap back

  std::string directory;
  if (!readAt(in, *start, static_cast<std::size_t>(location->size), directory)) return std::nullopt;
  std::vector<ZipDirectoryEntry> entries;
  Bytes d(directory, 0);
  while (d.has(4)) {
    const auto signature = d.take(4);
    if (signature == kSignatureRecordSignature) break;  // the directory's digital signature closes it
    if (signature != kDirectorySignature || !d.has(42)) return std::nullopt;
    d.skip(4);  // versions
    ZipDirectoryEntry entry;
    entry.utf8Name = (d.take(2) & 0x0800) != 0;
    d.skip(2 + 4 + 4);  // method, time and date, CRC
    entry.compressedSize = d.take(4);
    entry.uncompressedSize = d.take(4);
    const auto nameLength = static_cast<std::size_t>(d.take(2));
    const auto extraLength = static_cast<std::size_t>(d.take(2));
    const auto commentLength = static_cast<std::size_t>(d.take(2));
    d.skip(2 + 2 + 4);  // disk, internal and external attributes
    entry.localHeaderOffset = d.take(4);
    if (!d.has(nameLength + extraLength + commentLength)) return std::nullopt;
    entry.storedName = d.text(nameLength);
    applyExtraFields(d.text(extraLength), entry);
    entry.localHeaderOffset += shift;
    if (entry.localHeaderOffset >= fileSize) return std::nullopt;
    d.skip(commentLength);
    entries.push_back(std::move(entry));
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.localHeaderOffset < b.localHeaderOffset; });

  // Each entry's data follows its local header, whose name and extra field
  // may differ in length from the directory's. Unbuffered: one small read each.
  std::ifstream headers;
  headers.rdbuf()->pubsetbuf(nullptr, 0);
  headers.open(archive, std::ios::binary);
  for (auto& entry : entries) {
    std::string local;
    if (!readAt(headers, entry.localHeaderOffset, kLocalHeaderSize, local)) return std::nullopt;
    Bytes h(local, 0);
    if (h.take(4) != kLocalHeaderSignature) return std::nullopt;
    h.skip(22);  // versions, flags, method, time and date, CRC, sizes
    const auto nameLength = h.take(2);
    const auto extraLength = h.take(2);
    entry.dataOffset = entry.localHeaderOffset + kLocalHeaderSize + nameLength + extraLength;
  }
  return entries;
}

}  // namespace kx
