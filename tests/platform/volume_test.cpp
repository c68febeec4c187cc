#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/volume.h"
#include "tests/support/test_server.h"

namespace kx::platform {
namespace {

TEST(Volume, KnowsTheFileSystemOfPathsThatDoNotExistYet) {
  EXPECT_EQ(fileSystemType(L"/proc/self"), "");  // procfs: unknown, so no fast allocation
  EXPECT_FALSE(supportsFastAllocation(L"/proc/self"));
  EXPECT_EQ(fileSystemType(L"/dev/shm/kx/not/yet/there.zip"), "tmpfs");
  EXPECT_TRUE(supportsFastAllocation(L"/dev/shm/kx/not/yet/there.zip"));
  const auto space = freeDiskSpace(L"/dev/shm/kx/not/yet");
  ASSERT_TRUE(space.has_value());
  EXPECT_GT(*space, 0u);
}

TEST(Volume, FastAllocationReservesTheWholeLength) {
  test::TempDir dir;
  const std::string path = dir.file("big.bin");
  const int fd = open(path.c_str(), O_CREAT | O_RDWR, 0644);
  ASSERT_GE(fd, 0);
  const std::uint64_t size = 64ull << 20;
  if (!supportsFastAllocation(std::wstring(path.begin(), path.end()))) GTEST_SKIP() << "temporary folder cannot";
  ASSERT_TRUE(allocateFast(fd, size));
  struct stat st {};
  fstat(fd, &st);
  close(fd);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), size);
  EXPECT_GE(static_cast<std::uint64_t>(st.st_blocks) * 512, size);
}

}  // namespace
}  // namespace kx::platform
