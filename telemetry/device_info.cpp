#include "telemetry/device_info.h"

#include <algorithm>
#include <cwchar>
#include <map>

#include "common/strings.h"
#include "platform/system_info.h"
#include "platform/window_focus.h"
#include "telemetry/digest.h"

namespace kx::telemetry {

namespace {

bool describes(const std::string& description, const std::string& word) {
  return asciiLower(description).find(word) != std::string::npos;
}

std::wstring firstValid(const std::vector<platform::NetworkAdapter>& adapters,
                        std::vector<std::uint8_t> platform::NetworkAdapter::*address, bool (*eligible)(const platform::NetworkAdapter&)) {
  for (const auto& adapter : adapters) {
    if (!eligible(adapter)) continue;
    const std::wstring text = macAddressText(adapter.*address);
    if (isValidMacAddress(text)) return text;
  }
  return {};
}

// UTF-16LE bytes, the form Windows hashes its wide strings in.
std::string utf16LittleEndian(const std::wstring& text) {
  std::string bytes;
  for (const wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
    auto put = [&bytes](std::uint32_t unit) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>((unit >> 8) & 0xFF);
    };
    if (code > 0xFFFF) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  return bytes;
}

}  // namespace

std::wstring macAddressText(const std::vector<std::uint8_t>& address) {
  if (address.size() != 6) return {};
  wchar_t text[18];
  std::swprintf(text, 18, L"%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1], address[2], address[3],
                address[4], address[5]);
  return text;
}

bool isValidMacAddress(const std::wstring& text) {
  return !text.empty() && text != L"FF:FF:FF:FF:FF:FF" && text.find(L"00:00:00:00:00:") == std::wstring::npos;
}

std::wstring chooseMacAddress(const std::vector<platform::NetworkAdapter>& adapters) {
  using platform::NetworkAdapter;
  std::wstring found = firstValid(adapters, &NetworkAdapter::permanentAddress, [](const NetworkAdapter& a) {
    return !describes(a.description, "virtual") && !describes(a.description, "1394");
  });
  if (found.empty())
    found = firstValid(adapters, &NetworkAdapter::permanentAddress, [](const NetworkAdapter& a) { return a.ethernet; });
  if (found.empty())
    found = firstValid(adapters, &NetworkAdapter::currentAddress, [](const NetworkAdapter& a) { return a.ethernet; });
  return found;
}

std::string deviceIdFrom(const std::wstring& macAddress, std::uint32_t tickCount) {
  if (macAddress.size() > 3) return upperHex(sha1(utf16LittleEndian(macAddress)));
  const char ticks[4] = {static_cast<char>(tickCount & 0xFF), static_cast<char>((tickCount >> 8) & 0xFF),
                         static_cast<char>((tickCount >> 16) & 0xFF), static_cast<char>((tickCount >> 24) & 0xFF)};
  return upperHex(sha1(std::string_view(ticks, 4)));
}

std::pair<std::wstring, std::wstring> localeNames(unsigned localeId) {
  static const std::map<unsigned, std::pair<std::wstring, std::wstring>> names{
      {1028, {L"Chinese(Traditional)", L"Taiwan"}},
      {1033, {L"English", L"United States"}},
      {2052, {L"Chinese(Simplified)", L"PRC"}},
      {2057, {L"English", L"United Kingdom"}},
      {3076, {L"Chinese(Traditional)", L"Hong Kong SAR"}},
  };
  const auto it = names.find(localeId);
  return it == names.end() ? std::pair<std::wstring, std::wstring>{L"Others", L"Others"} : it->second;
}

DeviceValues gatherDeviceValues() {
  DeviceValues values;
  const platform::OperatingSystem system = platform::operatingSystem();
  if (system.known) {
    values.os = fromUtf8(system.name);
    values.osVersion = std::to_wstring(system.major) + L"." + std::to_wstring(system.minor) + L"." +
                       std::to_wstring(system.build);
  }
  values.model = platform::hasBattery() ? L"Laptop" : L"Desktop";
  values.macAddress = chooseMacAddress(platform::networkAdapters());
  const platform::ScreenSize screen = platform::screenSize();
  values.resolution = std::to_wstring(screen.width) + L"x" + std::to_wstring(screen.height);
  std::tie(values.localeLanguage, values.localeCountry) = localeNames(platform::systemLocaleId());
  return values;
}

}  // namespace kx::telemetry
