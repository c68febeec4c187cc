// Flavour qv from startWorker to the end report: the package folder under
// Games\kestrix, the versioned shortcut, the URL scheme, the map shortcut,
// channel.dat and the installation's telemetry events.
#include <gtest/gtest.h>

#include "common/strings.h"
#include "install_manager/command_line.h"
#include "tests/installation/installation_fixture.h"
#include "tests/support/recording_telemetry.h"
#include "tests/support/tools.h"

namespace kx::test {
namespace {

const nlohmann::json editorArchive = nlohmann::json::array({{{"name", "lumlum/Editor.exe"}, {"data", "editor"}}});

std::vector<std::wstring> events() {
  std::vector<std::wstring> names;
  for (const auto& call : telemetryCalls())
    if (call.call == "TrackEvent") names.push_back(call.arguments.at(0));
  return names;
}

TEST_F(InstallationTest, QvInstallsUnderGamesKestrixWithMapShortcutAndChannel) {
  setChannel("qvchan");
  fs::create_directories(root / "config" / "platform");
  PackageEntry setup = platformSetup();
  PackageEntry twoZero = package("two.zip", editorArchive, "2.0");
  PackageEntry unversioned = package("one.zip", nlohmann::json::array({{{"name", "../evil"}, {"data", "x"}}}), "");
  choices = [](InstallMan& m) {
    m.mapId = L"m42";
    m.mapDisplayName = L"Harbour Run";
  };
  clearTelemetryCalls();
  window.checkAnswer = RecordingWindow::CheckAnswer::Never;
  ASSERT_TRUE(install({unversioned, twoZero, setup}, "OnCheckFileError(" + unversioned.url + ")"));

  const fs::path game = root / "Games" / "kestrix" / "2.0" / "game";
  EXPECT_EQ(readWholeFile(game / "Editor.exe"), "editor");
  // The refused archive wrote nothing outside its folder, got no shortcut to
  // an editor that is not there, and the sequence went on with the others.
  EXPECT_FALSE(fs::exists(root / "Games" / "kestrix" / "evil"));
  EXPECT_EQ(lnkInfoField(desktop() / "Kestrix编辑器 2.0.lnk", "Local path"), (game / "Editor.exe").string());
  EXPECT_FALSE(fs::exists(desktop() / "Kestrix编辑器 1.0.lnk"));
  EXPECT_FALSE(fs::exists(root / "Games" / "kestrix" / "1.0" / "game"));
  EXPECT_EQ(registryValue(platform::RegistryRoot::ClassesRoot, L"kestrixeditor", L"URL Protocol"),
            fromUtf8((game / "Editor.exe").string()));
  EXPECT_EQ(lnkInfoField(desktop() / "Harbour Run.lnk", "Local path"), (root / "Platform.exe").string());
  EXPECT_EQ(readWholeFile(root / "config" / "platform" / "channel.dat"), "qvchan");
  // The failed extraction of the refused archive sends no success.
  const std::vector<std::wstring> expected{L"install_platform", L"install_platform_success", L"unzip_game",
                                           L"unzip_game",       L"unzip_game_success"};
  std::vector<std::wstring> installation;
  for (const auto& e : events())
    if (e.starts_with(L"install_") || e.starts_with(L"unzip_")) installation.push_back(e);
  EXPECT_EQ(installation, expected);
  // The window hears of the package that was not installed, not of an end.
  EXPECT_FALSE(log.contains("OnInstallFinished"));
  EXPECT_FALSE(log.contains("OnInstallProgress(100)"));
  EXPECT_TRUE(fs::exists(root.parent_path() / "one.zip")) << "kept for another try";
}

}  // namespace
}  // namespace kx::test
