#pragma once
// The machine's network adapters, as the telemetry's device id needs them.

#include <cstdint>
#include <string>
#include <vector>

namespace kx::platform {

struct NetworkAdapter {
  std::string name;         // the interface name ("eth0")
  std::string description;  // how the system describes it; names "virtual" or "1394" where they are
  bool ethernet = false;    // an Ethernet-type adapter
  std::vector<std::uint8_t> currentAddress;
  std::vector<std::uint8_t> permanentAddress;  // burnt in; empty when the driver does not tell
};

// Every adapter the system lists, in name order; loopback adapters are left out.
std::vector<NetworkAdapter> networkAdapters();

}  // namespace kx::platform
