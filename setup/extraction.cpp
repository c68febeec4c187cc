#include "setup/extraction.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/strings.h"
#include "platform/codepage.h"
#include "platform/volume.h"
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

std::string decodedName(const ZipDirectoryEntry& record) {
  // Through wide text and back, so that invalid sequences become U+FFFD rather than raw bytes in a file name.
  if (!record.unicodeName.empty()) return toUtf8(fromUtf8(record.unicodeName));
  return record.utf8Name ? toUtf8(fromUtf8(record.storedName)) : toUtf8(platform::fileSystemToWide(record.storedName));
}

fs::path onDisk(const std::string& utf8) { return fs::path(platform::wideToFileSystem(fromUtf8(utf8))); }

// A link may point anywhere below the destination, never above it or to an absolute place.
bool linkStaysInside(const std::string& entryPath, const char* target) {
  if (target == nullptr || *target == '\0' || *target == '/') return false;
  const fs::path resolved = (fs::path(entryPath).parent_path() / target).lexically_normal();
  return !resolved.empty() && *resolved.begin() != "..";
}

std::string readerError(archive* reader) {
  const char* text = archive_error_string(reader);
  return text ? text : "unreadable archive";
}

// The disk writer's message with the system's words for what went wrong
// ("Write failed: No space left on device").
std::string diskError(archive* disk) {
  const char* text = archive_error_string(disk);
  std::string reason = text ? text : "write failed";
  const int code = archive_errno(disk);
  if (code > 0) {
    const std::string system = std::generic_category().message(code);
    if (reason.find(system) == std::string::npos) reason += ": " + system;
  }
  return reason;
}

// libarchive reports a failed write() as a mere warning (the file it leaves
// is short or full of zeros), so anything but ARCHIVE_OK from the disk writer
// fails the entry.
StepResult copyData(archive* reader, archive* disk, const std::string& name) {
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(reader, &block, &size, &offset);
    if (r == ARCHIVE_EOF) return StepResult::success();
    // A CRC or size mismatch comes as a warning.
    if (r != ARCHIVE_OK) return StepResult::failure(name + ": " + readerError(reader));
    if (archive_write_data_block(disk, block, size, offset) != ARCHIVE_OK)
      return StepResult::failure(name + ": " + diskError(disk));
  }
}

StepResult writeEntry(archive* reader, archive* disk, archive_entry* entry, const fs::path& dest,
                      const ZipDirectoryEntry& record) {
  const std::string name = decodedName(record);
  const auto refuse = [&](const std::string& why) { return StepResult::failure(name + ": " + why); };
  const auto relative = safeEntryPath(name);
  if (!relative) return refuse("the name leaves the destination folder");
  const auto type = archive_entry_filetype(entry);
  if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) return refuse("neither a file, a folder nor a link");
  if (relative->empty()) return type == AE_IFDIR ? StepResult::success() : refuse("names the destination folder");
  if (type == AE_IFLNK && !linkStaysInside(*relative, archive_entry_symlink(entry)))
    return refuse("the link points outside the destination folder");
  // The reader and this directory walk the entries in the same order; a
  // size that differs means they no longer speak of the same entry.
  if (type == AE_IFREG && archive_entry_size_is_set(entry) &&
      static_cast<std::uint64_t>(archive_entry_size(entry)) != record.uncompressedSize)
    return refuse("the entry disagrees with the archive's directory");

  const fs::path target = dest / onDisk(*relative);
  archive_entry_copy_pathname(entry, target.c_str());
  if (type == AE_IFREG) archive_entry_set_perm(entry, 0644 | (archive_entry_perm(entry) & 0111));
  if (type == AE_IFDIR) archive_entry_set_perm(entry, 0755);
  if (archive_write_header(disk, entry) != ARCHIVE_OK) return refuse(diskError(disk));
  if (type == AE_IFREG)
    if (auto copied = copyData(reader, disk, name); !copied) return copied;
  if (archive_write_finish_entry(disk) != ARCHIVE_OK) return refuse(diskError(disk));
  return StepResult::success();
}

