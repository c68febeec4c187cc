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
  std::unique_lock guard(lock_);
  flushEnded_.wait(guard, [this] { return flushing_ == 0; });
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
  std::unique_lock guard(lock_);
  if (lost_ || !unflushed_) return !lost_;
  // A flush of a large file takes a while; the segments keep writing
  // meanwhile, and what they write is for the next flush.
  unflushed_ = false;
  ++flushing_;
  guard.unlock();
  const bool flushed = file_.flush() == FileStatus::Ok;
  guard.lock();
  --flushing_;
  lost_ = lost_ || !flushed;
  flushEnded_.notify_all();
  return !lost_;
}

FileStatus DownloadWriter::Close() {
  std::unique_lock guard(lock_);
  flushEnded_.wait(guard, [this] { return flushing_ == 0; });
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
