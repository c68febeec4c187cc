#include "platform/clock.h"

#include <chrono>
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

}  // namespace kx::platform
