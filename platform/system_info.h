#pragma once
// Facts about the machine the installer runs on.

namespace kx::platform {

// Number of logical processors (at least 1).
unsigned processorCount();

// Makes processorCount() answer `count` (tests plan downloads for other
// machines with it); 0 restores the real count.
void setProcessorCount(unsigned count);

}  // namespace kx::platform
