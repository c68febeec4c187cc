// Whole installations from startWorker through each real engine against the
// loopback server, with a window that answers failures as the window's retry
// budget does: connections that drop part-way, and runs that end badly and
// come back (a cancel in the first percent, a segmented download that meets
// the aria2 helper, a disk that fills).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/strings.h"
#include "download/aria2_download.h"
#include "download/drift_download.h"
#include "download/resume_record.h"
#include "download/verification.h"
#include "platform/current_directory.h"
#include "platform/system_info.h"
#include "tests/support/io_faults/io_faults.h"
#include "tests/support/small_volume.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"
#include "tests/workflow/workflow_fakes.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// One installation with the real engines: the package served from loopback,
// the manager, the recording window, and aria2's trust in the test CA.
class EngineRun {
 protected:
  void setUpRun() {
    setExtraCaFile(server.caFile());
    // aria2 reads its own configuration file; there it learns to trust the test CA.
    fs::create_directories(home.file(".aria2"));
    std::ofstream(home.file(".aria2/aria2.conf")) << "ca-certificate=" << server.caFile() << "\n";
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    platform::setProcessorCount(2);
    previousFolder = platform::currentDirectory();
    // Random bytes in front of an archive without entries (its end record
    // last): incompressible for the transfer, and installable.
    writeRandomFile(source, packageSize - kEmptyArchive.size(), 11);
    std::ofstream(source, std::ios::binary | std::ios::app) << kEmptyArchive;
  }
  void tearDownRun() {
    window.shutdown();
    if (manager) manager->stopWorker();
    platform::setCurrentDirectory(previousFolder);
  }

  // The worker runs in the build's program folder, which holds InstallerHelper.exe, or in one without it.
  void enterFolder(bool programFolder) {
    ASSERT_TRUE(platform::setCurrentDirectory(fromUtf8(programFolder ? KX_BIN_DIR : files.path())));
  }

  // The package, downloaded beside the installation folder as the manager places it.
  PackageEntry package(const std::string& installFolder) const {
    PackageEntry entry;
    entry.fileName = "pkg.zip";
    entry.url = server.url("/pkg.zip");
    entry.md5 = *FileMd5(fromUtf8(source));
    entry.size = packageSize;
    entry.localPath = fromUtf8((fs::path(installFolder).parent_path() / "pkg.zip").string());
    entry.isPackage = true;
    return entry;
  }

  // Starts the worker on `installFolder` with engines from `builder`, each logged as it is built.
  void start(const EngineBuilder& builder, const std::string& installFolder) {
    manager = std::make_unique<InstallMan>([this, builder](EngineKind kind, IDownloadCallBack* p,
                                                            IDownloadStateCallBack* s) {
      log.add(std::string("build(") + (kind == EngineKind::Aria2 ? "aria2" : "other") + ")");
      return builder(kind, p, s);
    });
    manager->entries = {package(installFolder)};
    manager->totalBytes = packageSize;
    window.attach(*manager, fromUtf8(installFolder));
    manager->startWorker(fromUtf8(installFolder));
  }

