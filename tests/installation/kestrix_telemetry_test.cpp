// Flavour kestrix with the product's telemetry client linked: a whole
// installation, from the first command-line parse to the end report, makes no
// telemetry call, so nothing reaches the collection service and no telemetry
// file appears.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/locations.h"
#include "tests/installation/installation_fixture.h"
#include "tests/support/collection_service.h"
#include "tests/support/test_build_config.h"

namespace kx::test {
namespace {

TEST_F(InstallationTest, KestrixInstallationLeavesNoTelemetryTrace) {
  CollectionService service;
  setHost(HostRole::TELEMETRY, service.hostAndPort());
  const fs::path shared = platform::commonAppDataFolder();
  ASSERT_TRUE(shared.string().starts_with(scratch.path())) << "the shared data folder is redirected";

  InstallMan starter;
  starter.parseCommandLineOnce({L"KestrixSetup.exe", L"--channel", L"beta"});
  const nlohmann::json editor = nlohmann::json::array({{{"name", "lumlum/Editor.exe"}, {"data", "editor"}}});
  ASSERT_TRUE(install({package("editor.zip", editor, "2.0")}));
  EXPECT_TRUE(fs::exists(root / "games" / "2.0" / "game" / "Editor.exe"));

  EXPECT_TRUE(service.received().empty());
  EXPECT_FALSE(fs::exists(shared / "NimbrelTally"));
  EXPECT_FALSE(fs::exists(shared / "NimbrelTallyLog"));
}

}  // namespace
}  // namespace kx::test
