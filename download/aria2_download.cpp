#include "download/aria2_download.h"

#include <charconv>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <regex>

#include "common/build_config.h"
#include "common/strings.h"
#include "common/thread_pool.h"
#include "download/destination.h"
#include "download/output_lines.h"
#include "download/resume_record.h"
#include "download/verification.h"
#include "platform/codepage.h"
#include "platform/debug_output.h"
#include "platform/subprocess.h"
#include "platform/volume.h"

namespace kx {

namespace {

// aria2 reads at most this much per call, leaving room for a terminating zero.
constexpr std::size_t kReadChunk = 511;

// aria2's exit status when the disk had no room for the download.
constexpr int kAria2NotEnoughDiskSpace = 9;

// The job a pool thread is running, so that a callback which restarts or
// destroys its own engine does not wait for itself.
thread_local const CAria2Download* currentJobOf = nullptr;

struct Destination {
  std::wstring folder;
  std::wstring fileName;
  bool folderIsRoot = false;
};

bool isDriveForm(const std::wstring& path) {
  return path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

// Splits at the last separator: '/' always, and '\' too in drive form (D:\...).
Destination splitDestination(const std::wstring& path) {
  const bool drive = isDriveForm(path);
  const std::size_t cut = path.find_last_of(drive ? L"\\/" : L"/");
  Destination d;
  if (cut == std::wstring::npos) {
    d.folder = L".";
    d.fileName = path;
    return d;
  }
  d.fileName = path.substr(cut + 1);
  d.folder = path.substr(0, cut);
  if (d.folder.empty() || (drive && d.folder.size() == 2)) {
    d.folder = path.substr(0, cut + 1);  // keep the root's own separator: "/" or "D:\"
    d.folderIsRoot = true;
  }
  return d;
}

std::wstring inQuotes(const std::wstring& text) { return L"\"" + text + L"\""; }

std::uint32_t speedFrom(const std::string& number, const std::string& unit) {
  double value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) return 0;
  const double factor = unit == "MiB" ? 1048576.0 : unit == "GiB" ? 1073741824.0 : 1024.0;
  const double speed = value * factor;
  constexpr double top = std::numeric_limits<std::uint32_t>::max();
  return speed >= top ? std::numeric_limits<std::uint32_t>::max() : static_cast<std::uint32_t>(speed);
}

bool controlFileExists(const std::wstring& path) {
  std::error_code ec;
  return std::filesystem::exists(platform::wideToFileSystem(Aria2ControlFilePath(path)), ec);
}

}  // namespace

std::wstring aria2CommandLine(const std::wstring& path, const std::wstring& url) {
  const Destination d = splitDestination(path);
  // A root folder ends in a backslash on Windows, which would escape the
  // closing quotation mark; doubling the root's separator keeps it a folder.
  std::wstring folder = d.folder;
  if (d.folderIsRoot) folder += d.folder.back();
  std::wstring line = std::wstring(kAria2HelperFile, kAria2HelperFile + sizeof kAria2HelperFile - 1) + L" ";
  line += L"-d " + inQuotes(folder) + L" ";
  if (platform::supportsFastAllocation(d.folder)) line += L"--file-allocation=falloc ";
  line += L"--user-agent=" + inQuotes(L"Downloader/1.0") + L" ";
  line += L"--referer=" + inQuotes(fromUtf8(downloadReferer())) + L" ";
  // aria2 checks certificates against its own bundle, so a build that trusts a
  // CA of its own hands that file over; the product has none and adds nothing.
  if (const std::string ca = extraCaFile(); !ca.empty())
    line += L"--ca-certificate=" + inQuotes(platform::fileSystemToWide(ca)) + L" ";
  line += L"-x 5 ";
  line += L"-c ";
  line += L"-o " + inQuotes(d.fileName) + L" ";
  line += inQuotes(url);
  return line;
}

CAria2Download::CAria2Download(IDownloadCallBack* installCallback, IDownloadStateCallBack* stateCallback)
    : installCallback_(installCallback), stateCallback_(stateCallback) {}

CAria2Download::~CAria2Download() {
  Stop();
  std::unique_lock<std::mutex> lock(jobLock_);
  if (currentJobOf != this) jobEnded_.wait(lock, [this] { return activeJobs_ == 0; });
}

void CAria2Download::Download(const std::string& url, const std::wstring& path, std::uint64_t size,
                              const std::string& /*md5*/) {
  Stop();
  {
    // Two runs must never share the destination and its control file: the
    // previous job (its child already killed by Stop) ends first.
    std::unique_lock<std::mutex> lock(jobLock_);
    const int own = currentJobOf == this ? 1 : 0;
    jobEnded_.wait(lock, [&] { return activeJobs_ <= own; });
    url_ = platform::fileSystemToWide(url);
    narrowUrl_ = url;
    path_ = path;
    narrowPath_ = platform::wideToFileSystem(path);
    size_ = size;
    completed_ = false;
    diskFull_ = false;
    stopRequested_ = false;
    ++activeJobs_;
  }
  ThreadPool::instance().commit(std::bind(&CAria2Download::RunAria2, this, std::placeholders::_1), nullptr);
}

void CAria2Download::Stop() {
  running_ = false;
  stopRequested_ = true;
  std::lock_guard<std::mutex> lock(jobLock_);
  if (child_) child_->kill();
}

void CAria2Download::Resume(bool resume) {
  if (resume) Download(platform::wideToFileSystem(url_), path_, size_, "");
}

std::int32_t CAria2Download::GetTaskCount() { return running_ ? 1 : 0; }

std::int32_t CAria2Download::RunAria2(void*) {
  currentJobOf = this;
  try {
    transfer();
  } catch (...) {
    // A pool job must not throw; what was found out so far decides the report.
  }
  if (!stopRequested_) report();
  currentJobOf = nullptr;
  std::lock_guard<std::mutex> lock(jobLock_);
  --activeJobs_;
  jobEnded_.notify_all();
  return 0;
}

bool CAria2Download::clearDestination() {
  // aria2 continues an existing file as the prefix of the download unless its
  // control file says otherwise, so nothing else may stay in its way; but no
  // file is deleted that is not ours to delete.
  switch (InspectDestination(path_, narrowUrl_, size_)) {
    case DestinationState::Complete:
    case DestinationState::Unfinished:
      // The segmented downloader's file: aria2 would start it over. Left as it
      // is, it makes this run fail, and the next engine continues it.
      return false;
    case DestinationState::Foreign:
      return MoveAside(path_).has_value();
    case DestinationState::Stale:
      RemoveDownloadedFile(path_);
      return true;
    case DestinationState::Absent: {
      // A record left without its file would describe aria2's new bytes wrongly.
      std::error_code ec;
      std::filesystem::remove(platform::wideToFileSystem(ResumeRecordPath(path_)), ec);
      return true;
    }
    case DestinationState::Aria2Unfinished:
      return true;
  }
  return true;
}

void CAria2Download::transfer() {
  if (!clearDestination()) return;

  const std::wstring commandLine = aria2CommandLine(path_, url_);
  platform::debugOutput(platform::wideToFileSystem(commandLine) + "\n");

  std::unique_ptr<platform::Subprocess> child;
  {
    std::lock_guard<std::mutex> lock(jobLock_);
    if (stopRequested_) return;
    // A hidden helper without a console of its own, whose output the engine
    // reads; it dies with the installer so that no helper keeps downloading
    // behind a dead one.
    child = platform::Subprocess::start(std::wstring(kAria2HelperFile, kAria2HelperFile + sizeof kAria2HelperFile - 1),
                                        platform::CommandLine{commandLine},
                                        {.output = platform::Subprocess::Output::Pipe,
                                         .lifetime = platform::Subprocess::Lifetime::EndsWithInstaller,
                                         .ownProcessGroup = true});
    if (!child) return;
    child_ = child.get();
    running_ = true;
  }
  OutputLines lines;
  char buffer[kReadChunk + 1];
  while (const std::size_t n = child->read(buffer, kReadChunk)) {
    buffer[n] = '\0';
    if (stopRequested_) break;
    lines.feed(buffer, n, [this](const std::string& line) { ParseAria2Line(line); });
  }
  if (stopRequested_) child->kill();
  diskFull_ = child->wait() == kAria2NotEnoughDiskSpace;
  std::lock_guard<std::mutex> lock(jobLock_);
  child_ = nullptr;
}

void CAria2Download::report() {
  if (!installCallback_) return;
  if (completed_) {
    const std::string path = narrowPath_;  // a callback that restarts the engine replaces the field
    installCallback_->OnFinished(path);
  } else if (!stateCallback_) {
    return;
  } else if (diskFull_) {
    stateCallback_->OnDiskError(DiskError::Full);  // no lost connection: retrying would fill the disk again
  } else if (!controlFileExists(path_)) {
    stateCallback_->OnEngineFailed();  // aria2 never began the file
  } else {
    stateCallback_->OnInterrupted();  // a partial file that -c continues
  }
}

void CAria2Download::ParseAria2Line(const std::string& line) {
  platform::debugOutput(line + "\n");
  static const std::regex progress(
      R"(\[#\w+ [\w\.]+/[\w\.]+\((\d+)\%\) \w+:\d+ DL:([\d\.]+)(\w+) ETA:\w+\])", std::regex::ECMAScript);
  static const std::regex completion(R"(\(OK\):download completed\.)", std::regex::ECMAScript);
  std::smatch match;
  if (std::regex_search(line, match, progress)) {
    if (!installCallback_) return;
    const std::string digits = match[1].str();
    std::int32_t percent = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), percent);
    if (error != std::errc() || end != digits.data() + digits.size()) return;
    installCallback_->OnProgress(percent, speedFrom(match[2].str(), match[3].str()), narrowPath_);
    return;
  }
  if (std::regex_search(line, completion)) completed_ = true;
}

}  // namespace kx
