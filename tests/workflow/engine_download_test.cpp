// Whole installations from startWorker through each real engine against the
// loopback server, whose connections drop part-way, with a window that
// answers failures as the window's retry budget does.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "common/strings.h"
#include "download/aria2_download.h"
#include "download/drift_download.h"
#include "download/verification.h"
#include "platform/current_directory.h"
#include "platform/system_info.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"
#include "tests/workflow/workflow_fakes.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t packageSize = 3'000'000;
const std::string kEmptyArchive = std::string("PK\x05\x06", 4) + std::string(18, '\0');

struct EngineCase {
  const char* name;
  // Where the worker runs: the build's program folder holds InstallerHelper.exe.
  bool inProgramFolder;
  // Builds every engine the manager asks for.
  EngineBuilder builder;
  // Answers for the package, request by request; the last one repeats.
  nlohmann::json responses;
  const char* expectedFirstEngine;
  bool asksUser;
  friend void PrintTo(const EngineCase& c, std::ostream* out) { *out << c.name; }
};

class EngineDownloadTest : public ::testing::TestWithParam<EngineCase> {
 protected:
  void SetUp() override {
    setExtraCaFile(server.caFile());
    // aria2 reads its own configuration file; there it learns to trust the test CA.
    fs::create_directories(home.file(".aria2"));
    std::ofstream(home.file(".aria2/aria2.conf")) << "ca-certificate=" << server.caFile() << "\n";
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    platform::setProcessorCount(2);
    previousFolder = platform::currentDirectory();
    ASSERT_TRUE(platform::setCurrentDirectory(fromUtf8(GetParam().inProgramFolder ? KX_BIN_DIR : files.path())));
    // Random bytes in front of an archive without entries (its end record
    // last): incompressible for the transfer, and installable.
    writeRandomFile(source, packageSize - kEmptyArchive.size(), 11);
    std::ofstream(source, std::ios::binary | std::ios::app) << kEmptyArchive;
  }
  void TearDown() override {
    window.shutdown();
    if (manager) manager->stopWorker();
    platform::setCurrentDirectory(previousFolder);
  }

  PackageEntry package() const {
    PackageEntry entry;
    entry.fileName = "pkg.zip";
    entry.url = server.url("/pkg.zip");
    entry.md5 = *FileMd5(fromUtf8(source));
    entry.size = packageSize;
    entry.localPath = fromUtf8(destination);
    entry.isPackage = true;
    return entry;
  }

  TestServer server;
  TempDir home, files, install;
  std::wstring previousFolder;
  const std::string source = files.file("source.bin");
  const std::string destination = install.file("pkg.zip");
  EventLog log;
  RecordingWindow window{log};
  std::unique_ptr<InstallMan> manager;
};

TEST_P(EngineDownloadTest, DownloadsVerifiesAndHandsOverDespiteDroppedConnections) {
  const EngineCase& c = GetParam();
  auto responses = c.responses;
  for (auto& response : responses) response["file"] = source;
  server.route("/pkg.zip", {{"responses", responses}});
  // The connection comes back while the user is asked whether to reconnect.
  window.whileAsking = [this] { server.route("/pkg.zip", {{"file", source}}); };

  const EngineBuilder builder = c.builder;
  manager = std::make_unique<InstallMan>([this, builder](EngineKind kind, IDownloadCallBack* p,
                                                          IDownloadStateCallBack* s) {
    log.add(std::string("build(") + (kind == EngineKind::Aria2 ? "aria2" : "other") + ")");
    return builder(kind, p, s);
  });
  manager->entries = {package()};
  manager->totalBytes = packageSize;
  window.attach(*manager, fromUtf8(install.file("Editor")));
  manager->startWorker(fromUtf8(install.file("Editor")));

  ASSERT_TRUE(log.waitFor("OnInstallFinished", std::chrono::seconds(60)));
  EXPECT_EQ(log.events().front(), c.expectedFirstEngine);
  // The file passed its check (no OnCheckFileError below), was handed to the
  // installation and removed by it.
  EXPECT_FALSE(fs::exists(destination));
  // Beyond the budget the user is asked; the new worker continues the
  // half-written file instead of reporting it damaged.
  EXPECT_EQ(log.contains("AskReconnect"), c.asksUser);
  EXPECT_FALSE(log.contains("OnCheckFileError(" + server.url("/pkg.zip") + ")"));
  EXPECT_GE(server.requestsFor("/pkg.zip").size(), 2u);
  // Every engine's drops reached the workflow, which resumed them.
  EXPECT_TRUE(log.contains("OnInterrupted"));
}

// `count` answers that cut the connection part-way, then whole answers.
nlohmann::json drops(int count) {
  auto answers = nlohmann::json::array();
  for (int i = 0; i < count; ++i) answers.push_back({{"drop_after", 400'000}});
  answers.push_back(nlohmann::json::object());
  return answers;
}

// Part of the file, then errors until the connection comes back (while the
// user is asked): no run can finish on its own.
nlohmann::json cutThenDown() {
  return nlohmann::json::array({{{"drop_after", 400'000}}, {{"status", 503}}});
}

nlohmann::json missingThenDrops() {
  auto answers = drops(3);
  answers.insert(answers.begin(), nlohmann::json::object({{"status", 404}}));
  return answers;
}

std::unique_ptr<IDownload> asLibraryEngine(EngineKind, IDownloadCallBack* progress, IDownloadStateCallBack* state) {
  // The factory reaches the library engine only through index 1, which the
  // switching rule never builds; drive it directly.
  return buildEngine(EngineKind::Library, progress, state);
}

INSTANTIATE_TEST_SUITE_P(
    EveryEngine, EngineDownloadTest,
    ::testing::Values(EngineCase{"aria2", true, buildEngine, drops(8), "build(aria2)", false},
                      EngineCase{"aria2_beyond_budget", true, buildEngine, cutThenDown(), "build(aria2)", true},
                      EngineCase{"segmented", false, buildEngine, drops(3), "build(other)", false},
                      // The library retries cut transfers itself; a missing file it reports.
                      EngineCase{"library", false, asLibraryEngine, missingThenDrops(), "build(other)", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx::test
