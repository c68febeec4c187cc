#include "download/verification.h"

#include <filesystem>
#include <fstream>

#include "common/strings.h"
#include "download/resume_record.h"
#include "platform/codepage.h"
#include "platform/atomic_file.h"

namespace kx {

namespace {

void removeIfPresent(const std::wstring& path) {
  const std::filesystem::path file(platform::wideToFileSystem(path));
  std::error_code ec;
  std::filesystem::remove(file, ec);
  if (ec) throw std::filesystem::filesystem_error("remove", file, ec);
}

}  // namespace

bool VerifyFileMd5(const std::wstring& path, const std::string& expected) {
  const std::optional<std::string> actual = FileMd5(path);
  return actual && *actual == asciiLower(expected);
}

void RemoveDownloadedFile(const std::wstring& localPath) {
  removeIfPresent(localPath);
  const std::wstring recordPath = ResumeRecordPath(localPath);
  removeIfPresent(recordPath);
  // Earlier builds saved the record through this fixed temporary name; a
  // crash could leave it behind.
  removeIfPresent(recordPath + L".tmp");
  platform::removeAbandonedReplacements(platform::wideToFileSystem(recordPath));
}

}  // namespace kx