StepResult extractEntries(const fs::path& archivePath, const fs::path& dest,
                          const std::vector<ZipDirectoryEntry>& directory, std::uint64_t unzipTotalBytes,
                          ITaskCallback* progress) {
  Reader reader(archive_read_new());
  Writer disk(archive_write_disk_new());
  if (!reader || !disk) return StepResult::failure("out of memory");
  archive_read_support_format_zip_seekable(reader.get());
  archive_write_disk_set_options(disk.get(), kDiskFlags);
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), kReadBlock) != ARCHIVE_OK)
    return StepResult::failure(readerError(reader.get()));
  std::size_t read = 0;
  for (;; ++read) {
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    if (r == ARCHIVE_EOF) break;
    if (r < ARCHIVE_WARN) return StepResult::failure(readerError(reader.get()));
    // libarchive walks the central directory ordered by local header offset,
    // as readZipDirectory does, so its n-th entry is the n-th record.
    if (read == directory.size()) return StepResult::failure("the archive holds more entries than its directory lists");
    const ZipDirectoryEntry& record = directory[read];
    if (progress)
      if (const auto percent = extractionPercent(record.dataOffset + record.compressedSize, unzipTotalBytes))
        progress->OnInstallProgress(*percent);
    std::printf("Extracting %s\n", record.storedName.c_str());
    if (auto written = writeEntry(reader.get(), disk.get(), entry, dest, record); !written) return written;
  }
  if (read != directory.size())
    return StepResult::failure("the archive's directory lists " + std::to_string(directory.size()) +
                               " entries, only " + std::to_string(read) + " could be read");
  // Folder times are set when the writer closes.
  if (archive_write_close(disk.get()) != ARCHIVE_OK) return StepResult::failure(diskError(disk.get()));
  return StepResult::success();
}

// Refuses before anything is written when the volume cannot hold the
// unpacked package, rather than failing on a full disk halfway through.
StepResult checkSpace(const std::vector<ZipDirectoryEntry>& directory, const std::wstring& destFolder) {
  std::uint64_t needed = 0;
  for (const auto& entry : directory)
    needed = entry.uncompressedSize > UINT64_MAX - needed ? UINT64_MAX : needed + entry.uncompressedSize;
  const auto free = platform::freeDiskSpace(destFolder);
  if (!free || *free >= needed) return StepResult::success();
  return StepResult::failure("not enough free space on the target volume: the package needs " + std::to_string(needed) +
                             " bytes, " + std::to_string(*free) + " bytes are free");
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

StepResult unzipPackage(const std::wstring& archivePath, const std::wstring& destFolder, const std::string& fromName,
                        const std::string& toName, std::uint64_t unzipTotalBytes, ITaskCallback* progress) {
  const fs::path archive(platform::wideToFileSystem(archivePath));
  const auto directory = readZipDirectory(archive);
  if (!directory) return StepResult::failure("not a readable zip archive");
  if (auto space = checkSpace(*directory, destFolder); !space) return space;
  std::error_code ec;
  // Resolved first, so the writer's symlink checks see only what the archive creates.
  fs::create_directories(fs::path(platform::wideToFileSystem(destFolder)), ec);
  const fs::path dest = fs::weakly_canonical(fs::path(platform::wideToFileSystem(destFolder)), ec);
  if (ec) return StepResult::failure("cannot create the destination folder: " + ec.message());
  if (!directory->empty())
    if (auto extracted = extractEntries(archive, dest, *directory, unzipTotalBytes, progress); !extracted)
      return extracted;
  const fs::path from = dest / onDisk(fromName);
  if (fs::exists(from, ec)) fs::rename(from, dest / onDisk(toName), ec);  // a failed rename is not an extraction failure
  return StepResult::success();
}

}  // namespace kx
