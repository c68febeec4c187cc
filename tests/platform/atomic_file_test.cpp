#include "platform/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "tests/support/file_size_limit.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;

// Everything in the folder but the target itself.
std::vector<std::string> othersBeside(const fs::path& target) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(target.parent_path()))
    if (entry.path() != target) names.push_back(entry.path().filename().string());
  return names;
}

// A process replacing one file over and over with two large contents is
// killed at random moments: every kill leaves one content or the other, and
// what the killed writers leave behind is gone after the next replacement.
TEST(WriteFileAtomically, AKilledWriterLeavesOldOrNewContentAndNoTemporaryPilesUp) {
  test::TempDir dir;
  const fs::path target = dir.file("pkg.zip.cfg");
  const std::string first(1 << 20, 'a');
  const std::string second(1 << 20, 'b');
  ASSERT_TRUE(writeFileAtomically(target, first));
  std::mt19937 random(std::random_device{}());
  for (int kill = 0; kill < 20; ++kill) {
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      for (bool flip = false;; flip = !flip) writeFileAtomically(target, flip ? first : second);
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(2000, 20000)(random));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    const std::string content = test::readWholeFile(target);
    ASSERT_TRUE(content == first || content == second) << "a torn file after kill " << kill;
    EXPECT_LE(othersBeside(target).size(), 1u) << "after kill " << kill;
  }
  ASSERT_TRUE(writeFileAtomically(target, "done"));
  EXPECT_EQ(test::readWholeFile(target), "done");
  EXPECT_EQ(othersBeside(target), std::vector<std::string>{});
}

// The temporary of a writer still at work is its own: another replacement of
// the same file leaves it alone, and removes it once the writer has let go.
TEST(WriteFileAtomically, LeavesTheTemporaryOfAWriterStillAtWork) {
  test::TempDir dir;
  const fs::path target = dir.file("hive.json");
  const std::string busy = dir.file("hive.json.tmp-Busy01");
  const std::string other = dir.file("other.json.tmp-Xyz123");
  test::writeWholeFile(busy, "half");
  test::writeWholeFile(other, "another file's");
  const int held = ::open(busy.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  ASSERT_TRUE(writeFileAtomically(target, "new"));
  EXPECT_TRUE(fs::exists(busy));
  ::close(held);
  ASSERT_TRUE(writeFileAtomically(target, "newer"));
  EXPECT_FALSE(fs::exists(busy));
  EXPECT_TRUE(fs::exists(other)) << "only the target's own temporaries are touched";
  EXPECT_EQ(test::readWholeFile(target), "newer");
}

TEST(WriteFileAtomically, AFailedReplacementKeepsTheOldContentAndLeavesNothingBehind) {
  test::TempDir dir;
  const fs::path target = dir.file("record.cfg");
  ASSERT_TRUE(writeFileAtomically(target, "old"));
  {
    test::FileSizeLimit full(4096);
    EXPECT_FALSE(writeFileAtomically(target, std::string(8192, 'x')));
  }
  EXPECT_EQ(test::readWholeFile(target), "old");
  EXPECT_EQ(othersBeside(target), std::vector<std::string>{});
  EXPECT_FALSE(writeFileAtomically(dir.file("no/such/folder/record.cfg"), "x"));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

TEST(RemoveAbandonedReplacements, RemovesOnlyTheTargetsTemporariesNobodyHolds) {
  test::TempDir dir;
  const fs::path target = dir.file("pkg.zip.cfg");
  for (const char* name : {"pkg.zip.cfg.tmp-a1B2c3", "pkg.zip.cfg.tmp-ZZZZZZ", "pkg.zip.cfg.tmp-short", "pkg.zip.cfg",
                           "pkg.zip.cfg.tmp", "pkg.zip.tmp-a1B2c3", "xpkg.zip.cfg.tmp-a1B2c3"})
    test::writeWholeFile(dir.file(name), "x");
  removeAbandonedReplacements(target);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir.path())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"pkg.zip.cfg", "pkg.zip.cfg.tmp", "pkg.zip.cfg.tmp-short", "pkg.zip.tmp-a1B2c3",
                                            "xpkg.zip.cfg.tmp-a1B2c3"}));
  removeAbandonedReplacements(dir.file("missing/folder/pkg.zip.cfg"));  // nothing to do, no error
}

}  // namespace
}  // namespace kx::platform
