// Flavour qv: an installed platform whose editor is known only to the
// platform's settings file brings the finish screen; the finish button starts
// the platform on the map.
#include <gtest/gtest.h>

#include "common/strings.h"
#include "tests/support/tools.h"
#include "tests/ui/handlers_fixture.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;

class QvHandlers : public HandlersTest {
 protected:
  void SetUp() override {
    writeRecorder(platform);
    setUninstallString(L"zzarenahq", fromUtf8((installed / "uninstall.exe").string()));
  }
  const fs::path installed{scratch.file("zzarenahq")};
  const fs::path platform{installed / "Platform.exe"};
};

TEST_F(QvHandlers, AnEditorNamedByThePlatformSettingsShowsTheFinishScreen) {
  const fs::path editor = scratch.file("elsewhere/Kestrix/Editor.exe");
  writeRecorder(editor);
  fs::create_directories(installed / "config/custom");
  writeWholeFile(installed / "config/custom/platform.ini",
                 "[Other]\r\nExePath=/nowhere\r\n[KestrixGame]\r\nExePath=" + editor.string() + "\r\n");
  EXPECT_FALSE(window.detectInstallation());
  const std::wstring folder = fromUtf8(installed.string());
  EXPECT_EQ(window.callsOf("installFinished"), (std::vector<std::vector<std::wstring>>{{folder}}));
  EXPECT_EQ(window.callsOf("updateSelectDirectory"), (std::vector<std::vector<std::wstring>>{{folder}}));
}

TEST_F(QvHandlers, APlatformWithoutTheEditorFillsTheFolderField) {
  fs::create_directories(installed / "config/custom");
  writeWholeFile(installed / "config/custom/platform.ini", "[KestrixGame]\nExePath=" + scratch.file("gone.exe") + "\n");
  EXPECT_FALSE(window.detectInstallation());
  EXPECT_TRUE(window.callsOf("installFinished").empty());
  EXPECT_EQ(window.callsOf("updateSelectDirectory").size(), 1u);
  EXPECT_FALSE(startedWith(platform)) << "the platform is not started in flavour qv";
}

TEST_F(QvHandlers, LaunchStartsThePlatformOnTheMap) {
  window.installDir = fromUtf8(installed.string());
  manager.mapId = L"123";
  EXPECT_TRUE(window.lanuchPlatform(false, true, L"x"));
  EXPECT_EQ(startedWith(platform), (std::vector<std::string>{platform.string(), toUtf8(manager.buildLaunchArgs())}));
  EXPECT_TRUE(!fs::exists(desktop()) || fs::is_empty(desktop()));
}

}  // namespace
}  // namespace kx::test
