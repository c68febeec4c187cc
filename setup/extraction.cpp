#include "setup/extraction.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "common/strings.h"
#include "platform/codepage.h"
#include "setup/zip_directory.h"

namespace kx {

namespace {

namespace fs = std::filesystem;

constexpr int kDiskFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT;
constexpr std::size_t kReadBlock = 1 << 20;

struct ReaderDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
  void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;

// The directory record of the entry whose data starts at `dataStart`: the
// last local header before it (an entry without data ends where the next
// header begins, so "at" would name the wrong one).
const ZipDirectoryEntry* recordAt(const std::vector<ZipDirectoryEntry>& directory, std::uint64_t dataStart) {
  auto after = std::lower_bound(directory.begin(), directory.end(), dataStart,
                                [](const ZipDirectoryEntry& e, std::uint64_t at) { return e.localHeaderOffset < at; });
  return after == directory.begin() ? nullptr : &*(after - 1);
}

std::string decodedName(const ZipDirectoryEntry& record) {
  return record.utf8Name ? toUtf8(fromUtf8(record.storedName)) : toUtf8(platform::fileSystemToWide(record.storedName));
}

fs::path onDisk(const std::string& utf8) { return fs::path(platform::wideToFileSystem(fromUtf8(utf8))); }

// A link may point anywhere below the destination, never above it or to an absolute place.
bool linkStaysInside(const std::string& entryPath, const char* target) {
  if (target == nullptr || *target == '\0' || *target == '/') return false;
  const fs::path resolved = (fs::path(entryPath).parent_path() / target).lexically_normal();
  return !resolved.empty() && *resolved.begin() != "..";
}

bool copyData(archive* reader, archive* disk) {
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(reader, &block, &size, &offset);
    if (r == ARCHIVE_EOF) return true;
    if (r != ARCHIVE_OK) return false;  // a CRC or size mismatch comes as a warning
    if (archive_write_data_block(disk, block, size, offset) < ARCHIVE_WARN) return false;
  }
}

bool writeEntry(archive* reader, archive* disk, archive_entry* entry, const fs::path& dest,
                const ZipDirectoryEntry& record) {
  const auto relative = safeEntryPath(decodedName(record));
  if (!relative) return false;
  const auto type = archive_entry_filetype(entry);
  if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) return false;
  if (relative->empty()) return type == AE_IFDIR;  // the destination itself
  if (type == AE_IFLNK && !linkStaysInside(*relative, archive_entry_symlink(entry))) return false;

  const fs::path target = dest / onDisk(*relative);
  archive_entry_copy_pathname(entry, target.c_str());
  if (type == AE_IFREG) archive_entry_set_perm(entry, 0644 | (archive_entry_perm(entry) & 0111));
  if (type == AE_IFDIR) archive_entry_set_perm(entry, 0755);
  if (archive_write_header(disk, entry) < ARCHIVE_WARN) return false;
  if (type == AE_IFREG && !copyData(reader, disk)) return false;
  return archive_write_finish_entry(disk) >= ARCHIVE_WARN;
}

bool extractEntries(const fs::path& archivePath, const fs::path& dest, const std::vector<ZipDirectoryEntry>& directory,
                    std::uint64_t unzipTotalBytes, ITaskCallback* progress) {
  Reader reader(archive_read_new());
  Writer disk(archive_write_disk_new());
  if (!reader || !disk) return false;
  archive_read_support_format_zip_seekable(reader.get());
  archive_write_disk_set_options(disk.get(), kDiskFlags);
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), kReadBlock) != ARCHIVE_OK) return false;
  for (;;) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    if (r < ARCHIVE_WARN) return false;
    // The reader stands at the entry's data once its local header is read.
    const auto dataStart = static_cast<std::uint64_t>(archive_filter_bytes(reader.get(), 0));
    const ZipDirectoryEntry* record = recordAt(directory, dataStart);
    if (record == nullptr) return false;
    if (progress)
      if (const auto percent = extractionPercent(dataStart + record->compressedSize, unzipTotalBytes))
        progress->OnInstallProgress(*percent);
    std::printf("Extracting %s\n", record->storedName.c_str());
    if (!writeEntry(reader.get(), disk.get(), entry, dest, *record)) return false;
  }
  // Folder times are set when the writer closes.
  return archive_write_close(disk.get()) == ARCHIVE_OK;
}

}  // namespace

std::optional<std::int32_t> extractionPercent(std::uint64_t end, std::uint64_t unzipTotalBytes) {
  if (unzipTotalBytes == 0) return std::nullopt;
  return static_cast<std::int32_t>((static_cast<double>(end) * 0.05 / static_cast<double>(unzipTotalBytes) + 0.95) * 100);
}

std::optional<std::string> safeEntryPath(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return std::nullopt;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') return std::nullopt;
  std::string path;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") {
      if (!path.empty()) path += '/';
      path += part;
    }
    start = end + 1;
  }
  return path;
}

bool unzipPackage(const std::wstring& archivePath, const std::wstring& destFolder, const std::string& fromName,
                  const std::string& toName, std::uint64_t unzipTotalBytes, ITaskCallback* progress) {
  const fs::path archive(platform::wideToFileSystem(archivePath));
  const auto directory = readZipDirectory(archive);
  if (!directory) return false;
  std::error_code ec;
  // Resolved first, so the writer's symlink checks see only what the archive creates.
  fs::create_directories(fs::path(platform::wideToFileSystem(destFolder)), ec);
  const fs::path dest = fs::weakly_canonical(fs::path(platform::wideToFileSystem(destFolder)), ec);
  if (ec) return false;
  if (!directory->empty() && !extractEntries(archive, dest, *directory, unzipTotalBytes, progress)) return false;
  const fs::path from = dest / onDisk(fromName);
  if (fs::exists(from, ec)) fs::rename(from, dest / onDisk(toName), ec);  // a failed rename is not an extraction failure
  return true;
}

}  // namespace kx
