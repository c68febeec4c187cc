#include "setup/folder_replacement.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/support/small_volume.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class Replacement : public ::testing::Test {
 protected:
  void write(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    test::writeWholeFile(file, content);
  }
  // Every file below `folder` with its content.
  std::map<std::string, std::string> filesOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
      if (item.is_regular_file()) files[fs::relative(item.path(), folder).string()] = test::readWholeFile(item.path());
    return files;
  }
  std::map<std::string, std::string> oldGame{{"Editor.exe", "old editor"}, {"stale.dll", "only in the old version"}};
  std::map<std::string, std::string> newGame{{"Editor.exe", "new editor"}, {"Package/channel", "new"}};
  void install(const fs::path& folder, const std::map<std::string, std::string>& files) {
    for (const auto& [name, content] : files) write(folder / name, content);
  }

  test::TempDir tempDir;
  const fs::path pkg = fs::path(tempDir.path()) / "games/2.0";
  FolderReplacement replacement{pkg};
};

TEST_F(Replacement, NewVersionReplacesTheOldOneWhole) {
  install(pkg / "game", oldGame);
  write(pkg / "game2/game/Editor.exe", "alternate package");
  ASSERT_TRUE(replacement.prepare());
  EXPECT_TRUE(fs::is_empty(replacement.staging()));
  install(replacement.staging() / "game", newGame);
  EXPECT_EQ(filesOf(pkg / "game"), oldGame) << "the old version stays until the new one is complete";

  const auto committed = replacement.commit();
  ASSERT_TRUE(committed) << committed.reason;
  EXPECT_EQ(filesOf(pkg / "game"), newGame);
  EXPECT_EQ(test::readWholeFile(pkg / "game2/game/Editor.exe"), "alternate package");
  std::vector<std::string> left;
  for (const auto& item : fs::directory_iterator(pkg)) left.push_back(item.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"game", "game2"})) << "no staging or old version left behind";
}

TEST_F(Replacement, FirstInstallationAndDiscardedOne) {
  ASSERT_TRUE(replacement.prepare());
  install(replacement.staging() / "game", newGame);
  ASSERT_TRUE(replacement.commit());
  EXPECT_EQ(filesOf(pkg / "game"), newGame);

  ASSERT_TRUE(replacement.prepare());
  write(replacement.staging() / "game/Editor.exe", "half extracted");
  replacement.discard();
  EXPECT_EQ(filesOf(pkg / "game"), newGame);
  EXPECT_FALSE(fs::exists(replacement.staging()));
}

TEST_F(Replacement, RunInterruptedHalfwayIsFinishedOrUndone) {
  // Stopped after the old version went aside, before the new one came in: the old one goes back.
  install(pkg / ".replaced/game", oldGame);
  write(pkg / ".installing/game/Editor.exe", "new, never moved in");
  ASSERT_TRUE(replacement.prepare());
  EXPECT_EQ(filesOf(pkg / "game"), oldGame);
  EXPECT_TRUE(fs::is_empty(replacement.staging()));
  EXPECT_FALSE(fs::exists(pkg / ".replaced"));

  // Stopped after the new version came in, before the old one was removed: the old one goes.
  fs::remove_all(pkg);
  install(pkg / ".replaced/game", oldGame);
  install(pkg / "game", newGame);
  ASSERT_TRUE(replacement.prepare());
  EXPECT_EQ(filesOf(pkg / "game"), newGame);
  EXPECT_FALSE(fs::exists(pkg / ".replaced"));
}

TEST_F(Replacement, ItemThatCannotBeMovedPutsEverythingBack) {
  // A mount point cannot be moved, as a folder in use on Windows cannot.
  install(pkg / "game", oldGame);
  test::SmallVolume inUse(pkg / "zz-in-use", 1 << 20);
  if (!inUse.mounted()) GTEST_SKIP() << inUse.why();
  write(pkg / "zz-in-use/data", "old data");
  ASSERT_TRUE(replacement.prepare());
  install(replacement.staging() / "game", newGame);
  write(replacement.staging() / "zz-in-use/data", "new data");

  const auto committed = replacement.commit();
  ASSERT_FALSE(committed);
  EXPECT_NE(committed.reason.find("zz-in-use"), std::string::npos) << committed.reason;
  EXPECT_EQ(filesOf(pkg / "game"), oldGame) << "the item moved in before is taken back out";
  EXPECT_EQ(test::readWholeFile(pkg / "zz-in-use/data"), "old data");
  EXPECT_EQ(filesOf(replacement.staging() / "game"), newGame);
  EXPECT_FALSE(fs::exists(pkg / ".replaced"));
}

}  // namespace
}  // namespace kx
