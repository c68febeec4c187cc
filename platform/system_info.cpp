#include "platform/system_info.h"

#include <atomic>
#include <thread>

namespace kx::platform {

namespace {
std::atomic<unsigned> overrideCount{0};
}

unsigned processorCount() {
  if (const unsigned n = overrideCount.load()) return n;
  const unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

void setProcessorCount(unsigned count) { overrideCount = count; }

}  // namespace kx::platform
