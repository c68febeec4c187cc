#pragma once
// Facts about the machine the installer runs on.

#include <string>

namespace kx::platform {

// Number of logical processors (at least 1).
unsigned processorCount();

// Makes processorCount() answer `count` (tests plan downloads for other
// machines with it); 0 restores the real count.
void setProcessorCount(unsigned count);

struct OperatingSystem {
  std::string name;  // the system's own display name ("Debian GNU/Linux 12 (bookworm)"); empty when unknown
  int major = 0, minor = 0, build = 0;  // the kernel's version numbers
  bool known = false;                   // false when the system could not be asked
};

OperatingSystem operatingSystem();

// True when the machine runs on a battery (a laptop), false for a desktop.
bool hasBattery();

// The system's default locale as a Windows locale id (2052 for zh_CN, 1033
// for en_US, ...); 0 for a locale without one.
unsigned systemLocaleId();

}  // namespace kx::platform
