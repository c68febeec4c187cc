// Flavour prod from startWorker to the end report: the platform setup runs
// first, the package lands in the installation folder itself, and the
// channel goes to config\system\.cps.
#include <gtest/gtest.h>

#include "common/strings.h"
#include "install_manager/command_line.h"
#include "tests/installation/installation_fixture.h"
#include "tests/support/tools.h"

namespace kx::test {
namespace {

const nlohmann::json launcherArchive =
    nlohmann::json::array({{{"name", "lumlum/launcher.exe"}, {"data", "launcher"}}});

TEST_F(InstallationTest, ProdRunsTheSetupThenExtractsIntoTheFolderAndWritesTheChannel) {
  setChannel("store");
  fs::create_directories(root / "config" / "system");
  PackageEntry setup = platformSetup();
  PackageEntry editor = package("editor.zip", launcherArchive, "2.0");
  ASSERT_TRUE(install({editor, setup}));

  // The setup got the folder as one argument and logged 100, which is 95.
  const std::string arguments = readWholeFile(setupArguments());
  EXPECT_TRUE(arguments.starts_with("/S\n/NCRC\n/L=")) << arguments;
  EXPECT_TRUE(arguments.ends_with("\n/D=" + root.string() + "\n")) << arguments;
  // The setup reports 95 when it ends, the sequence 95 after it; extraction stays within 95 to 100.
  std::vector<std::string> install;
  for (const auto& e : log.events())
    if (e.starts_with("OnInstall")) install.push_back(e);
  ASSERT_GE(install.size(), 5u);
  EXPECT_EQ((std::vector<std::string>(install.begin(), install.begin() + 3)),
            (std::vector<std::string>{"OnInstallProgress(90)", "OnInstallProgress(95)", "OnInstallProgress(95)"}));
  EXPECT_EQ((std::vector<std::string>(install.end() - 2, install.end())),
            (std::vector<std::string>{"OnInstallProgress(100)", "OnInstallFinished"}));
  for (auto e = install.begin() + 3; e != install.end() - 2; ++e) {
    const int percent = std::stoi(e->substr(e->find('(') + 1));
    EXPECT_TRUE(percent >= 95 && percent <= 100) << *e;
  }

  EXPECT_EQ(readWholeFile(root / "game" / "launcher.exe"), "launcher");
  EXPECT_EQ(readWholeFile(root / "config" / "system" / ".cps"), "store");
  // No editor key, shortcut or scheme in this flavour.
  EXPECT_TRUE(fs::is_empty(desktop()));
  EXPECT_FALSE(registryValue(platform::RegistryRoot::ClassesRoot, L"kestrixeditor", L"URL Protocol"));
  EXPECT_FALSE(fs::exists(root.parent_path() / "editor.zip"));
  EXPECT_FALSE(fs::exists(root.parent_path() / "PlatformSetup.exe"));
}

TEST_F(InstallationTest, ProdWithoutChannelWritesNoChannelFile) {
  fs::create_directories(root / "config" / "system");
  ASSERT_TRUE(install({package("editor.zip", launcherArchive, "")}));
  EXPECT_TRUE(fs::exists(root / "game" / "launcher.exe"));
  EXPECT_FALSE(fs::exists(root / "config" / "system" / ".cps"));
}

}  // namespace
}  // namespace kx::test
