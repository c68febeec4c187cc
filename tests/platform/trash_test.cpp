#include "platform/trash.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "common/strings.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;

TEST(Trash, MovesFilesWithTheirOriginalPathAndNeverClobbers) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
  fs::create_directories(scratch / "Desktop");
  const auto link = scratch / "Desktop" / "Kestrix编辑器 2.0.lnk";
  test::writeWholeFile(link, "first");
  ASSERT_EQ(moveToTrash(fromUtf8(link.string())), 0);
  EXPECT_FALSE(fs::exists(link));
  test::writeWholeFile(link, "second");
  ASSERT_EQ(moveToTrash(fromUtf8(link.string())), 0);

  const auto trash = scratch / "data/Trash";
  EXPECT_EQ(test::readWholeFile(trash / "files/Kestrix编辑器 2.0.lnk"), "first");
  EXPECT_EQ(test::readWholeFile(trash / "files/Kestrix编辑器 2.0.2.lnk"), "second");
  const std::string info = test::readWholeFile(trash / "info/Kestrix编辑器 2.0.lnk.trashinfo");
  EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=" + scratch.string() +
                               "/Desktop/Kestrix%E7%BC%96%E8%BE%91%E5%99%A8%202.0.lnk\nDeletionDate=20"))
      << info;

  EXPECT_EQ(moveToTrash(fromUtf8(link.string())), ENOENT);
  EXPECT_FALSE(fs::exists(trash / "info/Kestrix编辑器 2.0.3.lnk.trashinfo"));
}

}  // namespace
}  // namespace kx::platform
