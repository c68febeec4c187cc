// Map information against the loopback server: the two answer shapes, the
// key rules, escaping, clearing on failure, and the start-up hand-over.
// Built for flavour qv (answers keyed by map id) and kestrix (keyed by name).
#include <gtest/gtest.h>

#include "flavour/flavour.h"
#include "install_manager/install_man.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"

namespace kx::test {
namespace {

using nlohmann::json;

// qv asks the message host of its endpoint row; kestrix has no map service of
// its own and asks the URL given with --api, which the command line can carry
// only once per process, so one server serves all cases.
constexpr const char* qvPath = "/message/v1/installer/background";
constexpr const char* byNamePath = "/api/qvms/map/search_by_file_name";

class MapInfoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server = new TestServer();
    setAllHosts(server->hostAndPort());
    setExtraCaFile(server->caFile());
    std::vector<std::wstring> arguments = {L"KestrixSetup"};
    if (!isQv) arguments.push_back(L"--api=" + widen(server->url(byNamePath) + "?fileName="));
    InstallMan(noEngine).parseCommandLineOnce(arguments);
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override { server->reset(); }

  static std::wstring widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
  static std::unique_ptr<IDownload> noEngine(EngineKind, IDownloadCallBack*, IDownloadStateCallBack*) {
    return nullptr;
  }

  // Serves `rule` for the map service's path, fetches, and returns the query
  // of the first request (an empty body also makes the fetch try its fallback).
  std::string fetchWith(const json& rule) {
    const char* path = isQv ? qvPath : byNamePath;
    server->route(path, rule);
    manager.fetchMapInfo();
    const auto seen = server->requestsFor(path);
    return seen.empty() ? "<no request>" : seen[0]["query"].get<std::string>();
  }

