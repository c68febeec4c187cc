// The segmented downloader against the scripted test server.
#include "download/downloader.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "download/resume_record.h"
#include "platform/system_info.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/tools.h"
#include "tests/support/recording_callbacks.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"

namespace kx {
namespace {

using namespace kx::test;
using namespace std::chrono_literals;

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setExtraCaFile(server.caFile());
    platform::setProcessorCount(8);
  }
  void TearDown() override {
    downloader.reset();
    platform::setProcessorCount(0);
    setLowSpeedTimeSeconds(30);
    setExtraCaFile("");
  }

  // Serves `size` random bytes at /pkg.zip with the extra rule keys; returns the bytes.
  std::string serve(std::uint64_t size, nlohmann::json rule = nlohmann::json::object()) {
    writeRandomFile(source, size, 7);
    rule["file"] = source;
    server.route("/pkg.zip", rule);
    return readWholeFile(source);
  }
  void download(std::uint64_t size) { downloader->Download(server.url("/pkg.zip"), wide(dst), size, ""); }
  void resumeAlways() {
    calls.onReport = [this](const Report& report) {
      if (report.kind == Report::Interrupted) downloader->Resume(true);
    };
  }
  std::vector<nlohmann::json> gets() const {
    std::vector<nlohmann::json> result;
    for (const auto& request : server.requestsFor("/pkg.zip"))
      if (request["method"] == "GET") result.push_back(request);
    return result;
  }
  void writeRecord(bool supportResume, std::uint64_t size, std::vector<ResumeSegment> segments) {
    ResumeRecord record;
    record.supportResume = supportResume;
    record.size = size;
    record.url = server.url("/pkg.zip");
    record.dst = wide(dst);
    record.range = std::move(segments);
    SaveResumeRecord(wide(dst + ".cfg"), record);
  }

  TestServer server;
  TempDir dir;
  const std::string source = dir.file("source.bin");
  const std::string dst = dir.file("pkg.zip");
  RecordingCallbacks calls;
  std::unique_ptr<Downloader> downloader = std::make_unique<Downloader>(&calls, &calls);
};

TEST_F(DownloaderTest, SplitsIntoRangesOverVerifiedTls) {
  const std::string content = serve(1000);
  download(1000);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(calls.keys(Report::Finished), std::vector<std::string>{dst});
  EXPECT_EQ(readWholeFile(dst), content);
  EXPECT_EQ(downloader->GetTaskCount(), 3);
  EXPECT_EQ(calls.bytes().back(), 1000u);
  EXPECT_EQ(calls.keys(Report::Bytes).back(), dst);

  const auto requests = server.requestsFor("/pkg.zip");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0]["method"], "HEAD");
  EXPECT_EQ(requests[0]["range"], "bytes=0-1");
  std::set<std::string> ranges;
  for (const auto& get : gets()) {
    ranges.insert(get["range"].get<std::string>());
    EXPECT_EQ(get["headers"]["user-agent"], "Downloader/1.0");
    EXPECT_EQ(get["headers"]["referer"], "https://referer.test/");
  }
  EXPECT_EQ(ranges, (std::set<std::string>{"bytes=0-332", "bytes=333-665", "bytes=666-999"}));

  ResumeRecord record;
  ASSERT_TRUE(LoadResumeRecord(wide(dst + ".cfg"), record));
  ASSERT_EQ(record.range.size(), 3u);
  for (const auto& segment : record.range) EXPECT_TRUE(segment.bFinished && segment.seek == segment.length);
}

TEST_F(DownloaderTest, WithoutRangeSupportFetchesTheWholeFileOnce) {
  const std::string content = serve(50000, {{"ranges", false}});
  download(50000);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(readWholeFile(dst), content);
  EXPECT_EQ(downloader->GetTaskCount(), 1);
  const auto requests = gets();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0]["range"].is_null());
}

