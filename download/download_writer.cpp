#include "download/download_writer.h"

#include <filesystem>

#include "platform/codepage.h"
#include "platform/volume.h"

namespace kx {

namespace fs = std::filesystem;
using platform::RandomAccessFile;

DownloadWriter::DownloadWriter(std::wstring path, Allocation allocation)
    : path_(std::move(path)), allocation_(allocation) {}

bool DownloadWriter::createAtSize(std::uint64_t size) {
  if (!file_.open(path_, RandomAccessFile::Mode::CreateOrTruncate)) return false;
  if (size == 0) return true;
  if (allocation_ == Allocation::Fast && platform::supportsFastAllocation(path_) && file_.reserve(size)) return true;
  const unsigned char last = 0xFF;
  if (!file_.writeAt(size - 1, &last, 1)) file_.close();
  return file_.isOpen();
}

bool DownloadWriter::Prepare(std::uint64_t size) {
  std::lock_guard guard(lock_);
  file_.close();
  const fs::path file(platform::wideToFileSystem(path_));
  try {
    if (fs::exists(file) && fs::file_size(file) != size) fs::remove(file);
    if (fs::exists(file)) return file_.open(path_, RandomAccessFile::Mode::OpenExisting);
  } catch (const fs::filesystem_error&) {
    return false;
  }
  return createAtSize(size);
}

bool DownloadWriter::Write(std::uint64_t offset, const void* data, std::uint64_t length) {
  std::lock_guard guard(lock_);
  return file_.writeAt(offset, data, static_cast<std::size_t>(length));
}

void DownloadWriter::Close() {
  std::lock_guard guard(lock_);
  file_.close();
}

}  // namespace kx
