#include "platform/path_case.h"

#include <gtest/gtest.h>

#include "common/strings.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;

TEST(PathCase, FindsPathsWhateverTheirLetterCase) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  std::filesystem::create_directories(scratch / "root/games/2.0/game");
  test::writeWholeFile(scratch / "root/games/2.0/game/Editor.exe", "x");
  const std::wstring root = fromUtf8((scratch / "root").string());
  EXPECT_TRUE(existsIgnoringCase(root + L"/games/2.0/game/Editor.exe"));
  EXPECT_TRUE(existsIgnoringCase(root + L"//Games/2.0/GAME/editor.EXE"));
  EXPECT_FALSE(existsIgnoringCase(root + L"/Games/1.0/game/Editor.exe"));
  EXPECT_FALSE(existsIgnoringCase(root + L"/Games/2.0/game/Editor.exe/x"));
  // The name on disk, for starting the program found.
  EXPECT_EQ(findIgnoringCase(root + L"/Games/2.0/GAME/editor.EXE"), root + L"/games/2.0/game/Editor.exe");
  EXPECT_EQ(findIgnoringCase(root + L"/games/2.0/game/Editor.exe"), root + L"/games/2.0/game/Editor.exe");
  EXPECT_EQ(findIgnoringCase(root + L"/Games/1.0"), std::nullopt);
}

}  // namespace
}  // namespace kx::platform
