#include "telemetry/tally_log.h"

#include <fstream>
#include <iterator>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/debug_output.h"
#include "platform/process.h"
#include "telemetry/tally_store.h"

namespace kx::telemetry {

namespace fs = std::filesystem;

fs::path logFilePath(const fs::path& commonAppData, const std::wstring& appKey) {
  return commonAppData / "NimbrelTallyLog" / platform::wideToFileSystem(appKeyFolderName(appKey)) /
         ("tally_" + platform::wideToFileSystem(appKey) + ".log");
}

std::string trimmedLog(const std::string& content) {
  const std::size_t middle = content.size() / 2;
  std::size_t from = content.find(kLogOpenBanner, middle);
  if (from == std::string::npos) {
    // One run larger than half the file: keep whole lines of its newer half,
    // so the file still shrinks.
    from = content.find('\n', middle == 0 ? 0 : middle - 1);
    from = from == std::string::npos ? content.size() : from + 1;
  }
  return content.substr(from);
}

void TallyLog::open(const fs::path& commonAppData, const std::wstring& appKey) {
  {
    std::lock_guard guard(stateLock_);
    if (open_ || closed_) return;
    path_ = logFilePath(commonAppData, appKey);
    std::error_code ec;
    fs::create_directories(path_.parent_path(), ec);
    open_ = true;
  }
  std::unique_lock writer(writer_, writeWait_);
  if (!writer.owns_lock()) return;
  std::error_code ec;
  if (fs::exists(path_, ec) && fs::file_size(path_, ec) > kLogTrimSize && !ec) {
    std::ifstream in(path_, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << trimmedLog(content);
  }
  append(std::string(kLogOpenBanner) + "\n");
}

void TallyLog::close() {
  {
    std::lock_guard guard(stateLock_);
    if (!open_) return;
    open_ = false;
    closed_ = true;
  }
  std::unique_lock writer(writer_, writeWait_);
  if (writer.owns_lock()) append(std::string(kLogCloseBanner) + "\n");
}

bool TallyLog::isOpen() {
  std::lock_guard guard(stateLock_);
  return open_;
}

void TallyLog::writeLine(const std::wstring& message) {
  if (!isOpen()) return;
  const platform::LocalTime t = platform::localTimeNow();
  wchar_t stamp[64];
  std::swprintf(stamp, 64, L"%02d-%02d %02d:%02d:%02d.%03d:", t.month, t.day, t.hour, t.minute, t.second,
                t.millisecond);
  const std::wstring line = std::wstring(stamp) + L"[" + std::to_wstring(platform::currentProcessId()) + L"-" +
                            std::to_wstring(platform::currentThreadId()) + L"]\t" + message + L"\n";
  std::unique_lock writer(writer_, writeWait_);
  if (!writer.owns_lock()) {
    platform::debugOutput("!!!!!WriteLogTimeOut!!!!!");
    return;
  }
  append(platform::wideToFileSystem(line));
}

void TallyLog::append(const std::string& text) {
  std::ofstream out(path_, std::ios::binary | std::ios::app);
  out << text;
  out.flush();
}

}  // namespace kx::telemetry
