// The segmented downloader against the scripted test server.
#include "download/downloader.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

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

// A record is trusted only when it describes exactly the download asked for;
// anything else is planned afresh, and the old bytes never mix into the new file.
TEST_F(DownloaderTest, RecordsThatDoNotDescribeThisDownloadArePlannedAfresh) {
  const std::string content = serve(30000);
  const auto segment = [](std::int64_t start, std::int64_t length, std::int64_t seek, bool finished,
                          std::string id) {
    return nlohmann::json{{"bFinished", finished}, {"bRange", true}, {"start", start},
                          {"length", length},      {"seek", seek},   {"tmp", id}};
  };
  struct Case {
    const char* name;
    std::string url;
    std::int64_t size;  // the record's, and the size of the old file beside it
    std::string dst;
    nlohmann::json range;
  };
  const std::string url = server.url("/pkg.zip");
  const std::string other = dir.file("other.zip");
  const std::vector<Case> cases = {
      {"overlapping ranges", url, 30000, dst,
       {segment(0, 20000, 5000, false, "pkg.zip_id_0"), segment(10000, 20000, 0, false, "pkg.zip_id_1")}},
      {"a gap between ranges", url, 30000, dst,
       {segment(0, 10000, 0, false, "pkg.zip_id_0"), segment(20000, 10000, 0, false, "pkg.zip_id_1")}},
      {"negative seek", url, 30000, dst, {segment(0, 30000, -1, false, "pkg.zip_id_0")}},
      {"seek beyond its range", url, 30000, dst,
       {segment(0, 15000, 15001, false, "pkg.zip_id_0"), segment(15000, 15000, 0, false, "pkg.zip_id_1")}},
      {"every range finished, none written", url, 30000, dst,
       {segment(0, 15000, 0, true, "pkg.zip_id_0"), segment(15000, 15000, 0, true, "pkg.zip_id_1")}},
      {"duplicate ids", url, 30000, dst,
       {segment(0, 15000, 0, false, "pkg.zip_id_0"), segment(15000, 15000, 0, false, "pkg.zip_id_0")}},
      {"another destination", url, 30000, other, {segment(0, 30000, 100, false, "pkg.zip_id_0")}},
      {"another URL, finished", server.url("/v1/pkg.zip"), 30000, dst,
       {segment(0, 15000, 15000, true, "pkg.zip_id_0"), segment(15000, 15000, 15000, true, "pkg.zip_id_1")}},
      {"an older, smaller package", url, 20000, dst,
       {segment(0, 10000, 10000, true, "pkg.zip_id_0"), segment(10000, 10000, 2000, false, "pkg.zip_id_1")}},
      {"an older, larger package", url, 40000, dst,
       {segment(0, 20000, 20000, true, "pkg.zip_id_0"), segment(20000, 20000, 1000, false, "pkg.zip_id_1")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dst);
    std::filesystem::remove(other);
    writeWholeFile(dst, std::string(static_cast<std::size_t>(c.size), 'o'));
    const nlohmann::json record = {{"supportResume", true}, {"size", c.size}, {"url", c.url},
                                   {"dst", c.dst},          {"range", c.range}};
    writeWholeFile(dst + ".cfg", record.dump());
    server.reset();
    server.route("/pkg.zip", {{"file", source}});
    RecordingCallbacks fresh;
    fresh.onReport = [](const Report& report) {
      if (report.kind == Report::Interrupted) ADD_FAILURE() << "the old plan was used";
    };
    Downloader engine(&fresh, &fresh);
    engine.Download(url, wide(dst), 30000, "");
    ASSERT_TRUE(fresh.awaitKind(Report::Finished, 10s));
    engine.Stop();
    EXPECT_TRUE(sameBytes(readWholeFile(dst), content));
    EXPECT_EQ(server.requestsFor("/pkg.zip").front()["method"], "HEAD");
    EXPECT_FALSE(std::filesystem::exists(other));
    ResumeRecord planned;
    ASSERT_TRUE(LoadResumeRecord(wide(dst + ".cfg"), planned));
    EXPECT_EQ(planned.size, 30000u);
    EXPECT_EQ(planned.url, url);
    EXPECT_EQ(planned.dst, wide(dst));
  }
}

// Only the range asked for may land at the asked offset.
TEST_F(DownloaderTest, PartialAnswersForAnotherRangeAreRefused) {
  const std::string content = serve(100000);
  for (const char* fault : {"shift", "shorter", "longer", "missing"}) {
    SCOPED_TRACE(fault);
    // The second range is done; the first, still empty, is asked for.
    writeWholeFile(dst, std::string(50000, '\0') + content.substr(50000));
    writeRecord(true, 100000,
                {{false, true, false, 0, 50000, 0, "pkg.zip_id_0"}, {true, true, false, 50000, 50000, 50000, "pkg.zip_id_1"}});
    server.route("/pkg.zip", {{"file", source}, {"range_fault", fault}});
    RecordingCallbacks fresh;
    Downloader engine(&fresh, &fresh);
    engine.Download(server.url("/pkg.zip"), wide(dst), 100000, "");
    ASSERT_TRUE(fresh.awaitKind(Report::Interrupted));
    engine.Stop();
    EXPECT_TRUE(fresh.keys(Report::Finished).empty());
    EXPECT_TRUE(sameBytes(readWholeFile(dst), std::string(50000, '\0') + content.substr(50000)));
    EXPECT_EQ(server.requestsFor("/pkg.zip").back()["range"], "bytes=0-49999");
  }
}

// A probe that never got an answer says nothing about ranges: it is tried
// again like any request, and the answer decides the plan.
TEST_F(DownloaderTest, AProbeLostInTransportIsRetried) {
  const std::string content = serve(1000);
  server.route("/pkg.zip", {{"responses", {{{"reset_connection", true}}, {{"file", source}}}}});
  resumeAlways();
  download(1000);
  ASSERT_TRUE(calls.awaitKind(Report::Finished));
  EXPECT_TRUE(sameBytes(readWholeFile(dst), content));
  EXPECT_EQ(calls.count(Report::Interrupted), 1);
  EXPECT_EQ(downloader->GetTaskCount(), 3);
  const auto requests = server.requestsFor("/pkg.zip");
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0]["method"], "HEAD");
  EXPECT_EQ(requests[1]["method"], "HEAD");
  for (const auto& get : gets()) EXPECT_TRUE(get["range"].is_string());
}

