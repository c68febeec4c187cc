#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/strings.h"
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

TEST(Volume, FreeSpaceIsThatOfTheNearestExistingFolderAndDrivesAreUnknown) {
  test::TempDir scratch;
  const std::wstring missing = fromUtf8(scratch.file("not/yet/there"));
  ASSERT_TRUE(freeDiskSpace(missing));
  EXPECT_NEAR(double(*freeDiskSpace(missing)), double(std::filesystem::space(scratch.path()).available), 64.0 * 1024 * 1024);
  for (const wchar_t* drive : {L"D:\\Games", L"d:/Games", L"Z:"}) {
    EXPECT_FALSE(namesKnownVolume(drive));
    EXPECT_EQ(freeDiskSpace(drive), std::nullopt);
  }
  EXPECT_TRUE(namesKnownVolume(L"/home/x"));
  EXPECT_TRUE(namesKnownVolume(L"relative:name"));
}

}  // namespace
}  // namespace kx::platform
