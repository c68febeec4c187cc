#include "download/drift_download.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#include "download/drift_library/velo_drift.h"
#include "download/verification.h"
#include "tests/support/recording_callbacks.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::Report;

using test::readWholeFile;
using test::wide;

std::string md5Of(const std::string& path) { return FileMd5(wide(path)).value_or(""); }

// ---- The command ----

TEST(DriftCommand, KestrixCommandByteForByte) {
  EXPECT_EQ(driftDownloadCommand("https://cdn.kx.test/pkg.zip?t=1", L"/games/Kestrix \u00e9/pkg.zip", 5000,
                                 "0123456789abcdef0123456789abcdef", 987654),
            R"({"callback_interval":"1500","connect_timeout":"60000","downfile":[{"filepath":"/games/Kestrix )"
            "\xc3\xa9"
            R"(/pkg.zip","first":"","last":"","md5":"0123456789abcdef0123456789abcdef","size":"0",)"
            R"("targeturl":"https://cdn.kx.test/pkg.zip?t=1"}],"downloadid":"987654","isrenew":"false",)"
            R"("logopen":"true","methodId":"download","netlimit":"0","oversea":"0","priority":"0",)"
            R"("priority_task":"false","projectid":"up1","ramlimit":"33554432","rammode":"false","retry":"5",)"
            R"("threadnum":"3","type":"patch","wifionly":"false"})");
}

TEST(DriftCommand, ThreadsAndDigestPlaceholder) {
  const auto field = [](std::uint64_t size, const std::string& md5, const char* key) {
    const json command = json::parse(driftDownloadCommand("https://h/p", L"/p", size, md5, 1));
    return std::string(key) == "md5" ? command["downfile"][0]["md5"] : command[key];
  };
  EXPECT_EQ(field(1ull << 30, "x", "threadnum"), "3");
  EXPECT_EQ(field((1ull << 30) + 1, "x", "threadnum"), "5");
  EXPECT_EQ(field(0, "", "md5"), "NotMD5");
  EXPECT_EQ(field(0, "abc", "md5"), "abc");
}

// ---- Messages from the library ----

TEST(DriftMessages, ProgressMessages) {
  const struct {
    const char* message;
    bool reported;
    std::int32_t percent;
    std::uint32_t speed;
  } cases[] = {
      {R"({"downloadid":"7","progress":0.425,"speed":1048576})", true, 42, 1048576},
      {R"({"downloadid":"7","progress":1,"speed":2.9})", true, 100, 2},
      {R"({"downloadid":"7","speed":true})", true, 0, 1},
      {R"({"downloadid":"7","progress":7.5,"speed":-3})", true, 100, 0},
      {R"({"progress":0.5,"speed":1})", false, 0, 0},                    // no downloadid
      {R"({"downloadid":"","progress":0.5})", false, 0, 0},
      {R"({"downloadid":7,"progress":0.5})", false, 0, 0},               // wrong type
      {R"({"downloadid":"7","progress":"0.5"})", false, 0, 0},
      {R"({"downloadid":"7","progress":null})", false, 0, 0},
      {R"(["downloadid","7"])", false, 0, 0},                            // not an object
      {R"({"downloadid":"7","progress":0.)", false, 0, 0},               // not JSON
      {"", false, 0, 0},
  };
  for (const auto& c : cases) {
    const auto progress = readDriftProgress(c.message);
    ASSERT_EQ(progress.has_value(), c.reported) << c.message;
    if (!progress) continue;
    EXPECT_EQ(progress->percent, c.percent) << c.message;
    EXPECT_EQ(progress->bytesPerSecond, c.speed) << c.message;
  }
}

