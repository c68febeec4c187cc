#include "platform/network_adapters.h"

#include <net/if.h>
#include <net/if_arp.h>
// After net/if.h, whose definitions the kernel headers then leave alone.
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kx::platform {

namespace {

namespace fs = std::filesystem;

const fs::path kInterfaces = "/sys/class/net";

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// "aa:bb:cc:..." as bytes; empty when the text is not of that form.
std::vector<std::uint8_t> parseAddress(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 3) {
    if (i + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[i])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 1])) || (i + 2 < text.size() && text[i + 2] != ':'))
      return {};
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The burnt-in address through ethtool; needs no privilege.
std::vector<std::uint8_t> permanentAddress(const std::string& name) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  // The request is a header followed by room for the address.
  alignas(ethtool_perm_addr) std::uint8_t buffer[sizeof(ethtool_perm_addr) + MAX_ADDR_LEN] = {};
  auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
  request->cmd = ETHTOOL_GPERMADDR;
  request->size = MAX_ADDR_LEN;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
  ifr.ifr_data = reinterpret_cast<char*>(buffer);
  std::vector<std::uint8_t> address;
  if (::ioctl(fd, SIOCETHTOOL, &ifr) == 0 && request->size <= MAX_ADDR_LEN) {
    const std::uint8_t* data = buffer + sizeof(ethtool_perm_addr);
    address.assign(data, data + request->size);
  }
  ::close(fd);
  return address;
}

}  // namespace

std::vector<NetworkAdapter> networkAdapters() {
  std::vector<NetworkAdapter> adapters;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kInterfaces, ec)) {
    const fs::path folder = entry.path();
    const int type = std::atoi(firstLine(folder / "type").c_str());
    if (type == ARPHRD_LOOPBACK) continue;
    NetworkAdapter adapter;
    adapter.name = folder.filename().string();
    adapter.ethernet = type == ARPHRD_ETHER;
    // Software interfaces (bridges, tunnels, containers) live under devices/virtual.
    const bool isVirtual = fs::canonical(folder, ec).string().find("/devices/virtual/") != std::string::npos;
    adapter.description = adapter.name + (isVirtual ? " virtual adapter" : "") + (type == ARPHRD_IEEE1394 ? " 1394" : "");
    adapter.currentAddress = parseAddress(firstLine(folder / "address"));
    adapter.permanentAddress = permanentAddress(adapter.name);
    adapters.push_back(std::move(adapter));
  }
  std::sort(adapters.begin(), adapters.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  return adapters;
}

}  // namespace kx::platform
