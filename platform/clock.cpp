#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

namespace kx::platform {

namespace {

std::mutex sourceLock;
std::function<std::uint64_t()> customSource;

}  // namespace

std::uint64_t tickCount() {
  {
    std::lock_guard lock(sourceLock);
    if (customSource) return customSource();
  }
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void setTickSource(std::function<std::uint64_t()> source) {
  std::lock_guard lock(sourceLock);
  customSource = std::move(source);
}

LocalTime localTimeNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
          static_cast<int>(millis)};
}

}  // namespace kx::platform
