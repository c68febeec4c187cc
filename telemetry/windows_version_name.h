#pragma once
// The display name the analytics service knows Windows systems by, from the
// version facts the system reports. A pure function, so the Windows back end
// of the device information only gathers the facts.

#include <string>

namespace kx::telemetry {

struct WindowsVersion {
  enum class Platform { Win32s, Windows9x, WindowsNT, Other };
  Platform platform = Platform::WindowsNT;
  unsigned major = 0, minor = 0, build = 0;
  bool workstation = true;   // a client system rather than a server
  unsigned edition = 0;      // the product type the system reports for Vista and later
  bool x64 = false;          // the native processor is x64
  bool itanium = false;      // the native processor is Itanium
  bool mediaCenter = false;  // a Media Center system
  bool serverR2 = false;     // Windows Server 2003 R2
  // Suite facts of Windows 2000 and Server 2003.
  bool personal = false, enterprise = false, datacenter = false, webEdition = false, computeCluster = false;
  unsigned servicePack = 0;
};

// "" when the facts could not be had is the caller's business; this always names something.
std::wstring windowsDisplayName(const WindowsVersion& version);

// The edition suffix for a product type (" Ultimate", ...); "" for one without a name.
std::wstring windowsEditionSuffix(unsigned edition);

}  // namespace kx::telemetry