TEST_F(DownloaderTest, ResumesAfterEveryDroppedConnection) {
  const std::string content = serve(2 << 20, {{"drop_after", 512 << 10}});
  resumeAlways();
  download(2 << 20);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(readWholeFile(dst), content);
  EXPECT_GE(calls.count(Report::Interrupted), 3);
  EXPECT_GE(calls.count(Report::Reconnected), 1);
  // Every retry continues where its segment stopped, never before it.
  std::map<std::uint64_t, std::uint64_t> lastStartByEnd;
  for (const auto& get : gets()) {
    unsigned long long first = 0, last = 0;
    ASSERT_EQ(std::sscanf(get["range"].get<std::string>().c_str(), "bytes=%llu-%llu", &first, &last), 2);
    const auto [it, isNew] = lastStartByEnd.try_emplace(last, first);
    EXPECT_GE(first, it->second) << get["range"];
    it->second = first;
  }
  EXPECT_EQ(lastStartByEnd.size(), 3u);
}

// Without ranges a retry receives the file from its first byte again, so it
// must be written from the first byte again.
TEST_F(DownloaderTest, RetryWithoutRangesRestartsTheFile) {
  writeRandomFile(source, 400000, 3);
  const nlohmann::json whole = {{"file", source}, {"ranges", false}};
  nlohmann::json cut = whole;
  cut["drop_after"] = 150000;
  server.route("/pkg.zip", {{"responses", {whole, cut, whole}}});  // the probe, a dropped GET, a whole GET
  resumeAlways();
  download(400000);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(calls.count(Report::Interrupted), 1);
  EXPECT_EQ(readWholeFile(dst), readWholeFile(source));
}

TEST_F(DownloaderTest, FinishedRecordReportsCompletionWithoutRequests) {
  writeWholeFile(dst, std::string(1000, 'k'));
  writeRecord(true, 1000,
              {{true, true, false, 0, 333, 333, "pkg.zip_id_0"},
               {true, true, false, 333, 333, 333, "pkg.zip_id_1"},
               {true, true, false, 666, 334, 334, "pkg.zip_id_2"}});
  download(1000);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(calls.bytes(), (std::vector<std::uint64_t>{1000, 1000, 1000}));
  EXPECT_EQ(calls.keys(Report::Finished), std::vector<std::string>{dst});
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(readWholeFile(dst), std::string(1000, 'k'));
}

TEST_F(DownloaderTest, ResumedSegmentContinuesFromItsSeek) {
  const std::string content = serve(100000);
  writeWholeFile(dst, content.substr(0, 1000) + std::string(99000, '\0'));
  writeRecord(true, 100000, {{false, true, false, 0, 100000, 1000, "pkg.zip_id_0"}});
  download(100000);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(readWholeFile(dst), content);
  const auto requests = server.requestsFor("/pkg.zip");
  ASSERT_EQ(requests.size(), 1u);  // the record is trusted: no probe
  EXPECT_EQ(requests[0]["range"], "bytes=1000-99999");
}

// A crash can leave a range written to its end but not yet marked finished.
TEST_F(DownloaderTest, RangeWrittenToItsEndIsNotAskedForAgain) {
  const std::string content = serve(100000);
  writeWholeFile(dst, content.substr(0, 50000) + std::string(50000, '\0'));
  writeRecord(true, 100000,
              {{false, true, false, 0, 50000, 50000, "pkg.zip_id_0"}, {false, true, false, 50000, 50000, 0, "pkg.zip_id_1"}});
  download(100000);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(readWholeFile(dst), content);
  const auto requests = server.requestsFor("/pkg.zip");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["range"], "bytes=50000-99999");
}

// A server that ignores the Range header sends the file from its first byte,
// which must not land at the segment's offset.
TEST_F(DownloaderTest, WholeBodyWhereARangeWasAskedIsRefused) {
  const std::string content = serve(100000, {{"ranges", false}});
  writeWholeFile(dst, content.substr(0, 1000) + std::string(99000, '\0'));
  writeRecord(true, 100000, {{false, true, false, 0, 100000, 1000, "pkg.zip_id_0"}});
  download(100000);
  ASSERT_TRUE(calls.awaitCount(Report::Interrupted, 1));
  downloader->Stop();
  EXPECT_TRUE(calls.keys(Report::Finished).empty());
  EXPECT_EQ(readWholeFile(dst), content.substr(0, 1000) + std::string(99000, '\0'));
}

