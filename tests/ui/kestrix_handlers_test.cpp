// Flavour kestrix: the finish button starts the installed 2.0 editor, and an
// installed 2.0 editor at start-up brings the overwrite question.
#include <gtest/gtest.h>

#include "common/strings.h"
#include "setup/registry_integration.h"
#include "tests/ui/handlers_fixture.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;

class KestrixHandlers : public HandlersTest {
 protected:
  const fs::path installed{scratch.file("My Games/kestrix")};
  // Installed the way the installation sequence lays it out.
  const fs::path editor{installed / "games/2.0/game/Editor.exe"};
};

TEST_F(KestrixHandlers, LaunchStartsOnlyTheEditorWithTheLaunchText) {
  writeRecorder(editor);
  window.installDir = fromUtf8(installed.string());
  manager.mapId = L"123";
  EXPECT_TRUE(window.lanuchPlatform(true, true, L"Emberhold"));
  EXPECT_EQ(startedWith(editor), (std::vector<std::string>{editor.string(), "--customgame=123"}));
  EXPECT_FALSE(registryValue(true, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"Emberhold"));
  EXPECT_TRUE(!fs::exists(desktop()) || fs::is_empty(desktop())) << "no shortcut";
}

TEST_F(KestrixHandlers, AnInstalledEditorBringsTheOverwriteQuestion) {
  writeRecorder(editor);
  WriteEditorPathKey("2.0", fromUtf8(installed.string()));
  EXPECT_FALSE(window.detectInstallation()) << "the window is shown";
  EXPECT_EQ(window.callsOf("showOverlay"), (std::vector<std::vector<std::wstring>>{{L"2.0", fromUtf8(installed.string())}}));
  EXPECT_EQ(window.pageCalls().size(), 1u);
}

TEST_F(KestrixHandlers, ARecordedEditorThatIsGoneAsksNothing) {
  WriteEditorPathKey("2.0", fromUtf8(installed.string()));
  EXPECT_FALSE(window.detectInstallation());
  EXPECT_TRUE(window.pageCalls().empty());
}

}  // namespace
}  // namespace kx::test