  std::uint64_t bytesServed() const {
    std::uint64_t sent = 0;
    for (const auto& request : server.requestsFor("/pkg.zip"))
      if (request["method"] == "GET") sent += request["sent"].get<std::uint64_t>();
    return sent;
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

class EngineDownloadTest : public ::testing::TestWithParam<EngineCase>, protected EngineRun {
 protected:
  void SetUp() override {
    setUpRun();
    enterFolder(GetParam().inProgramFolder);
  }
  void TearDown() override { tearDownRun(); }
};

TEST_P(EngineDownloadTest, DownloadsVerifiesAndHandsOverDespiteDroppedConnections) {
  const EngineCase& c = GetParam();
  auto responses = c.responses;
  for (auto& response : responses) response["file"] = source;
  server.route("/pkg.zip", {{"responses", responses}});
  // The connection comes back while the user is asked whether to reconnect.
  window.whileAsking = [this] { server.route("/pkg.zip", {{"file", source}}); };

  start(c.builder, install.file("Editor"));

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

class RecoveryTest : public ::testing::Test, protected EngineRun {
 protected:
  void SetUp() override { setUpRun(); }
  void TearDown() override {
    io::reset();
    tearDownRun();
  }
};

// Cancelled before a percent was done, the next run continues the file
// instead of calling it damaged.
TEST_F(RecoveryTest, ACancelInTheFirstPercentResumes) {
  server.route("/pkg.zip", {{"file", source}, {"rate", 3'000}});
  enterFolder(false);
  start(buildEngine, install.file("Editor"));
  for (int i = 0; i < 1000 && bytesServed() == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_GT(bytesServed(), 0u);
  ASSERT_LT(bytesServed(), packageSize / 100);
  manager->stopWorker();
  ASSERT_TRUE(fs::exists(destination));

  server.route("/pkg.zip", {{"file", source}});
  manager->startWorker(fromUtf8(install.file("Editor")));
  ASSERT_TRUE(log.waitFor("OnInstallFinished", 60s));
  EXPECT_FALSE(log.contains("OnCheckFileError(" + server.url("/pkg.zip") + ")"));
  EXPECT_FALSE(fs::exists(install.file("pkg (1).zip")));
}

// A package the segmented downloader had fetched to 69% is continued by it
// when the aria2 helper is there on the next start: only the rest is fetched.
TEST_F(RecoveryTest, ASegmentedDownloadKeepsItsBytesWhenTheAria2HelperIsThere) {
  std::ifstream in(source, std::ios::binary);
  const std::string content(std::istreambuf_iterator<char>(in), {});
  const std::uint64_t third = packageSize / 3;
  const std::uint64_t done = packageSize * 69 / 100;
  std::string partial = content.substr(0, done) + std::string(packageSize - done, '\0');
  std::ofstream(destination, std::ios::binary) << partial;
  ResumeRecord record;
  record.supportResume = true;
  record.size = packageSize;
  record.url = server.url("/pkg.zip");
  record.dst = fromUtf8(destination);
  record.range = {{true, true, false, 0, third, third, "pkg.zip_id_0"},
                  {true, true, false, third, third, third, "pkg.zip_id_1"},
                  {false, true, false, 2 * third, packageSize - 2 * third, done - 2 * third, "pkg.zip_id_2"}};
  SaveResumeRecord(ResumeRecordPath(record.dst), record);
  server.route("/pkg.zip", {{"file", source}});

  enterFolder(true);
  start(buildEngine, install.file("Editor"));
  ASSERT_TRUE(log.waitFor("OnInstallFinished", 60s));
  EXPECT_FALSE(log.contains("OnCheckFileError(" + server.url("/pkg.zip") + ")"));
  EXPECT_EQ(log.events().front(), "build(aria2)");
  EXPECT_TRUE(log.contains("build(other)"));
  EXPECT_EQ(bytesServed(), packageSize - done);
}

// A disk that fills stops the download with a report to the window, and no
// retries follow: no lost connection is claimed, nothing is fetched again.
TEST_F(RecoveryTest, AFullDiskStopsTheDownloadAndReachesTheWindow) {
  struct Case {
    const char* name;
    bool aria2;
    bool smallVolume;  // else the disk refuses writes after the first megabyte
  };
  const Case cases[] = {{"segmented, small volume", false, true},
                        {"segmented, writes refused", false, false},
                        {"aria2, small volume", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    server.reset();
    server.route("/pkg.zip", {{"file", source}});
    SmallVolume volume(1 << 20);
    std::string folder = install.file("Editor");
    if (c.smallVolume) {
      if (!volume.mounted()) {
        std::cout << "skipped: " << volume.why() << "\n";
        continue;
      }
      folder = volume.file("Editor");
    } else {
      io::fail(io::Call::Write, "/pkg.zip", ENOSPC, 1 << 20);
    }
    enterFolder(c.aria2);
    start(buildEngine, folder);
    ASSERT_TRUE(log.waitFor("OnDiskError(Full)", 30s));
    const std::size_t requests = server.requests().size();
    std::this_thread::sleep_for(1500ms);  // room for a retry storm, were there one
    EXPECT_EQ(server.requests().size(), requests);
    EXPECT_FALSE(log.contains("OnInterrupted"));
    EXPECT_FALSE(log.contains("AskReconnect"));
    EXPECT_EQ(window.lastRequiredBytes(), 2 * packageSize);
    if (c.smallVolume) {
      EXPECT_LE(window.lastFreeBytes(), 1u << 20);
    }
    manager->stopWorker();
    manager.reset();
    io::reset();
    fs::remove(destination);
    fs::remove(destination + ".cfg");
  }
}

}  // namespace
}  // namespace kx::test