// The server's validator is kept in the record: a resumed run continues only
// the same file, and a file changed between two runs is fetched anew.
TEST_F(DownloaderTest, AFileChangedOnTheServerBetweenRunsIsFetchedAnew) {
  struct Case {
    const char* name;
    nlohmann::json before, after;  // validator headers of the two runs
    bool changed;
  };
  const std::vector<Case> cases = {
      {"same ETag", {{"etag", "\"v1\""}}, {{"etag", "\"v1\""}}, false},
      {"new ETag", {{"etag", "\"v1\""}}, {{"etag", "\"v2\""}}, true},
      {"new Last-Modified", {{"last_modified", "Mon, 01 Jan 2024 00:00:00 GMT"}},
       {{"last_modified", "Tue, 02 Jan 2024 00:00:00 GMT"}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dst);
    std::filesystem::remove(dst + ".cfg");
    writeRandomFile(source, 300000, 7);
    const std::string first = readWholeFile(source);
    nlohmann::json rule = c.before;
    rule["file"] = source;
    rule["drop_after"] = 60000;
    server.reset();
    server.route("/pkg.zip", rule);
    {
      RecordingCallbacks run;
      Downloader engine(&run, &run);
      engine.Download(server.url("/pkg.zip"), wide(dst), 300000, "");
      ASSERT_TRUE(run.awaitCount(Report::Interrupted, 3));
      engine.Stop();
    }
    ResumeRecord partial;
    ASSERT_TRUE(LoadResumeRecord(wide(dst + ".cfg"), partial));

    if (c.changed) writeRandomFile(source, 300000, 8);
    const std::string expected = readWholeFile(source);
    ASSERT_EQ(c.changed, expected != first);
    rule = c.after;
    rule["file"] = source;
    server.reset();
    server.route("/pkg.zip", rule);
    RecordingCallbacks run;
    Downloader engine(&run, &run);
    run.onReport = [&engine](const Report& report) {
      if (report.kind == Report::Interrupted) engine.Resume(true);
    };
    engine.Download(server.url("/pkg.zip"), wide(dst), 300000, "");
    ASSERT_TRUE(run.awaitKind(Report::Finished));
    engine.Stop();
    EXPECT_TRUE(sameBytes(readWholeFile(dst), expected));
    // Every range is asked for on the condition that the file is still the one planned for.
    const std::string validator = c.after.begin().value().get<std::string>();
    bool resumedSomewhere = false;
    for (const auto& get : gets()) {
      EXPECT_EQ(get["headers"].value("if-range", ""), validator) << get;
      const std::string range = get["range"];
      for (const auto& segment : partial.range)
        resumedSomewhere |= segment.seek > 0 && range.starts_with("bytes=" + std::to_string(segment.start + segment.seek) + "-");
    }
    EXPECT_EQ(resumedSomewhere, !c.changed);
  }
}

// Nothing is reported once Stop has returned, not even by the thread that
// reports a completed file.
TEST_F(DownloaderTest, StopWaitsForTheFileCompletionReport) {
  class GatedCallbacks : public RecordingCallbacks {
   public:
    void OnFinished(const std::string& key) override {
      std::unique_lock lock(gateLock);
      entered = true;
      gateChanged.notify_all();
      gateChanged.wait_for(lock, 10s, [this] { return open; });
      left = true;
      lock.unlock();
      RecordingCallbacks::OnFinished(key);
    }
    std::mutex gateLock;
    std::condition_variable gateChanged;
    bool entered = false, open = false;
    std::atomic<bool> left{false};
  } gated;
  serve(1000);
  Downloader engine(&gated, &gated);
  engine.Download(server.url("/pkg.zip"), wide(dst), 1000, "");
  {
    std::unique_lock lock(gated.gateLock);
    ASSERT_TRUE(gated.gateChanged.wait_for(lock, 20s, [&] { return gated.entered; }));
  }
  std::atomic<bool> reportStillRunning{false};
  std::thread stopper([&] {
    engine.Stop();
    reportStillRunning = !gated.left;
  });
  std::this_thread::sleep_for(300ms);
  {
    std::lock_guard lock(gated.gateLock);
    gated.open = true;
  }
  gated.gateChanged.notify_all();
  stopper.join();
  EXPECT_FALSE(reportStillRunning);
}

// Stop keeps what was written: the record on disk then counts every byte the
// run reported, even in the first percent.
TEST_F(DownloaderTest, StopSavesTheRecord) {
  platform::setProcessorCount(1);  // one range, so the first block is all there is
  constexpr std::uint64_t size = 30 << 20;
  serve(size, {{"rate", 300 << 10}});
  download(size);
  for (int i = 0; i < 2000 && calls.bytes().empty(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_FALSE(calls.bytes().empty());
  downloader->Stop();
  ResumeRecord record;
  ASSERT_TRUE(LoadResumeRecord(wide(dst + ".cfg"), record));
  ASSERT_EQ(record.range.size(), 1u);
  EXPECT_GT(record.range[0].seek, 0u);
  EXPECT_LT(record.range[0].seek, size / 100);
  EXPECT_EQ(record.range[0].seek, calls.bytes().back());
}

}  // namespace
}  // namespace kx
