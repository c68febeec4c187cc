#pragma once
// The telemetry's own log file: one line per message, a banner for every run,
// trimmed to its newer half once it grows past 128 KiB.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace kx::telemetry {

inline constexpr char kLogOpenBanner[] =
    "**********************************InitLogFile**********************************";
inline constexpr char kLogCloseBanner[] =
    "**********************************EndLogFile***********************************";
inline constexpr std::uintmax_t kLogTrimSize = 0x1FFFF;
inline constexpr std::size_t kLogMessageLimit = 2048;

// The log file's path for an app key: folder by the key's first 100 characters, name by all of it.
std::filesystem::path logFilePath(const std::filesystem::path& commonAppData, const std::wstring& appKey);

// What is kept of an old log: from the first run banner that starts in its
// second half; without one, from the first line that does.
std::string trimmedLog(const std::string& content);

class TallyLog {
 public:
  // Opens the log (once; later calls change nothing): trims an old file and writes the run banner.
  void open(const std::filesystem::path& commonAppData, const std::wstring& appKey);
  // Writes the end banner; nothing is logged afterwards.
  void close();

  // One line from a printf-style wide format ("%ls" for wide strings).
  template <typename... Arguments>
  void write(const wchar_t* format, Arguments... arguments) {
    if (!isOpen()) return;
    std::vector<wchar_t> buffer(kLogMessageLimit + 1);
    const int n = std::swprintf(buffer.data(), buffer.size(), format, arguments...);
    writeLine(n < 0 ? std::wstring(L"Input va_list too long, won't show the values!!!!!!!!")
                    : std::wstring(buffer.data(), static_cast<std::size_t>(n)));
  }
  void writeLine(const std::wstring& message);

  // How long a writer waits for another (2000 ms); a test shortens it.
  void setWriteWait(std::chrono::milliseconds wait) { writeWait_ = wait; }
  // A writer holds this while it writes; a test holds it to see a writer give up.
  std::timed_mutex& writerLock() { return writer_; }

 private:
  bool isOpen();
  void append(const std::string& text);

  std::mutex stateLock_;
  bool open_ = false;
  bool closed_ = false;
  std::filesystem::path path_;
  std::timed_mutex writer_;
  std::chrono::milliseconds writeWait_{2000};
};

}  // namespace kx::telemetry
