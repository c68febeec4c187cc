#pragma once
// Millisecond ticks from a monotonic clock, as the system tick counter gives.

#include <cstdint>
#include <functional>

namespace kx::platform {

std::uint64_t tickCount();

// Replaces the tick source (tests drive time with it); an empty function
// restores the monotonic clock.
void setTickSource(std::function<std::uint64_t()> source);

// The wall clock in the user's time zone, to the millisecond.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime localTimeNow();

}  // namespace kx::platform
