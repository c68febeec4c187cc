#include "platform/debug_output.h"

#include <unistd.h>

#include <fstream>
#include <string>

namespace kx::platform {

namespace {

bool debuggerAttached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("TracerPid:", 0) == 0) return line.find_first_not_of(" \t0", 10) != std::string::npos;
  return false;
}

}  // namespace

void debugOutput(std::string_view text) {
  if (!debuggerAttached()) return;
  [[maybe_unused]] ssize_t ignored = write(2, text.data(), text.size());
}

}  // namespace kx::platform
