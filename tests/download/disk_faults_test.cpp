// The segmented downloader against a disk that refuses it: full, unable to
// create or close the file, and the order in which data and record reach the
// disk. The file calls are taken over through tests/support/io_faults.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "download/downloader.h"
#include "download/resume_record.h"
#include "platform/system_info.h"
#include "tests/support/tools.h"
#include "tests/support/recording_callbacks.h"
#include "tests/support/io_faults/io_faults.h"
#include "tests/support/small_volume.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"

namespace kx {
namespace {

using namespace kx::test;
using namespace std::chrono_literals;

constexpr std::uint64_t kSize = 3 << 20;

class DiskFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setExtraCaFile(server.caFile());
    platform::setProcessorCount(8);
    writeRandomFile(source, kSize, 5);
    server.route("/pkg.zip", {{"file", source}});
  }
  void TearDown() override {
    io::reset();
    platform::setProcessorCount(0);
    setExtraCaFile("");
  }

  std::size_t gets() const {
    std::size_t count = 0;
    for (const auto& request : server.requestsFor("/pkg.zip")) count += request["method"] == "GET";
    return count;
  }

  TestServer server;
  TempDir dir;
  const std::string source = dir.file("source.bin");
  const std::string dst = dir.file("pkg.zip");
};

// After a power loss the record must not claim bytes that never reached the
// disk: every record that replaces the last one counts only flushed data, and
// the folder is flushed after the rename that makes it the record.
TEST_F(DiskFaultsTest, DataIsFlushedBeforeARecordClaimsIt) {
  io::record(dir.path());
  RecordingCallbacks calls;
  {
    Downloader engine(&calls, &calls);
    engine.Download(server.url("/pkg.zip"), wide(dst), kSize, "");
    ASSERT_TRUE(calls.awaitKind(Report::Finished));
  }
  EXPECT_TRUE(sameBytes(readWholeFile(dst), readWholeFile(source)));

  std::uint64_t written = 0, flushed = 0;
  int records = 0;
  bool awaitingFolderFlush = false;
  for (const io::Event& event : io::events()) {
    if (event.path == dst && event.call == io::Call::Write) written += event.length;
    if (event.path == dst && event.call == io::Call::DataSync && event.error == 0) flushed = written;
    if (event.path == dir.path() && event.call == io::Call::Sync) awaitingFolderFlush = false;
    if (event.call != io::Call::Rename || event.path != dst + ".cfg" || event.error != 0) continue;
    EXPECT_FALSE(awaitingFolderFlush) << "the previous record's rename was never flushed to its folder";
    std::uint64_t claimed = 0;
    for (const auto& segment : nlohmann::json::parse(event.content)["range"]) claimed += segment["seek"].get<std::uint64_t>();
    EXPECT_LE(claimed, flushed) << "record " << records << " claims bytes not yet flushed";
    awaitingFolderFlush = true;
    ++records;
  }
  EXPECT_FALSE(awaitingFolderFlush);
  EXPECT_GE(records, 2);
}

// A file whose last bytes cannot be flushed or closed is not complete.
TEST_F(DiskFaultsTest, AFileThatCannotBeFlushedOrClosedIsNotReportedComplete) {
  for (const io::Call call : {io::Call::DataSync, io::Call::Close}) {
    SCOPED_TRACE(call == io::Call::DataSync ? "flush" : "close");
    std::filesystem::remove(dst);
    std::filesystem::remove(dst + ".cfg");
    io::reset();
    io::fail(call, "/pkg.zip", EIO);
    RecordingCallbacks calls;
    Downloader engine(&calls, &calls);
    engine.Download(server.url("/pkg.zip"), wide(dst), kSize, "");
    ASSERT_TRUE(calls.awaitKind(Report::DiskUnwritable));
    EXPECT_FALSE(calls.awaitKind(Report::Finished, 500ms));
    engine.Stop();
    EXPECT_EQ(calls.count(Report::Interrupted), 0);
  }
}

// A disk that cannot take the file is told as such, once, and nothing is
// fetched again until the person answers; with room made, the same run ends
// byte-exact.
TEST_F(DiskFaultsTest, AFullDiskIsReportedOnceAndWaitsForTheAnswer) {
  struct Case {
    const char* name;
    io::Call call;
    int error;
    std::uint64_t afterBytes;
    Report::Kind expected;
    std::size_t getsBeforeTheAnswer;
  };
  const Case cases[] = {
      {"allocation, no space", io::Call::Allocate, ENOSPC, 0, Report::DiskFull, 0},
      {"allocation, quota", io::Call::Allocate, EDQUOT, 0, Report::DiskFull, 0},
      {"writes, no space", io::Call::Write, ENOSPC, 1 << 20, Report::DiskFull, 3},
      {"file cannot be created", io::Call::Open, EACCES, 0, Report::DiskUnwritable, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dst);
    std::filesystem::remove(dst + ".cfg");
    io::reset();
    server.reset();
    server.route("/pkg.zip", {{"file", source}});
    io::fail(c.call, "/pkg.zip", c.error, c.afterBytes);
    RecordingCallbacks calls;
    Downloader engine(&calls, &calls);
    engine.Download(server.url("/pkg.zip"), wide(dst), kSize, "");
    ASSERT_TRUE(calls.awaitKind(c.expected));
    std::this_thread::sleep_for(1s);  // room for a retry storm, were there one
    EXPECT_EQ(calls.count(Report::DiskFull) + calls.count(Report::DiskUnwritable), 1);
    EXPECT_EQ(calls.count(Report::Interrupted), 0);
    EXPECT_EQ(gets(), c.getsBeforeTheAnswer);
    EXPECT_TRUE(calls.keys(Report::Finished).empty());
    if (c.call == io::Call::Allocate) {
      // No sparse file stands in for space that is not there.
      std::error_code ec;
      EXPECT_NE(std::filesystem::file_size(dst, ec), kSize);
    }

    io::reset();
    engine.Resume(true);
    ASSERT_TRUE(calls.awaitKind(Report::Finished));
    EXPECT_TRUE(sameBytes(readWholeFile(dst), readWholeFile(source)));
  }
}

// A file system that cannot reserve space still gets the file, written sparse.
TEST_F(DiskFaultsTest, AFileSystemWithoutAllocationGetsASparseFile) {
  io::fail(io::Call::Allocate, "/pkg.zip", EOPNOTSUPP);
  RecordingCallbacks calls;
  Downloader engine(&calls, &calls);
  engine.Download(server.url("/pkg.zip"), wide(dst), kSize, "");
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_TRUE(sameBytes(readWholeFile(dst), readWholeFile(source)));
  EXPECT_EQ(calls.count(Report::DiskFull) + calls.count(Report::DiskUnwritable), 0);
}

// The same on a real volume too small for the package.
TEST_F(DiskFaultsTest, ASmallVolumeIsReportedFull) {
  SmallVolume volume(1 << 20);
  if (!volume.mounted()) GTEST_SKIP() << volume.why();
  RecordingCallbacks calls;
  Downloader engine(&calls, &calls);
  engine.Download(server.url("/pkg.zip"), wide(volume.file("pkg.zip")), kSize, "");
  ASSERT_TRUE(calls.awaitKind(Report::DiskFull));
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(calls.count(Report::DiskFull), 1);
  EXPECT_EQ(calls.count(Report::Interrupted), 0);
  EXPECT_EQ(gets(), 0u);
  engine.Stop();
}

}  // namespace
}  // namespace kx
