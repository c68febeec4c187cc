// The client as the service sees it: sessions that follow the window,
// records sent from history first, and an exit that keeps what it could not send.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/clock.h"
#include "telemetry/tally_client.h"
#include "tests/support/collection_service.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"
#include "tests/telemetry/fake_clock.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace telemetry;

const std::wstring kAppKey = L"MA-2718-5A5A5A5A5A5A";

class TallyClientTest : public ::testing::Test {
 protected:
  std::unique_ptr<TallyClient> makeClient() {
    TallyDependencies d;
    d.commonAppData = data.path();
    d.collectorHost = service.hostAndPort();
    d.clock = clock;
    d.foreground = [this] {
      ++polls;
      return foreground.load();
    };
    d.deviceValues = [this] {
      DeviceValues v{L"Test OS", L"6.1.0", L"Desktop", mac, L"0x0", L"English", L"United States"};
      return v;
    };
    d.sendStopWait = sendStopWait;
    return std::make_unique<TallyClient>(d);
  }

  std::unique_ptr<TallyClient> launched() {
    auto client = makeClient();
    client->AppLaunch(kAppKey, L"1.0.8", L"official");
    return client;
  }

  // Moves the window in front or away and waits until the watch has acted on it.
  void setForeground(bool inFront) {
    const int before = polls;
    foreground = inFront;
    clock->advance(1s);
    ASSERT_TRUE(eventually([&] { return polls > before && clock->waiting(1000ms) == 1; }));
  }

  // Lets the running session time-out expire.
  void expireSession() {
    ASSERT_TRUE(eventually([&] { return clock->waiting(120000ms) == 1; }));
    clock->advance(120s);
    ASSERT_TRUE(eventually([&] { return clock->waiting(120000ms) == 0; }));
  }

  fs::path dataFolder() const { return fs::path(data.path()) / "NimbrelTally" / kAppKey; }

  static std::vector<std::string> types(const nlohmann::json& request) {
    std::vector<std::string> found;
    for (const auto& record : request["records"]) found.push_back(record["dataType"]);
    return found;
  }

  TempDir data;
  CollectionService service;
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::atomic<bool> foreground{false};
  std::atomic<int> polls{0};
  std::wstring mac = L"0A:1B:2C:3D:4E:5F";
  std::chrono::milliseconds sendStopWait{5000};
};