  static inline TestServer* server = nullptr;
  InstallMan manager{noEngine};
};

const json fullIdAnswer = {{"status", 200},
                           {"data",
                            {{"gameEngineVersion", "2.0"},
                             {"mapId", 456},
                             {"mapName", "Dragon Valley"},
                             {"logo", "https://img/logo.png"},
                             {"imageUrl", "https://img/bg.jpg"},
                             {"kestrixMap", true},
                             {"independent", true}}}};

json withData(json answer, const std::string& key, const json& value) {
  if (value.is_null())
    answer["data"].erase(key);
  else
    answer["data"][key] = value;
  return answer;
}

struct IdCase {
  const char* name;
  std::wstring mapIdBefore;
  json rule;
  std::string query;
  std::wstring mapId, displayName;
  bool kestrixMap, independent;
};

TEST_F(MapInfoTest, IdShapedAnswers) {
  if (!isQv) GTEST_SKIP() << "answers keyed by id are asked for in flavour qv";
  const IdCase cases[] = {
      {"complete", L"123", {{"body", fullIdAnswer.dump()}}, "mapId=123", L"456", L"Dragon Valley", true, true},
      {"kestrix is no id", L"kestrix", {{"body", fullIdAnswer.dump()}}, "mapId=0", L"456", L"Dragon Valley", true,
       true},
      {"no id", L"", {{"body", fullIdAnswer.dump()}}, "mapId=0", L"456", L"Dragon Valley", true, true},
      {"flags of the wrong type stay false", L"7",
       {{"body", withData(withData(fullIdAnswer, "kestrixMap", "yes"), "independent", nullptr).dump()}}, "mapId=7",
       L"456", L"Dragon Valley", false, false},
      {"status other than 200", L"123", {{"body", json{{"status", 404}, {"data", fullIdAnswer["data"]}}.dump()}},
       "mapId=123", L"", L"", false, false},
      {"missing name", L"123", {{"body", withData(fullIdAnswer, "mapName", nullptr).dump()}}, "mapId=123", L"", L"",
       false, false},
      {"empty name", L"123", {{"body", withData(fullIdAnswer, "mapName", "").dump()}}, "mapId=123", L"", L"", false,
       false},
      {"id of the wrong type", L"123", {{"body", withData(fullIdAnswer, "mapId", "456").dump()}}, "mapId=123", L"",
       L"", false, false},
      {"an error page", L"123", {{"status", 500}}, "mapId=123", L"", L"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server->reset();
    manager.mapId = c.mapIdBefore;
    manager.mapDisplayName.clear();
    manager.isKestrixMap = manager.isIndependent = false;
    EXPECT_EQ(fetchWith(c.rule), c.query);
    EXPECT_EQ(manager.mapId, c.mapId);
    EXPECT_EQ(manager.mapDisplayName, c.displayName);
    EXPECT_EQ(manager.isKestrixMap, c.kestrixMap);
    EXPECT_EQ(manager.isIndependent, c.independent);
  }
}

TEST_F(MapInfoTest, CompleteIdAnswerFillsEveryFieldAndTheHandOver) {
  if (!isQv) GTEST_SKIP() << "answers keyed by id are asked for in flavour qv";
  PackageEntry package, platform;
  platform.isPlatformInstaller = true;
  manager.entries = {package, platform};
  manager.mapId = L"123";
  fetchWith({{"body", fullIdAnswer.dump()}});
  EXPECT_EQ(manager.gameEngineVersion, L"2.0");
  EXPECT_EQ(manager.mapImageUrl, L"https://img/bg.jpg");
  EXPECT_EQ(manager.mapIconUrl, L"https://img/logo.png");
  // The editor package waits for the page to select it; the platform stays.
  EXPECT_FALSE(manager.entries[0].selected);
  EXPECT_TRUE(manager.entries[1].selected);
  EXPECT_EQ(manager.pageLanguage(), L"en");
  const auto background = manager.backgroundImage();
  ASSERT_TRUE(background);
  EXPECT_EQ(background->imageUrl, L"https://img/bg.jpg");
  EXPECT_EQ(background->displayName, L"Dragon Valley");
  EXPECT_TRUE(background->isKestrixMap && background->isIndependent);
  EXPECT_EQ(background->mapId, L"456");
}

const json fullNameAnswer = {{"data",
                              {{"gamePlayId", "789"},
                               {"downloadName", "Dragon Valley"},
                               {"gameIcon", "https://img/icon.png"},
                               {"logo", "https://img/logo.png"}}}};

TEST_F(MapInfoTest, NameShapedAnswerWithAnEscapedUtf8Name) {
  if (isQv) GTEST_SKIP() << "answers keyed by name are asked for outside flavour qv";
  manager.mapDisplayName = L"Dragon Valley 龙谷";
  EXPECT_EQ(fetchWith({{"body", fullNameAnswer.dump()}}), "fileName=Dragon%20Valley%20%E9%BE%99%E8%B0%B7");
  EXPECT_EQ(manager.mapId, L"789");
  EXPECT_EQ(manager.mapDisplayName, L"Dragon Valley");
  EXPECT_EQ(manager.mapIconUrl, L"https://img/icon.png");
  EXPECT_EQ(manager.mapImageUrl, L"https://img/logo.png");
  EXPECT_FALSE(manager.isKestrixMap || manager.isIndependent);
  EXPECT_EQ(manager.buildLaunchArgs(), L"--customgame=789");
}

TEST_F(MapInfoTest, NameShapedFailuresClearTheMapKeys) {
  if (isQv) GTEST_SKIP() << "answers keyed by name are asked for outside flavour qv";
  json noName = fullNameAnswer;
  noName["data"].erase("downloadName");
  const json rules[] = {{{"body", noName.dump()}}, {{"body", ""}}, {{"body", "not json"}}, {{"status", 404}}};
  for (const auto& rule : rules) {
    SCOPED_TRACE(rule.dump());
    server->reset();
    manager.mapDisplayName = L"Dragon";
    manager.mapId = L"5";
    EXPECT_EQ(fetchWith(rule), "fileName=Dragon");
    EXPECT_EQ(manager.mapId, L"");
    EXPECT_EQ(manager.mapDisplayName, L"");
    EXPECT_EQ(manager.buildLaunchArgs(), L"");
    EXPECT_FALSE(manager.backgroundImage());
  }
}

TEST_F(MapInfoTest, WithoutMapKeysNothingIsAsked) {
  if (isQv) GTEST_SKIP() << "flavour qv always asks";
  EXPECT_EQ(fetchWith({{"body", fullNameAnswer.dump()}}), "<no request>");
  EXPECT_TRUE(server->requests().empty());
  EXPECT_EQ(manager.pageLanguage(), L"en");
}

}  // namespace
}  // namespace kx::test