TEST_F(DownloaderTest, UnusableRecordsArePlannedAfresh) {
  const std::string content = serve(30000);
  struct Case {
    const char* name;
    bool supportResume;
    std::vector<ResumeSegment> segments;
    bool destinationPresent;
  };
  const std::vector<Case> cases = {
      {"no segments", true, {}, true},
      {"no range support", false, {{false, false, false, 0, 30000, 500, "pkg.zip_id_0"}}, true},
      {"destination missing", true, {{false, true, false, 0, 30000, 29000, "pkg.zip_id_0"}}, false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dst);
    if (c.destinationPresent) writeWholeFile(dst, std::string(30000, '\0'));
    writeRecord(c.supportResume, 30000, c.segments);
    server.reset();
    server.route("/pkg.zip", {{"file", source}});
    RecordingCallbacks fresh;
    Downloader engine(&fresh, &fresh);
    engine.Download(server.url("/pkg.zip"), wide(dst), 30000, "");
    ASSERT_TRUE(fresh.awaitKind(Report::Finished)) << c.name;
    EXPECT_EQ(readWholeFile(dst), content) << c.name;
    EXPECT_EQ(server.requestsFor("/pkg.zip").front()["method"], "HEAD") << c.name;
    EXPECT_EQ(engine.GetTaskCount(), 3) << c.name;
  }
}

TEST_F(DownloaderTest, StalledTransferEndsThroughTheLowSpeedLimit) {
  setLowSpeedTimeSeconds(1);
  // libcurl judges the speed over its last five seconds, so the stall starts at once.
  serve(1 << 20, {{"stall_after", 1}, {"stall_seconds", 60}});
  const auto started = std::chrono::steady_clock::now();
  download(1 << 20);
  ASSERT_TRUE(calls.awaitCount(Report::Interrupted, 1, 10s));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  downloader->Stop();
  EXPECT_TRUE(calls.keys(Report::Finished).empty());
}

// A disk that refuses the data must end in an interruption, never in a file reported complete.
TEST_F(DownloaderTest, RefusedWritesAreAnInterruption) {
  const std::string content = serve(4 << 20);
  writeWholeFile(dst, std::string(4 << 20, '\0'));  // already at full size: nothing needs to grow it
  {
    FileSizeLimit limit(1 << 20);
    download(4 << 20);
    // Every segment meets the limit; the first one only after writing a quarter of the file.
    ASSERT_TRUE(calls.awaitCount(Report::Interrupted, 3));
    downloader->Resume(false);
    downloader->Stop();
  }
  EXPECT_TRUE(calls.keys(Report::Finished).empty());
  ResumeRecord record;
  ASSERT_TRUE(LoadResumeRecord(wide(dst + ".cfg"), record));
  for (const auto& segment : record.range) {
    EXPECT_FALSE(segment.bFinished);
    if (segment.seek > 0) {
      EXPECT_LE(segment.start + segment.seek, 1u << 20) << "counted bytes that were never written";
    }
  }

  // Once the disk takes data again the same record finishes the file.
  resumeAlways();
  download(4 << 20);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_EQ(readWholeFile(dst), content);
}

// An error answer, or a server the build does not trust, is an interruption;
// Stop ends the wait for an answer without one.
TEST_F(DownloaderTest, FailedRequestsAreInterruptionsThatStopEnds) {
  struct Case {
    const char* name;
    nlohmann::json rule;
    std::string caFile;
  };
  serve(1000);
  const std::vector<Case> cases = {{"not found", {{"status", 404}}, server.caFile()},
                                   {"untrusted certificate", {{"file", source}}, ""}};
  for (const Case& c : cases) {
    server.route("/pkg.zip", c.rule);
    setExtraCaFile(c.caFile);
    RecordingCallbacks fresh;
    Downloader engine(&fresh, &fresh);
    engine.Download(server.url("/pkg.zip"), wide(dir.file(std::string(c.name) + ".zip")), 1000, "");
    ASSERT_TRUE(fresh.awaitCount(Report::Interrupted, 1)) << c.name;
    const auto stopping = std::chrono::steady_clock::now();
    engine.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2s) << c.name;
    EXPECT_TRUE(fresh.keys(Report::Finished).empty()) << c.name;
  }
}

}  // namespace
}  // namespace kx
