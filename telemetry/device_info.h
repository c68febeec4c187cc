#pragma once
// The device values of the header record: system, model, network address,
// screen and locale, and the device id derived from the network address.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/network_adapters.h"

namespace kx::telemetry {

struct DeviceValues {
  std::wstring os;
  std::wstring osVersion;
  std::wstring model;  // "Desktop" or "Laptop"
  std::wstring macAddress;
  std::wstring resolution;
  std::wstring localeLanguage;
  std::wstring localeCountry;
};

// What this machine reports now.
DeviceValues gatherDeviceValues();

// "%02X:%02X:%02X:%02X:%02X:%02X" of a six-byte address; "" for any other length.
std::wstring macAddressText(const std::vector<std::uint8_t>& address);
// All ones, or five leading zero bytes, is no real address.
bool isValidMacAddress(const std::wstring& text);
// The first valid of: the burnt-in address of a card that is neither virtual
// nor FireWire; the burnt-in address of any Ethernet adapter; the current
// address of the first Ethernet adapter. "" when none is valid.
std::wstring chooseMacAddress(const std::vector<platform::NetworkAdapter>& adapters);

// 40 upper-case hex digits: SHA-1 of the address text's UTF-16LE bytes when
// it has more than 3 characters, else of the tick count's 4 bytes.
std::string deviceIdFrom(const std::wstring& macAddress, std::uint32_t tickCount);

// localeLanguage and localeCountry for a Windows locale id.
std::pair<std::wstring, std::wstring> localeNames(unsigned localeId);

}  // namespace kx::telemetry
