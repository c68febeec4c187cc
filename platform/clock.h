#pragma once
// Millisecond ticks from a monotonic clock, as the system tick counter gives.

#include <cstdint>
#include <functional>

namespace kx::platform {

std::uint64_t tickCount();

// Replaces the tick source (tests drive time with it); an empty function
// restores the monotonic clock.
void setTickSource(std::function<std::uint64_t()> source);

}  // namespace kx::platform
