// The shared destination file: how it is given its size and what a failed write reports.
#include "download/download_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/file_size_limit.h"
#include "tests/support/tools.h"
#include "tests/support/test_server.h"

namespace kx {
namespace {

using namespace kx::test;

TEST(DownloadWriter, ReusesAFileOfExactlyTheSizeAndReplacesOthers) {
  TempDir dir;
  const std::string path = dir.file("pkg.zip");
  struct Case {
    std::size_t existing;
    bool reused;
  };
  for (const Case c : {Case{1000, true}, Case{999, false}, Case{1001, false}}) {
    writeWholeFile(path, std::string(c.existing, 'k'));
    DownloadWriter writer(wide(path));
    EXPECT_TRUE(writer.Prepare(1000));
    writer.Close();
    const std::string content = readWholeFile(path);
    ASSERT_EQ(content.size(), 1000u) << c.existing;
    EXPECT_EQ(content == std::string(1000, 'k'), c.reused) << c.existing;
  }
}

TEST(DownloadWriter, NewFilesHaveTheFullSizeEitherWay) {
  TempDir dir;
  for (const auto allocation : {DownloadWriter::Allocation::Fast, DownloadWriter::Allocation::WriteLastByte}) {
    const std::string path = dir.file("new.zip");
    std::filesystem::remove(path);
    DownloadWriter writer(wide(path), allocation);
    ASSERT_TRUE(writer.Prepare(100000));
    EXPECT_TRUE(writer.Write(5, "abc", 3));
    writer.Close();
    std::string expected(100000, '\0');
    expected.replace(5, 3, "abc");
    if (allocation == DownloadWriter::Allocation::WriteLastByte) expected.back() = '\xFF';
    EXPECT_EQ(readWholeFile(path), expected);
  }
}

TEST(DownloadWriter, MissingFolderMakesEveryWriteFail) {
  TempDir dir;
  DownloadWriter writer(wide(dir.file("no/such/folder/pkg.zip")));
  EXPECT_FALSE(writer.Prepare(10));
  EXPECT_FALSE(writer.Write(0, "x", 1));
}

// A write the disk refuses must say so, and must not poison the writes after it.
TEST(DownloadWriter, RefusedWriteReportsFailureAndLaterWritesStillWork) {
  TempDir dir;
  const std::string path = dir.file("pkg.zip");
  DownloadWriter writer(wide(path));
  ASSERT_TRUE(writer.Prepare(1 << 20));
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(writer.Write(8192, "late", 4));
    EXPECT_TRUE(writer.Write(0, "head", 4));
  }
  EXPECT_TRUE(writer.Write(8192, "late", 4));
  writer.Close();
  const std::string content = readWholeFile(path);
  EXPECT_EQ(content.substr(0, 4), "head");
  EXPECT_EQ(content.substr(8192, 4), "late");
  EXPECT_FALSE(writer.Write(0, "x", 1)) << "closed";
}

}  // namespace
}  // namespace kx
