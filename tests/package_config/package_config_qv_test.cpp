// The package configuration in flavour qv: a platform descriptor, packages
// created unselected, the version chosen by number, telemetry on failures.
#include <gtest/gtest.h>

#include "tests/package_config/fixture.h"

namespace kx::test {
namespace {

using nlohmann::json;

constexpr const char* kDescriptorPath = "/4/pf/ver/latest_platform_installer.json";
constexpr const char* kMainPath = "/pl/up1_patchlist_produp5";

class PackageConfigQv : public ServerFixture {
 protected:
  void serveDescriptor() {
    server.route(kDescriptorPath, {{"body", json{{"version", "5.2.0"},
                                                 {"platform", server.url("/files/LumlumSetup.exe")},
                                                 {"md5", "00112233445566778899aabbccddeeff"},
                                                 {"size", 300}}.dump()}});
  }
  void serveVersions() {
    json versions;
    for (const char* version : {"1.0", "2.0", "10.0"})
      versions[version] = packageRecord(version, server.url(std::string("/files/Kestrix_") + version + ".zip"), 1000);
    server.route(kMainPath, {{"body", versions.dump()}});
  }
};

TEST_F(PackageConfigQv, HighestVersionIsTakenUnselectedBeforeThePlatformEntry) {
  serveDescriptor();
  serveVersions();
  // Only the platform setup is selected until the map information chooses packages.
  EXPECT_EQ(manager.getTotalSize(), 600u);
  ASSERT_EQ(manager.entries.size(), 2u);
  EXPECT_EQ(manager.entries[0].bigVersion, "10.0");
  EXPECT_FALSE(manager.entries[0].selected);
  EXPECT_TRUE(manager.entries[1].isPlatformInstaller);
  EXPECT_TRUE(manager.isConfigValid());
  EXPECT_TRUE(trackedEvents().empty());
}

TEST_F(PackageConfigQv, GameEngineVersionFromTheMapIsTakenExactly) {
  serveDescriptor();
  serveVersions();
  manager.gameEngineVersion = L"1.0";
  manager.getTotalSize();
  ASSERT_EQ(manager.entries.size(), 2u);
  EXPECT_EQ(manager.entries[0].bigVersion, "1.0");
}

TEST_F(PackageConfigQv, FailuresAreReported) {
  serveDescriptor();
  server.route(kMainPath, {{"body", "{\"1.0\": {\"big_version\": \"1.0\"}}"}});
  manager.getTotalSize();
  ASSERT_EQ(manager.entries.size(), 1u);
  EXPECT_FALSE(manager.isConfigValid());
  // One from the load, one from the check inside getTotalSize, one from the call above.
  EXPECT_EQ(trackedEvents(), (std::vector<std::wstring>{L"get_message_api_failed", L"invalid_config", L"invalid_config"}));
}

TEST_F(PackageConfigQv, MalformedDescriptorAddsNoPlatformEntry) {
  server.route(kDescriptorPath, {{"body", R"({"version":"5.2.0","platform":"https://x.test/a.exe","size":3})"}});
  serveVersions();
  manager.getTotalSize();
  ASSERT_EQ(manager.entries.size(), 1u);
  EXPECT_TRUE(manager.entries[0].isPackage);
  EXPECT_EQ(manager.platformVersion, "");
  EXPECT_FALSE(manager.isConfigValid());
}

}  // namespace
}  // namespace kx::test
