// The package configuration in flavour kestrix: one main configuration, no
// platform descriptor unless the command line names one.
#include <gtest/gtest.h>

#include "common/build_config.h"
#include "tests/package_config/fixture.h"

namespace kx::test {
namespace {

using nlohmann::json;

constexpr const char* kMainPath = "/pl/up1_patchlist_produp5";

class PackageConfig : public ServerFixture {
 protected:
  void serveMain(const json& rule) { server.route(kMainPath, rule); }
  void serveFlat(std::uint64_t size, const std::string& path = "/files/Kestrix_2.0.zip") {
    json flat = packageRecord("2.0", server.url(path), size);
    flat.erase("game_url_nos");
    serveMain({{"body", flat.dump()}});
  }
};

TEST_F(PackageConfig, FlatDocumentGivesOneEntryAndTwiceItsSize) {
  serveFlat(1000);
  EXPECT_EQ(manager.getTotalSize(), 2000u);
  ASSERT_EQ(manager.entries.size(), 1u);
  const PackageEntry& entry = manager.entries[0];
  EXPECT_EQ(entry.fileName, "Kestrix_2.0.zip");
  EXPECT_TRUE(entry.isPackage && entry.selected);
  EXPECT_FALSE(entry.isAlternate || entry.isPlatformInstaller);
  EXPECT_TRUE(manager.isConfigValid());
  EXPECT_EQ(manager.totalBytes, 1000u);

  // Loaded once, asked for with a time stamp; a later call only checks again.
  EXPECT_EQ(manager.getTotalSize(), 2000u);
  const auto requests = server.requestsFor(kMainPath);
  ASSERT_EQ(requests.size(), 1u);
  const std::string stamp = requests[0]["query"];
  EXPECT_GE(stamp.size(), 10u);
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos);
}

TEST_F(PackageConfig, MainConfigurationDownGivesTheBuiltInVersion2) {
  setHost(HostRole::DOWNLOAD, "dl.kx.test");
  serveMain({{"body", "never arrives whole"}, {"drop_after", 0}});
  const std::uint64_t total = manager.getTotalSize();
  ASSERT_EQ(manager.entries.size(), 1u);
  const PackageEntry& entry = manager.entries[0];
  EXPECT_EQ(entry.bigVersion, "2.0");
  EXPECT_EQ(entry.url.rfind("https://dl.kx.test/", 0), 0u) << entry.url;
  EXPECT_EQ(entry.md5.size(), 32u);
  EXPECT_GT(entry.size, 0u);
  EXPECT_EQ(total, 2 * entry.size);
  EXPECT_TRUE(manager.isConfigValid());
}

TEST_F(PackageConfig, UnusableDocumentsLeaveNoEntryAndFailValidation) {
  json noMd5 = packageRecord("2.0", server.url("/files/p.zip"), 5);
  noMd5.erase("md5");
  json negative = packageRecord("2.0", server.url("/files/p.zip"), 5);
  negative["size"] = -5;
  const json cases[] = {
      {{"body", noMd5.dump()}},
      {{"body", negative.dump()}},
      {{"status", 404}},
      {{"body_b64", "AP/+3q2+7wAB"}},
      {{"body", json{{"1.0", packageRecord("1.0", server.url("/files/p.zip"), 5)}}.dump()}},  // no "2.0"
  };
  for (const auto& rule : cases) {
    SCOPED_TRACE(rule.dump());
    InstallMan fresh;
    server.reset();
    serveMain(rule);
    fresh.getTotalSize();
    EXPECT_TRUE(fresh.entries.empty());
    EXPECT_FALSE(fresh.isConfigValid());
    EXPECT_FALSE(fresh.checkConfig(L"/data/Games/Editor"));
  }
}

TEST_F(PackageConfig, BaseFolderIsTheFolderHoldingTheChosenOne) {
  serveFlat(7, "/files/pkg.zip");
  manager.getTotalSize();
  ASSERT_EQ(manager.entries.size(), 1u);
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"/data/Games/Editor", L"/data/Games/pkg.zip"},
      {L"/data/Games/Editor/", L"/data/Games/pkg.zip"},
      {L"/data/Games/Editor//", L"/data/Games/pkg.zip"},
      {L"/Editor", L"/pkg.zip"},
      {L"/数据/游戏/编辑器", L"/数据/游戏/pkg.zip"},
  };
  for (const auto& [chosen, expected] : cases) {
    EXPECT_TRUE(manager.checkConfig(chosen));
    EXPECT_EQ(manager.entries[0].localPath, expected);
  }
  // Without a folder the paths stay as they were.
  EXPECT_TRUE(manager.checkConfig(L""));
  EXPECT_EQ(manager.entries[0].localPath, L"/数据/游戏/pkg.zip");
}

TEST_F(PackageConfig, MissingSizeIsProbedWithHead) {
  struct Case {
    json fileSpec;
    bool ok;
    std::uint64_t size;
  };
  const Case cases[] = {
      {{{"body", std::string(4321, 'z')}}, true, 4321},
      {{{"body", std::string(4321, 'z')}, {"content_length", false}}, false, 0},
      {{{"status", 404}}, false, 0},  // the error page's length is not the package's
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileSpec.dump());
    InstallMan fresh;
    server.reset();
    serveFlat(0, "/files/pkg.zip");
    server.route("/files/pkg.zip", c.fileSpec);
    fresh.getTotalSize();
    ASSERT_EQ(fresh.entries.size(), 1u);
    EXPECT_EQ(fresh.checkConfig(L"/data/Games/Editor"), c.ok);
    EXPECT_EQ(fresh.entries[0].size, c.size);
    EXPECT_EQ(fresh.totalBytes, c.size);
    const auto probes = server.requestsFor("/files/pkg.zip");
    ASSERT_FALSE(probes.empty());
    for (const auto& probe : probes) EXPECT_EQ(probe["method"], "HEAD");
  }
}

}  // namespace
}  // namespace kx::test
