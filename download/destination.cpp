#include "download/destination.h"

#include <algorithm>
#include <filesystem>

#include "download/resume_record.h"
#include "download/segment_plan.h"
#include "platform/codepage.h"
#include "platform/rename.h"

namespace kx {

namespace fs = std::filesystem;

namespace {

bool present(const std::wstring& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(platform::wideToFileSystem(path), ec));
}

}  // namespace

std::wstring Aria2ControlFilePath(const std::wstring& destination) { return destination + L".aria2"; }

std::string DestinationFileName(const std::wstring& path) {
  const std::string narrow = platform::wideToFileSystem(path);
  const std::string name = fs::path(narrow).filename().string();
  return name.empty() ? narrow : name;
}

DestinationState InspectDestination(const std::wstring& path, const std::string& url, std::uint64_t size) {
  if (!present(path)) return DestinationState::Absent;
  ResumeRecord record;
  const bool recorded = LoadResumeRecord(ResumeRecordPath(path), record);
  if (recorded && ResumeRecordFits(record, url, path, size)) {
    const bool finished = std::all_of(record.range.begin(), record.range.end(),
                                      [](const ResumeSegment& segment) { return segment.bFinished; });
    return finished ? DestinationState::Complete : DestinationState::Unfinished;
  }
  if (present(Aria2ControlFilePath(path))) return DestinationState::Aria2Unfinished;
  // A record made for this very path is ours even when it describes another
  // download; one that names another path came from elsewhere.
  if (recorded && record.dst == path) return DestinationState::Stale;
  return DestinationState::Foreign;
}

std::optional<std::wstring> MoveAside(const std::wstring& path) {
  const fs::path file(platform::wideToFileSystem(path));
  const std::string stem = file.stem().string();
  const std::string extension = file.extension().string();
  for (int n = 1; n < 10000; ++n) {
    const std::wstring aside =
        platform::fileSystemToWide((file.parent_path() / (stem + " (" + std::to_string(n) + ")" + extension)).string());
    switch (platform::renameWithoutReplacing(path, aside)) {
      case platform::RenameResult::Ok:
        return aside;
      case platform::RenameResult::NameTaken:
        continue;
      case platform::RenameResult::Failed:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

void RecordFinishedDownload(const std::wstring& path, const std::string& url, std::uint64_t size) {
  if (InspectDestination(path, url, size) == DestinationState::Complete) return;
  std::error_code ec;
  const std::uintmax_t actual = fs::file_size(platform::wideToFileSystem(path), ec);
  if (ec) return;
  ResumeRecord record;
  record.supportResume = true;
  record.size = actual;
  record.url = url;
  record.dst = path;
  record.range = PlanSegments(DestinationFileName(path), actual, true, 1);
  record.range.front().bFinished = true;
  record.range.front().seek = actual;
  SaveResumeRecord(ResumeRecordPath(path), record);
}

}  // namespace kx