TEST_F(TallyClientTest, SessionsFollowTheWindowAndOneWithoutEventsIsHeaderStartClose) {
  auto client = launched();
  expireSession();  // the window never came to the front
  ASSERT_TRUE(service.waitForRequests(1));

  setForeground(true);  // a new session, without events
  setForeground(false);
  expireSession();
  ASSERT_TRUE(service.waitForRequests(2));
  client->AppExit();

  const auto requests = service.received();
  ASSERT_EQ(requests.size(), 3u) << "the exit sent a session of its own";
  EXPECT_EQ(types(requests[2]), (std::vector<std::string>{"h", "s", "e", "c"}));
  EXPECT_EQ(types(requests[0]), (std::vector<std::string>{"h", "s", "e", "c"}));
  EXPECT_EQ(types(requests[1]), (std::vector<std::string>{"h", "s", "c"}));
  const auto& first = requests[0]["records"];
  const auto& second = requests[1]["records"];
  EXPECT_EQ(first[1]["sessionNum"], 1);
  EXPECT_EQ(first[1]["sessionInterval"], 0);
  EXPECT_EQ(first[2]["eventId"], "da_launch");
  EXPECT_EQ(first[0]["uploadNum"], 1);
  EXPECT_EQ(second[0]["uploadNum"], 2);
  EXPECT_EQ(second[1]["sessionNum"], 2);
  EXPECT_EQ(second[1]["sessionInterval"].get<std::int64_t>(),
            second[1]["sessionStartTime"].get<std::int64_t>() - first[3]["sessionCloseTime"].get<std::int64_t>());
  EXPECT_EQ(first[3]["sessionCloseTime"].get<std::int64_t>() - first[1]["sessionStartTime"].get<std::int64_t>(),
            first[3]["sessionTotalLength"].get<std::int64_t>());
  for (const auto& record : first) EXPECT_EQ(record.value("sessionUuid", first[1]["sessionUuid"].get<std::string>()),
                                             first[1]["sessionUuid"]);
  EXPECT_NE(first[1]["sessionUuid"], second[1]["sessionUuid"]);
  EXPECT_TRUE(std::regex_match(first[1]["sessionUuid"].get<std::string>(),
                               std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
  EXPECT_EQ(first[0]["deviceUdid"], deviceIdFrom(mac, 0));
  EXPECT_EQ(first[0]["sdkVersion"], "7.6.5.4");
}

TEST_F(TallyClientTest, ReturningAfter119SecondsKeepsTheSessionAndItsCloseTimeIsTheExit) {
  auto client = launched();
  setForeground(true);
  setForeground(false);
  ASSERT_TRUE(eventually([&] { return clock->waiting(120000ms) == 1; }));
  clock->advance(118s);
  setForeground(true);  // 119 seconds after leaving
  client->TrackEventEx(L"page_click", L"ui", L"folder", {{L"path", L"C:/Games"}, {L"again", L"1"}});
  clock->advance(10s);
  const std::int64_t exitTime = clock->now();
  client->AppExit();

  ASSERT_TRUE(service.waitForRequests(1));
  const auto requests = service.received();
  ASSERT_EQ(requests.size(), 1u) << "one session all along";
  EXPECT_EQ(types(requests[0]), (std::vector<std::string>{"h", "s", "e", "e", "e", "c"}));
  const auto& records = requests[0]["records"];
  EXPECT_EQ(records[2]["eventId"], "da_launch");
  EXPECT_EQ(records[3]["eventId"], "page_click");
  EXPECT_EQ(records[3]["attributes"]["path"], "C:/Games");
  EXPECT_EQ(records[4]["eventId"], "da_exit");
  EXPECT_EQ(records[5]["sessionCloseTime"], exitTime) << "the close time of the absence was cleared";
  const std::string text = requests[0]["text"];
  EXPECT_NE(text.find(R"("attributes":{"path":"C:\/Games","again":"1"})"), std::string::npos) << text;
}

TEST_F(TallyClientTest, ASessionAwayFromTheWindowAtExitClosesAtTheTimeItWasLeft) {
  const std::int64_t launchTime = clock->now();
  auto client = launched();  // the window never comes to the front: the session waits from the start
  ASSERT_TRUE(eventually([&] { return clock->waiting(120000ms) == 1; }));
  clock->advance(30s);
  client->AppExit();
  ASSERT_TRUE(service.waitForRequests(1));
  const auto requests = service.received();
  const auto& close = requests[0]["records"].back();
  EXPECT_EQ(close["dataType"], "c");
  EXPECT_EQ(close["sessionCloseTime"], launchTime);
  EXPECT_EQ(close["sessionTotalLength"], 0);
}

TEST_F(TallyClientTest, AFailedSendIsStoredAtExitAndSentFirstWithTwoSessionsInOnePayloadAfterIt) {
  service.answer({"status"});
  {
    auto client = launched();
    client->AppExit();
  }
  ASSERT_EQ(service.received().size(), 1u);
  const std::string failedBody = service.received()[0]["body_b64"];
  const auto stored = decodePayloadFile(readWholeFile(dataFolder() / "daMetr.dat"));
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 1u);

  // The next run: the stored payload goes first and is held by the service
  // while two sessions close.
  service.answer({"hold", "ok"});
  auto client = launched();
  EXPECT_FALSE(fs::exists(dataFolder() / "daMetr.dat")) << "read at launch, then deleted";
  expireSession();
  ASSERT_TRUE(service.waitForRequests(2));
  setForeground(true);
  setForeground(false);
  expireSession();
  service.release();
  ASSERT_TRUE(service.waitForRequests(3));

  const auto requests = service.received();
  EXPECT_EQ(requests[1]["body_b64"], failedBody) << "the stored payload is sent as it was";
  EXPECT_EQ(types(requests[2]), (std::vector<std::string>{"h", "s", "e", "c", "h", "s", "c"}));
  const auto& records = requests[2]["records"];
  EXPECT_EQ(records[4]["uploadNum"].get<int>(), records[0]["uploadNum"].get<int>() + 1);
  EXPECT_EQ(records[0]["uploadNum"], 2) << "the counter went on from the first run";
  EXPECT_EQ(records[1]["sessionNum"], 2);
  client->AppExit();
  EXPECT_FALSE(fs::exists(dataFolder() / "daMetr.dat")) << "nothing left to store";
}

TEST_F(TallyClientTest, ExitWithAStalledServiceReturnsInTimeAndTheNextRunSendsWhatItKept) {
  service.answer({"stall"});
  {
    auto client = launched();
    const auto start = std::chrono::steady_clock::now();
    client->AppExit();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 7500ms);
  }
  ASSERT_TRUE(fs::exists(dataFolder() / "daMetr.dat"));

  service.answer({"ok"});
  auto client = launched();
  client->AppExit();
  ASSERT_TRUE(service.waitForRequests(3));
  const auto requests = service.received();
  ASSERT_TRUE(requests[1]["records"].is_array());
  EXPECT_EQ(requests[1]["body_b64"], requests[0]["body_b64"]);
  EXPECT_EQ(types(requests[2]), (std::vector<std::string>{"h", "s", "e", "e", "c"}));
  EXPECT_FALSE(fs::exists(dataFolder() / "daMetr.dat"));
}

