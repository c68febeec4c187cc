// Flavour kestrix from startWorker to the end report: the package folder per
// version, the editor key, the Run value, the URL scheme, the shortcut, the
// channel file, the removal of the downloads, and a failing step.
#include <gtest/gtest.h>

#include "common/strings.h"
#include "install_manager/command_line.h"
#include "tests/installation/installation_fixture.h"
#include "tests/support/recording_telemetry.h"
#include "tests/support/tools.h"

namespace kx::test {
namespace {

using platform::RegistryRoot;

const nlohmann::json editorArchive = nlohmann::json::array(
    {{{"name", "lumlum/Editor.exe"}, {"data", "editor"}}, {{"name", "lumlum/Package"}, {"dir", true}}});
const std::wstring runKey = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

std::vector<std::string> installEvents(const std::vector<std::string>& events) {
  std::vector<std::string> found;
  for (const auto& e : events)
    if (e.starts_with("OnInstall") || e.starts_with("OnCheckFileError")) found.push_back(e);
  return found;
}

TEST_F(InstallationTest, KestrixTwoPointZeroWithAutoRunAndChannel) {
  setChannel("beta");
  clearTelemetryCalls();
  PackageEntry editor = package("editor.zip", editorArchive, "2.0");
  const fs::path oldLink = desktop() / "Kestrix编辑器 2.0.lnk";
  writeWholeFile(oldLink, "old link");
  platform::setRegistryString(RegistryRoot::LocalMachine, runKey, L"KestrixEditor2.0", L"stale");
  ASSERT_TRUE(install({editor}));

  const auto events = installEvents(log.events());
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events.front(), "OnInstallProgress(90)");  // no setup ran: nothing between 90 and 95
  EXPECT_EQ(events[1], "OnInstallProgress(95)");
  EXPECT_EQ((std::vector<std::string>(events.end() - 2, events.end())),
            (std::vector<std::string>{"OnInstallProgress(100)", "OnInstallFinished"}));
  for (const auto& e : events) EXPECT_FALSE(e.starts_with("OnCheckFileError")) << e;
  EXPECT_TRUE(telemetryCalls().empty()) << "no telemetry call in this flavour";

  const fs::path game = root / "games" / "2.0" / "game";
  EXPECT_EQ(readWholeFile(game / "Editor.exe"), "editor");
  EXPECT_EQ(readWholeFile(game / "Package" / "channel"), "beta");
  EXPECT_TRUE(manager->downloadingPackage);

  const std::wstring editorKey = L"SOFTWARE\\Marrowin\\KestrixEditor\\2.0";
  EXPECT_EQ(registryValue(RegistryRoot::CurrentUser, editorKey, L"EditorPath"),
            fromUtf8(root.string()) + L"/");
  EXPECT_TRUE(registryValue(RegistryRoot::CurrentUser, editorKey, L"UpdateTime"));
  const std::wstring editorExe = fromUtf8((game / "Editor.exe").string());
  EXPECT_EQ(registryValue(RegistryRoot::ClassesRoot, L"kestrixeditor", L"URL Protocol"), editorExe);
  // Without auto-start the old Run value is deleted and none is set.
  EXPECT_FALSE(registryValue(RegistryRoot::LocalMachine, runKey, L"KestrixEditor2.0"));

  // The old shortcut went to the trash and a new one points at the editor.
  EXPECT_EQ(readWholeFile(trashedFiles() / oldLink.filename()), "old link");
  EXPECT_EQ(lnkInfoField(oldLink, "Local path"), (game / "Editor.exe").string());

  // The archive and its resume record are gone.
  EXPECT_FALSE(fs::exists(root.parent_path() / "editor.zip"));
  EXPECT_FALSE(fs::exists(root.parent_path() / "editor.zip.cfg"));
}

TEST_F(InstallationTest, KestrixOneZeroWithoutChannelOrShortcutButAutoRun) {
  PackageEntry editor = package("editor.zip", editorArchive, "1.0");
  choices = [](InstallMan& m) {
    m.autoRun = true;
    m.createDesktopShortcut = false;
  };
  ASSERT_TRUE(install({editor}));

  const fs::path game = root / "games" / "1.0" / "game";
  EXPECT_TRUE(fs::exists(game / "Editor.exe"));
  EXPECT_TRUE(fs::is_directory(game / "Package"));
  EXPECT_FALSE(fs::exists(game / "Package" / "channel"));
  EXPECT_EQ(registryValue(RegistryRoot::LocalMachine, runKey, L"KestrixEditor1.0"),
            fromUtf8((game / "Editor.exe").string()));
  EXPECT_FALSE(registryValue(RegistryRoot::ClassesRoot, L"kestrixeditor", L"URL Protocol"));
  EXPECT_FALSE(fs::exists(desktop() / "Kestrix编辑器 1.0.lnk"));
}

TEST_F(InstallationTest, PackageFoldersByVersionAndAlternate) {
  // A leftover game folder of an earlier installation goes completely.
  fs::create_directories(root / "game" / "old" / "deep");
  writeWholeFile(root / "game" / "old" / "deep" / "stale.txt", "stale");
  PackageEntry main = package("main.zip", editorArchive, "");
  PackageEntry alternate =
      package("alt.zip", nlohmann::json::array({{{"name", "lumlum/Alt.exe"}, {"data", "alt"}}}), "");
  alternate.isAlternate = true;
  ASSERT_TRUE(install({alternate, main}));

  EXPECT_EQ(readWholeFile(root / "game" / "Editor.exe"), "editor");
  EXPECT_FALSE(fs::exists(root / "game" / "old"));
  EXPECT_EQ(readWholeFile(root / "game2" / "game" / "Alt.exe"), "alt");
  EXPECT_FALSE(fs::exists(root / "game" / "Alt.exe"));
}

TEST_F(InstallationTest, AFailingStepIsReportedAndKeepsWhatIsInstalled) {
  PackageEntry first = package("first.zip", editorArchive, "2.0");
  // A version no folder can be named after: inspecting its old game folder fails.
  PackageEntry broken = package("broken.zip", editorArchive, std::string(300, 'v'));
  ASSERT_TRUE(install({first, broken}, "OnCheckFileError(" + broken.url + ")"));

  EXPECT_FALSE(log.contains("OnInstallFinished"));
  EXPECT_FALSE(log.contains("OnInstallProgress(100)"));
  EXPECT_TRUE(fs::exists(root / "games" / "2.0" / "game" / "Editor.exe"));
  // The downloads stay for another try.
  EXPECT_TRUE(fs::exists(root.parent_path() / "first.zip"));
  EXPECT_TRUE(fs::exists(root.parent_path() / "broken.zip"));
}

}  // namespace
}  // namespace kx::test
