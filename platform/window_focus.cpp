#include "platform/window_focus.h"

#include <atomic>
#include <cstdint>

namespace kx::platform {

namespace {

std::atomic<bool> foregroundState{false};
// Width and height in one word, so a reader never sees half of a report.
std::atomic<std::uint64_t> screenWord{0};

}  // namespace

bool processOwnsForeground() { return foregroundState.load(); }

void reportForeground(bool foreground) { foregroundState = foreground; }

ScreenSize screenSize() {
  const std::uint64_t word = screenWord.load();
  return {static_cast<int>(static_cast<std::uint32_t>(word >> 32)), static_cast<int>(static_cast<std::uint32_t>(word))};
}

void reportScreenSize(ScreenSize size) {
  screenWord = (std::uint64_t{static_cast<std::uint32_t>(size.width)} << 32) | static_cast<std::uint32_t>(size.height);
}

}  // namespace kx::platform