TEST(DriftMessages, EventMessages) {
  const struct {
    const char* message;
    DriftEvent outcome;
  } cases[] = {
      {R"({"downloadid":"7","code":0,"filename":"__DOWNLOAD_END__"})", DriftEvent::Ignored},
      {R"({"downloadid":"7","code":-1,"filename":"pkg.zip"})", DriftEvent::Finished},
      {R"({"downloadid":"7","code":0,"filename":""})", DriftEvent::Finished},
      {R"({"downloadid":"7","code":3,"filename":"pkg.zip"})", DriftEvent::Failed},
      {R"({"downloadid":"7","code":3,"filename":"__DOWNLOAD_END__"})", DriftEvent::Failed},
      {R"({"downloadid":"7","filename":"pkg.zip"})", DriftEvent::Failed},  // no code counts as 11
      {R"({"code":0,"filename":"pkg.zip"})", DriftEvent::Ignored},
      {R"({"downloadid":"7","code":"0","filename":"pkg.zip"})", DriftEvent::Ignored},      // wrong types
      {R"({"downloadid":"7","code":0,"filename":"pkg.zip","filepath":5})", DriftEvent::Ignored},
      {R"({"downloadid":"7","code":0,"filename":"pkg.zip","sessionid":[]})", DriftEvent::Ignored},
      {R"(17)", DriftEvent::Ignored},
      {R"({"downloadid":"7","code":0,)", DriftEvent::Ignored},
  };
  for (const auto& c : cases) EXPECT_EQ(readDriftEvent(c.message), c.outcome) << c.message;
  for (const char* name : {"__DOWNLOAD_START__", "__DOWNLOAD_CONFIG__", "__DOWNLOAD_END__", "__DOWNLOAD_LOCAL_CHECK__",
                           "__DOWNLOAD_RETRY__", "__DOWNLOAD_REQUEST_START__", "__DOWNLOAD_QUEUE_CLEAR__"})
    EXPECT_EQ(readDriftEvent(json{{"downloadid", "7"}, {"code", 0}, {"filename", name}}.dump()), DriftEvent::Ignored)
        << name;
}

// ---- Transfers through our library ----

class DriftTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    test::setExtraCaFile(server.caFile());
    test::writeRandomFile(source, 3'000'000, 11);
    digest = md5Of(source);
  }
  test::TestServer server;
  test::TempDir files;
  const std::string source = files.file("source.bin");
  const std::string destination = files.file("pkg.zip");
  std::string digest;
  test::RecordingCallbacks callbacks;
};

TEST_F(DriftTransfer, CompletesWithProgressAndCheckedDigest) {
  server.route("/pkg.zip", {{"file", source}, {"rate", 350'000}});
  CDriftDownload engine(&callbacks, &callbacks);
  EXPECT_EQ(engine.GetTaskCount(), 0);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, digest);
  EXPECT_EQ(engine.GetTaskCount(), 1);
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  ASSERT_EQ(finals[0].kind, Report::Finished);
  EXPECT_EQ(finals[0].key, destination);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(source));
  const auto progress = callbacks.of(Report::Progress);
  ASSERT_FALSE(progress.empty());
  EXPECT_LT(progress.front().at, finals[0].at - 500ms) << "progress must arrive while the file downloads";
  EXPECT_EQ(progress.back().percent, 100);
  for (const auto& p : progress) EXPECT_EQ(p.key, destination);
  // Several connections, each with its byte range.
  std::size_t ranged = 0;
  for (const auto& request : server.requestsFor("/pkg.zip"))
    ranged += request["method"] == "GET" && request["range"].is_string();
  EXPECT_EQ(ranged, 3u);
}

TEST_F(DriftTransfer, FailuresReportThatTheEngineFailed) {
  server.routes({{"/pkg.zip", {{"file", source}}}, {"/gone.zip", {{"status", 404}}}});
  CDriftDownload engine(&callbacks, &callbacks);
  // A digest that does not match: the damaged file is not kept.
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, std::string(32, '0'));
  auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0].kind, Report::EngineFailed);
  EXPECT_FALSE(std::filesystem::exists(destination));

  engine.Download(server.url("/gone.zip"), wide(destination), 3'000'000, "");
  finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 2u);
  EXPECT_EQ(finals[1].kind, Report::EngineFailed);
  EXPECT_FALSE(std::filesystem::exists(destination)) << "no empty file for a missing package";
}

TEST_F(DriftTransfer, ACutRangeIsRetriedFromWhereItStopped) {
  const std::string small = files.file("small.bin");
  test::writeRandomFile(small, 400'000, 3);  // one range
  server.route("/pkg.zip", {{"responses", json::array({{{"file", small}},
                                                       {{"file", small}, {"drop_after", 100'000}},
                                                       {{"file", small}}})}});
  CDriftDownload engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(destination), 400'000, md5Of(small));
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  ASSERT_EQ(finals[0].kind, Report::Finished);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(small));
  const auto requests = server.requestsFor("/pkg.zip");
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1]["range"], "bytes=0-399999");
  EXPECT_EQ(requests[2]["range"], "bytes=100000-399999");
}

