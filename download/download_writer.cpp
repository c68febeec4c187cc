#include "download/download_writer.h"

#include <filesystem>

#include "platform/codepage.h"
#include "platform/volume.h"

namespace kx {

namespace fs = std::filesystem;
using platform::FileStatus;
using platform::RandomAccessFile;

DownloadWriter::DownloadWriter(std::wstring path, Allocation allocation)
    : path_(std::move(path)), allocation_(allocation) {}

FileStatus DownloadWriter::createAtSize(std::uint64_t size) {
  if (const FileStatus opened = file_.open(path_, RandomAccessFile::Mode::CreateOrTruncate); opened != FileStatus::Ok)
    return opened;
  if (size == 0) return FileStatus::Ok;
  if (allocation_ == Allocation::Fast && platform::supportsFastAllocation(path_)) {
    const FileStatus reserved = file_.reserve(size);
    if (reserved == FileStatus::Ok) return FileStatus::Ok;
    // A sparse file would only defer the lack of room to the middle of the
    // download; it stands in only where space cannot be reserved at all.
    if (reserved != FileStatus::Unsupported) {
      file_.close();
      return reserved;
    }
  }
  const unsigned char last = 0xFF;
  const FileStatus written = file_.writeAt(size - 1, &last, 1);
  if (written != FileStatus::Ok) file_.close();
  return written;
}

FileStatus DownloadWriter::Prepare(std::uint64_t size) {
  std::lock_guard guard(lock_);
  file_.close();
  unflushed_ = false;
  lost_ = false;
  const fs::path file(platform::wideToFileSystem(path_));
  try {
    if (fs::exists(file) && fs::file_size(file) != size) fs::remove(file);
    if (fs::exists(file)) return file_.open(path_, RandomAccessFile::Mode::OpenExisting);
  } catch (const fs::filesystem_error&) {
    return FileStatus::Failed;
  }
  return createAtSize(size);
}

FileStatus DownloadWriter::Write(std::uint64_t offset, const void* data, std::uint64_t length) {
  std::lock_guard guard(lock_);
  const FileStatus written = file_.writeAt(offset, data, static_cast<std::size_t>(length));
  if (written == FileStatus::Ok) unflushed_ = true;
  return written;
}

bool DownloadWriter::Flush() {
  std::lock_guard guard(lock_);
  if (unflushed_ && !lost_) {
    if (file_.isOpen() && file_.flush() == FileStatus::Ok) {
      unflushed_ = false;
    } else {
      lost_ = true;
    }
  }
  return !lost_;
}

FileStatus DownloadWriter::Close() {
  std::lock_guard guard(lock_);
  if (!file_.isOpen()) return lost_ ? FileStatus::Failed : FileStatus::Ok;
  FileStatus status = FileStatus::Ok;
  if (unflushed_) {
    status = file_.flush();
    unflushed_ = false;
  }
  const FileStatus closed = file_.close();
  if (status == FileStatus::Ok) status = closed;
  if (status != FileStatus::Ok) lost_ = true;
  return status;
}

}  // namespace kx
