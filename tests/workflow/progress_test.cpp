// Progress of the download phase: the 300 ms throttle, the 0..90 scale and
// the speed from byte deltas, on ticks the test drives.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tests/workflow/workflow_fakes.h"

namespace kx::test {
namespace {

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setTickSource([this] { return now.load(); });
    manager.entries = {package("a.zip", 1000, false), package("b.zip", 3000, false)};
    manager.totalBytes = 4000;
    window.logProgress = true;
    window.attach(manager, L"/unused");
  }
  void TearDown() override { platform::setTickSource(nullptr); }

  static PackageEntry package(const std::string& name, std::uint64_t size, bool downloaded) {
    PackageEntry e;
    e.fileName = name;
    e.size = size;
    e.localPath = L"/dl/" + std::wstring(name.begin(), name.end());
    e.isDownloaded = downloaded;
    return e;
  }

  std::vector<std::string> reports() const {
    std::vector<std::string> found;
    for (const auto& event : log.events())
      if (event.starts_with("OnDownloadProgress")) found.push_back(event);
    return found;
  }

  std::atomic<std::uint64_t> now{10'000};
  EventLog log;
  RecordingWindow window{log};
  InstallMan manager{[](EngineKind, IDownloadCallBack*, IDownloadStateCallBack*) { return nullptr; }};
};

TEST_F(ProgressTest, OnProgressEvery100msIsReportedEveryThirdCall) {
  // b.zip (3000 of 4000 bytes) at 10, 20, ... 70 percent.
  for (int call = 0; call < 7; ++call, now += 100) manager.OnProgress(10 * (call + 1), 5000, "/dl/b.zip");
  // Reported at 0, 300 and 600 ms: 3000 * 10% = 300 bytes -> 300/4000*90 = 6.75.
  EXPECT_EQ(reports(), (std::vector<std::string>{"OnDownloadProgress(6,5000)", "OnDownloadProgress(27,5000)",
                                                 "OnDownloadProgress(47,5000)"}));
}

TEST_F(ProgressTest, OnProgressCountsFinishedFilesWhole) {
  manager.entries[0].isDownloaded = true;
  manager.OnProgress(50, 1, "/dl/b.zip");
  // (1000 + 1500) / 4000 * 90 = 56.25.
  EXPECT_EQ(reports(), (std::vector<std::string>{"OnDownloadProgress(56,1)"}));
}

TEST_F(ProgressTest, OnBytesTakesAFirstSampleThenReportsPercentAndSpeed) {
  manager.entries = {package("pkg.zip", 4000, false)};
  manager.OnBytes(1000, "/dl/pkg.zip");  // first sample: nothing reported
  now += 299;
  manager.OnBytes(1500, "/dl/pkg.zip");  // too soon
  now += 201;
  manager.OnBytes(2000, "/dl/pkg.zip");  // half of totalBytes, 1000 bytes in 500 ms
  EXPECT_EQ(reports(), (std::vector<std::string>{"OnDownloadProgress(45,2000)"}));
}

TEST_F(ProgressTest, NoTotalGivesZeroAndFewerBytesGiveNoSpeed) {
  manager.OnBytes(3000, "/dl/b.zip");
  now += 300;
  manager.OnBytes(1000, "/dl/b.zip");  // the file started again from scratch
  manager.totalBytes = 0;
  now += 300;
  manager.OnBytes(2000, "/dl/b.zip");
  EXPECT_EQ(reports(), (std::vector<std::string>{"OnDownloadProgress(22,0)", "OnDownloadProgress(0,3333)"}));
}

}  // namespace
}  // namespace kx::test
