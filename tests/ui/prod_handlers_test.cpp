// Flavour prod: the finish button's Run value, shortcut and launcher; and an
// installed platform found at start-up, which takes over from the installer.
#include <gtest/gtest.h>

#include "common/strings.h"
#include "tests/support/tools.h"
#include "tests/ui/handlers_fixture.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;

const std::wstring kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class ProdHandlers : public HandlersTest {
 protected:
  const fs::path installed{scratch.file("Games/Emberhold")};
  const fs::path launcher{installed / "Launcher.exe"};
  const fs::path fallback{installed / "game/launcher.exe"};
};

TEST_F(ProdHandlers, LaunchWritesTheRunValueAndTheShortcutThenStartsTheLauncher) {
  writeRecorder(launcher);
  window.installDir = fromUtf8(installed.string());
  EXPECT_TRUE(window.lanuchPlatform(true, true, L""));
  EXPECT_EQ(registryValue(true, kRun, L"Lumlum Platform"), fromUtf8(launcher.string()));
  // Named after the empty name exactly.
  EXPECT_EQ(lnkInfoField(desktop() / ".lnk", "Local path"), launcher.string());
  EXPECT_EQ(startedWith(launcher), (std::vector<std::string>{launcher.string()}));
}

TEST_F(ProdHandlers, WithoutTheLauncherTheGameLauncherStartsAndTheValueStillNamesTheFirst) {
  writeRecorder(fallback);
  window.installDir = fromUtf8(installed.string());
  manager.mapId = L"77";
  EXPECT_TRUE(window.lanuchPlatform(true, false, L""));
  EXPECT_EQ(registryValue(true, kRun, L"Lumlum Editor"), L"\"" + fromUtf8(launcher.string()) + L"\" --customgame=77");
  EXPECT_TRUE(!fs::exists(desktop()) || fs::is_empty(desktop()));
  EXPECT_EQ(startedWith(fallback), (std::vector<std::string>{fallback.string(), "--customgame=77"}));

  EXPECT_TRUE(window.lanuchPlatform(false, false, L"Lumlum Editor"));
  EXPECT_FALSE(registryValue(true, kRun, L"Lumlum Editor")) << "without auto-start the value goes";
}

TEST_F(ProdHandlers, CloseInstallerLinksTheLauncher) {
  window.installDir = fromUtf8(installed.string());
  EXPECT_TRUE(window.closeInstaller(false, L"Emberhold"));
  EXPECT_FALSE(fs::exists(desktop() / "Emberhold.lnk"));
  EXPECT_TRUE(window.closeInstaller(true, L"Emberhold"));
  EXPECT_EQ(lnkInfoField(desktop() / "Emberhold.lnk", "Local path"), launcher.string());
}

TEST_F(ProdHandlers, AnInstalledLauncherTakesOverAndTheWindowIsNeverShown) {
  writeRecorder(launcher);
  setUninstallString(L"Emberhold", fromUtf8((installed / "uninst.exe").string()));
  manager.mapId = L"5";
  EXPECT_TRUE(window.detectInstallation());
  EXPECT_EQ(window.installDir, fromUtf8(installed.string()));
  EXPECT_EQ(startedWith(launcher), (std::vector<std::string>{launcher.string(), "--customgame=5"}));
  EXPECT_EQ(lnkInfoField(desktop() / "Emberhold.lnk", "Local path"), launcher.string());
  EXPECT_EQ(window.callsOf("showNoticeMessage").size(), 1u);
  EXPECT_TRUE(window.callsOf("updateSelectDirectory").empty());
  // The loop has been told to end: the program ends without a window.
  EXPECT_EQ(uiengine::appLoop(), 0);
}

TEST_F(ProdHandlers, AnInstalledPlatformWithoutItsLauncherFillsTheFolderField) {
  setUninstallString(L"Emberhold", L"\"" + fromUtf8((installed / "uninst.exe").string()) + L"\"");
  EXPECT_FALSE(window.detectInstallation());
  EXPECT_EQ(window.callsOf("updateSelectDirectory"),
            (std::vector<std::vector<std::wstring>>{{fromUtf8(installed.string())}}));
  EXPECT_FALSE(fs::exists(desktop() / "Emberhold.lnk"));
}

TEST_F(ProdHandlers, NothingInstalledLeavesEverythingAlone) {
  window.installDir = L"/kept";
  EXPECT_FALSE(window.isInstalled(L"Emberhold"));
  EXPECT_EQ(window.installDir, L"/kept");
  window.installDir.clear();
  EXPECT_FALSE(window.detectInstallation());
  EXPECT_TRUE(window.pageCalls().empty());
}

}  // namespace
}  // namespace kx::test