TEST_F(DriftTransfer, WithoutADigestAnyCompleteFileIsAccepted) {
  server.route("/pkg.zip", {{"file", source}, {"ranges", false}});
  CDriftDownload engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  ASSERT_EQ(finals[0].kind, Report::Finished);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(source));
}

TEST_F(DriftTransfer, ResumeSendsTheWholeCommandAgainAndStopSilencesTheRun) {
  server.route("/pkg.zip", {{"file", source}, {"rate", 300'000}});
  auto engine = std::make_unique<CDriftDownload>(&callbacks, &callbacks);
  engine->Download(server.url("/pkg.zip"), wide(destination), 3'000'000, digest);
  ASSERT_TRUE(callbacks.awaitKind(Report::Progress, 10s));
  const auto began = std::chrono::steady_clock::now();
  engine->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - began, 3s) << "the library must give up the transfer at once";
  EXPECT_EQ(engine->GetTaskCount(), 0);
  const std::size_t reported = callbacks.all().size();
  std::this_thread::sleep_for(1600ms);
  EXPECT_EQ(callbacks.all().size(), reported) << "a stopped run reports nothing";

  engine->Resume(false);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(callbacks.all().size(), reported);
  server.route("/pkg.zip", {{"file", source}});
  engine->Resume(true);
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0].kind, Report::Finished);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(source));
  engine.reset();
}

// ---- The library on its own ----

class RecordingListener final : public VeloDrift::IVeloDownloadListener {
 public:
  void OnProgressMessage(const char*) override {}
  void OnEventMessage(const char* message, std::int32_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(json::parse(message));
    changed_.notify_all();
  }
  // Events up to and including the task's end, waiting (bounded) for it.
  std::vector<json> awaitEnd() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, 10s, [this] { return !events_.empty() && events_.back()["filename"] == "__DOWNLOAD_END__"; });
    auto all = events_;
    events_.clear();
    return all;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<json> events_;
};

TEST_F(DriftTransfer, LibraryEventsTellTheTaskStory) {
  server.route("/pkg.zip", {{"file", source}});
  RecordingListener listener;
  auto* library = VeloDrift::IVeloDownloadInterface::getDLInst();
  library->SetListener(&listener);
  for (const char* junk : {"", "not json", "[1,2]", R"({"methodId":5})", R"({"methodId":"download","downfile":7})"})
    library->SendCommand(junk);
  const auto command = [&](const std::string& md5, const std::string& url) {
    return driftDownloadCommand(url, wide(destination), 3'000'000, md5, 42);
  };
  const auto story = [](const std::vector<json>& events) {
    std::vector<std::pair<std::string, int>> s;
    for (const auto& e : events) s.emplace_back(e["filename"], e["code"]);
    return s;
  };
  using Story = std::vector<std::pair<std::string, int>>;

  library->SendCommand(command(digest, server.url("/pkg.zip")).c_str());
  EXPECT_EQ(story(listener.awaitEnd()), (Story{{"__DOWNLOAD_START__", 0}, {"__DOWNLOAD_LOCAL_CHECK__", 0},
                                               {"__DOWNLOAD_REQUEST_START__", 0}, {"pkg.zip", 0},
                                               {"__DOWNLOAD_END__", 0}}));
  // The file is there with its digest: nothing is fetched again.
  const std::size_t requests = server.requestsFor("/pkg.zip").size();
  library->SendCommand(command(digest, server.url("/pkg.zip")).c_str());
  EXPECT_EQ(story(listener.awaitEnd()),
            (Story{{"__DOWNLOAD_START__", 0}, {"__DOWNLOAD_LOCAL_CHECK__", 0}, {"pkg.zip", -1}, {"__DOWNLOAD_END__", 0}}));
  EXPECT_EQ(server.requestsFor("/pkg.zip").size(), requests);
  // Nothing listens on port 9: one retry, then the failure code.
  json unreachable = json::parse(command("", "http://127.0.0.1:9/pkg.zip"));
  unreachable["retry"] = "1";
  library->SendCommand(unreachable.dump().c_str());
  EXPECT_EQ(story(listener.awaitEnd()), (Story{{"__DOWNLOAD_START__", 0}, {"__DOWNLOAD_REQUEST_START__", 0},
                                               {"__DOWNLOAD_RETRY__", 0}, {"pkg.zip", 3}, {"__DOWNLOAD_END__", 0}}));
  library->SetListener(nullptr);
}

}  // namespace
}  // namespace kx