TEST_F(TallyClientTest, ASendStillRunningAtTheBoundIsAbandonedAndItsPayloadStored) {
  service.answer({"stall"});
  sendStopWait = 300ms;
  auto client = launched();
  const auto start = std::chrono::steady_clock::now();
  client->AppExit();
  // Well before the request's own time-out could have ended it.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1800ms);
  const auto stored = decodePayloadFile(readWholeFile(dataFolder() / "daMetr.dat"));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 1u);
  client.reset();  // the abandoned run holds nothing the client needs to end
}

TEST_F(TallyClientTest, AnEditedStateRecordGivesANewDeviceIdAndCountersFromZero) {
  mac = L"";
  platform::setTickSource([] { return 1000; });
  {
    auto client = launched();
    EXPECT_EQ(client->appInfo().deviceId, deviceIdFrom(L"", 1000));
    client->AppExit();
  }
  const fs::path file = dataFolder() / "daEvc.dat";
  std::string bytes = readWholeFile(file);
  ASSERT_EQ(bytes.size(), 76u);
  bytes[28] = bytes[28] == 'A' ? 'B' : 'A';
  writeWholeFile(file, bytes);

  platform::setTickSource([] { return 2000; });
  service.answer({"ok"});
  auto client = launched();
  platform::setTickSource({});
  EXPECT_EQ(client->appInfo().deviceId, deviceIdFrom(L"", 2000));
  client->AppExit();
  ASSERT_TRUE(service.waitForRequests(2));
  const auto requests = service.received();
  ASSERT_TRUE(requests[1]["records"].is_array()) << requests[1].dump();
  const auto& records = requests[1]["records"];
  EXPECT_EQ(records[0]["deviceUdid"], deviceIdFrom(L"", 2000));
  EXPECT_EQ(records[0]["uploadNum"], 1);
  EXPECT_EQ(records[1]["sessionNum"], 1);
}

TEST_F(TallyClientTest, EventsBeforeLaunchAndAfterExitAreDroppedAndAnEmptyKeyStartsNothing) {
  {
    auto client = makeClient();
    client->TrackEvent(L"too_early");
    client->AppLaunch(L"", L"1.0.8", L"official");
    client->TrackEvent(L"ignored");
    client->AppExit();
  }
  EXPECT_FALSE(fs::exists(fs::path(data.path()) / "NimbrelTally"));
  EXPECT_TRUE(fs::exists(logFilePath(data.path(), L""))) << "the log is opened all the same";

  auto client = launched();
  client->TrackEvent(L"");  // no id, no event
  client->AppExit();
  client->TrackEvent(L"too_late");
  client->AppLaunch(kAppKey, L"1.0.8", L"official");
  ASSERT_TRUE(service.waitForRequests(1));
  EXPECT_EQ(types(service.received()[0]), (std::vector<std::string>{"h", "s", "e", "e", "c"}));
  client.reset();
  EXPECT_EQ(service.received().size(), 1u) << "nothing restarted after the exit";
  const std::string log = readWholeFile(logFilePath(data.path(), kAppKey));
  EXPECT_NE(log.find("AppExit() Exit"), std::string::npos);
  EXPECT_TRUE(log.ends_with(std::string(kLogCloseBanner) + "\n"));
}

}  // namespace
}  // namespace kx::test
