// A platform descriptor named on the command line joins the kestrix
// configuration. The command line is parsed once per process, hence an
// executable of its own.
#include <gtest/gtest.h>

#include "tests/package_config/fixture.h"

namespace kx::test {
namespace {

using nlohmann::json;

class CommandLineDescriptor : public ServerFixture {};

TEST_F(CommandLineDescriptor, JsonOptionWinsOverCfgAndAddsThePlatformEntryLast) {
  const std::string descriptor = server.url("/pf/latest.json?branch=stable");
  manager.parseCommandLineOnce({L"KestrixSetup", L"--cfg", L"https://127.0.0.1:9/unused.json", L"-j",
                                std::wstring(descriptor.begin(), descriptor.end())});
  EXPECT_EQ(manager.getConfigUrl(true, false), descriptor);

  server.routes({{"/pf/latest.json", {{"body", json{{"version", "5.2.0"},
                                                     {"platform", server.url("/files/LumlumSetup.exe")},
                                                     {"md5", "00112233445566778899aabbccddeeff"},
                                                     {"size", 300}}.dump()}}},
                 {"/pl/up1_patchlist_produp5",
                  {{"body", json{{"2.0", packageRecord("2.0", server.url("/files/Kestrix.zip"), 1000)}}.dump()}}}});
  EXPECT_EQ(manager.getTotalSize(), 2600u);
  ASSERT_EQ(manager.entries.size(), 2u);
  EXPECT_EQ(manager.entries[0].fileName, "Kestrix.zip");
  EXPECT_EQ(manager.entries[1].fileName, "LumlumSetup.exe");
  EXPECT_TRUE(manager.entries[1].isPlatformInstaller);
  EXPECT_EQ(manager.platformVersion, "5.2.0");
  EXPECT_TRUE(manager.isConfigValid());

  // The time stamp joins the query the option already had.
  const auto requests = server.requestsFor("/pf/latest.json");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(std::string(requests[0]["query"]).rfind("branch=stable&", 0), 0u);
}

}  // namespace
}  // namespace kx::test
