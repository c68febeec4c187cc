// Flavour prod has all three documents: the order of the entries and the
// alternate configuration's own rules.
#include <gtest/gtest.h>

#include "tests/package_config/fixture.h"

namespace kx::test {
namespace {

using nlohmann::json;

class PackageConfigProd : public ServerFixture {
 protected:
  void serve(bool withAlternate) {
    server.routes(
        {{"/pl/platform_latest_installer_prod.txt",
          {{"body", json{{"version", "5.2.0"},
                         {"platform", server.url("/files/LumlumSetup.exe")},
                         {"md5", "00112233445566778899aabbccddeeff"},
                         {"size", 300}}.dump()}}},
         {"/pl/up1_patchlist_prod",
          {{"body", json{{"1.0", packageRecord("1.0", server.url("/files/Main_1.zip"), 1000)},
                         {"2.0", packageRecord("2.0", server.url("/files/Main_2.zip"), 2000)}}.dump()}}},
         {"/pl/up1_patchlist_prod_bao",
          withAlternate ? json{{"body", packageRecord("1.0", server.url("/files/Alt.zip"), 50).dump()}}
                        : json{{"body", "x"}, {"drop_after", 0}}}});
  }
};

TEST_F(PackageConfigProd, EntriesAreAlternateThenMainThenPlatform) {
  serve(true);
  EXPECT_EQ(manager.getTotalSize(), 2u * (50 + 2000 + 300));
  ASSERT_EQ(manager.entries.size(), 3u);
  EXPECT_EQ(manager.entries[0].fileName, "Alt.zip");
  EXPECT_TRUE(manager.entries[0].isAlternate);
  EXPECT_EQ(manager.entries[1].fileName, "Main_2.zip");  // no wanted version: the highest
  EXPECT_FALSE(manager.entries[1].isAlternate);
  EXPECT_EQ(manager.entries[2].fileName, "LumlumSetup.exe");
  EXPECT_TRUE(manager.isConfigValid());
}

TEST_F(PackageConfigProd, UnreachableAlternateHasNoFallbackAndFailsValidation) {
  serve(false);
  manager.getTotalSize();
  ASSERT_EQ(manager.entries.size(), 2u);
  EXPECT_EQ(manager.entries[0].fileName, "Main_2.zip");
  EXPECT_FALSE(manager.isConfigValid());
  EXPECT_FALSE(manager.checkConfig(L"/data/Games/Editor"));
}

}  // namespace
}  // namespace kx::test
