// Device values that are rules rather than measurements: which network
// address names the machine, the device id made from it, the locale names
// and the Windows display names.
#include <gtest/gtest.h>

#include "telemetry/device_info.h"
#include "telemetry/windows_version_name.h"
#include "tests/support/tools.h"

namespace kx::test {
namespace {

using platform::NetworkAdapter;
using namespace telemetry;

NetworkAdapter adapter(std::string description, bool ethernet, std::vector<std::uint8_t> permanent,
                       std::vector<std::uint8_t> current) {
  NetworkAdapter a;
  a.name = description.substr(0, description.find(' '));
  a.description = std::move(description);
  a.ethernet = ethernet;
  a.permanentAddress = std::move(permanent);
  a.currentAddress = std::move(current);
  return a;
}

TEST(MacAddressTest, ValidityAndText) {
  EXPECT_EQ(macAddressText({0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}), L"0A:1B:2C:3D:4E:5F");
  EXPECT_EQ(macAddressText({1, 2, 3}), L"");
  struct Case {
    const wchar_t* text;
    bool valid;
  } cases[] = {{L"0A:1B:2C:3D:4E:5F", true},  {L"FF:FF:FF:FF:FF:FF", false}, {L"00:00:00:00:00:00", false},
               {L"00:00:00:00:00:01", false}, {L"01:00:00:00:00:00", true}, {L"02:00:00:00:00:01", true},
               {L"", false}};
  for (const auto& c : cases) EXPECT_EQ(isValidMacAddress(c.text), c.valid) << c.text;
}

TEST(MacAddressTest, TheFirstValidAddressOfTheMethodsInOrder) {
  const std::vector<std::uint8_t> a{0xAA, 1, 2, 3, 4, 5}, b{0xBB, 1, 2, 3, 4, 5}, c{0xCC, 1, 2, 3, 4, 5};
  const std::vector<std::uint8_t> none(6, 0);
  struct Case {
    const char* what;
    std::vector<NetworkAdapter> adapters;
    std::wstring expected;
  } cases[] = {
      {"a real card's burnt-in address first",
       {adapter("br0 virtual adapter", true, b, b), adapter("eth0", true, a, c)}, L"AA:01:02:03:04:05"},
      {"virtual and FireWire cards are skipped by the first method",
       {adapter("fw0 1394", false, c, c), adapter("veth0 Virtual adapter", true, b, b)}, L"BB:01:02:03:04:05"},
      {"an invalid burnt-in address falls through to the current one",
       {adapter("eth0", true, none, c)}, L"CC:01:02:03:04:05"},
      {"non-Ethernet current addresses do not count", {adapter("wwan0", false, {}, a)}, L""},
      {"no adapters", {}, L""},
  };
  for (const auto& test : cases) EXPECT_EQ(chooseMacAddress(test.adapters), test.expected) << test.what;
}

TEST(DeviceIdTest, ShaOneOfTheAddressInUtf16OrOfTheTickCount) {
  const auto reference = [](const std::string& expression) {
    return runPython("import hashlib; print(hashlib.sha1(" + expression + ").hexdigest().upper(), end='')").output;
  };
  EXPECT_EQ(deviceIdFrom(L"0A:1B:2C:3D:4E:5F", 7), reference("'0A:1B:2C:3D:4E:5F'.encode('utf-16-le')"));
  EXPECT_EQ(deviceIdFrom(L"", 0x01020304), reference("bytes([4,3,2,1])"));
  EXPECT_EQ(deviceIdFrom(L"abc", 0x01020304), reference("bytes([4,3,2,1])")) << "three characters are no address";
  EXPECT_EQ(deviceIdFrom(L"", 1).size(), 40u);
}

TEST(LocaleNamesTest, KnownLocalesAndOthers) {
  struct Case {
    unsigned id;
    const wchar_t *language, *country;
  } cases[] = {{1028, L"Chinese(Traditional)", L"Taiwan"}, {1033, L"English", L"United States"},
               {2052, L"Chinese(Simplified)", L"PRC"},     {2057, L"English", L"United Kingdom"},
               {3076, L"Chinese(Traditional)", L"Hong Kong SAR"}, {1031, L"Others", L"Others"},
               {0, L"Others", L"Others"}};
  for (const auto& c : cases) {
    EXPECT_EQ(localeNames(c.id), std::make_pair(std::wstring(c.language), std::wstring(c.country))) << c.id;
  }
}

TEST(WindowsDisplayNameTest, NamesFromVersionFacts) {
  using P = WindowsVersion::Platform;
  auto nt = [](unsigned major, unsigned minor, unsigned build = 0) {
    WindowsVersion v;
    v.major = major, v.minor = minor, v.build = build;
    return v;
  };
  auto with = [](WindowsVersion v, auto change) {
    change(v);
    return v;
  };
  struct Case {
    WindowsVersion version;
    const wchar_t* name;
  } cases[] = {
      {with(nt(10, 0, 19045), [](auto& v) { v.x64 = true; }), L"Windows 10 64bits"},
      {with(nt(6, 1, 7601), [](auto& v) { v.edition = 1, v.servicePack = 1; }), L"Windows 7 32bits Ultimate Service Pack 1"},
      {nt(6, 1, 6801), L"Windows 7 preBeta build M3 PDC 2008 32bits Produit inconnu"},
      {with(nt(6, 0), [](auto& v) { v.workstation = false, v.edition = 0x29, v.x64 = true; }),
       L"Windows Server 2008 64bits Server Enterprise sans Hyper-V(core installation)"},
      {with(nt(6, 0), [](auto& v) { v.edition = 3, v.mediaCenter = true; }), L"Windows Vista 32bits (Media Center) Home Premium"},
      {with(nt(6, 2, 7930), [](auto& v) { v.edition = 0x2A; }), L"Windows 8 Milestone2 32bits Microsoft Hyper-V Server"},
      {with(nt(6, 3), [](auto& v) { v.edition = 4; }), L"Windows 8.1 32bits"},
      {nt(6, 9), L"Windows NT v6.9 32bits"},
      {with(nt(5, 1), [](auto& v) { v.personal = true, v.servicePack = 3; }), L"Windows XP Home Edition 32bits Service Pack 3"},
      {with(nt(5, 0), [](auto& v) { v.workstation = false, v.enterprise = true; }), L"Windows 2000 Advanced Server  32bits"},
      {with(nt(5, 2), [](auto& v) { v.workstation = false, v.x64 = true, v.datacenter = true; }),
       L"Windows Server 2003 Datacenter x64 Edition 64bits"},
      {with(nt(5, 2), [](auto& v) { v.workstation = true, v.x64 = true; }), L"Microsoft Windows XP Professional x64 Edition 64bits"},
      {with(nt(5, 2), [](auto& v) { v.workstation = false, v.serverR2 = true; }), L"Windows Server 2003 R2 32bits"},
      {with(nt(5, 2), [](auto& v) { v.workstation = false, v.webEdition = true; }), L"Windows Server 2003 Web Edition 32bits"},
      {with(nt(4, 0), [](auto& v) { v.workstation = true; }), L"Windows NT 4.0 Workstation"},
      {nt(3, 51), L"Windows NT 3.51"},
      {with(nt(4, 10, 2222), [](auto& v) { v.platform = P::Windows9x; }), L"Windows 98 Second Edition"},
      {with(nt(4, 0, 1212), [](auto& v) { v.platform = P::Windows9x; }), L"Windows 95 SR2.5"},
      {with(nt(4, 90), [](auto& v) { v.platform = P::Windows9x; }), L"Windows Me (Millenium)"},
      {with(nt(3, 10), [](auto& v) { v.platform = P::Win32s; }), L"Win32s"},
      {with(nt(1, 0), [](auto& v) { v.platform = P::Other; }), L"ERROE"},
  };
  for (const auto& c : cases) EXPECT_EQ(windowsDisplayName(c.version), c.name);
}

}  // namespace
}  // namespace kx::test
