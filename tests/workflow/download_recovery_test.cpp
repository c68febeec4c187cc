// Whole runs from startWorker through the real engines that end badly and
// come back: a cancel in the first percent, a segmented download that meets
// the aria2 helper, a disk that fills.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/strings.h"
#include "download/file_md5.h"
#include "download/resume_record.h"
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

constexpr std::uint64_t kPackageSize = 3'000'000;

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DownloadRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setExtraCaFile(server.caFile());
    // aria2 reads its own configuration file; there it learns to trust the test CA.
    fs::create_directories(home.file(".aria2"));
    std::ofstream(home.file(".aria2/aria2.conf")) << "ca-certificate=" << server.caFile() << "\n";
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    platform::setProcessorCount(3);
    previousFolder = platform::currentDirectory();
    writeRandomFile(source, kPackageSize, 13);
  }
  void TearDown() override {
    window.shutdown();
    if (manager) manager->stopWorker();
    io::reset();
    platform::setCurrentDirectory(previousFolder);
    platform::setProcessorCount(0);
  }

  // Starts a manager whose engines are the real ones; the aria2 helper is
  // there when the current folder is the build's program folder.
  void start(bool withAria2Helper, const std::string& installFolder) {
    ASSERT_TRUE(platform::setCurrentDirectory(fromUtf8(withAria2Helper ? KX_BIN_DIR : files.path())));
    manager = std::make_unique<InstallMan>([this](EngineKind kind, IDownloadCallBack* p, IDownloadStateCallBack* s) {
      log.add(kind == EngineKind::Aria2 ? "build(aria2)" : "build(segmented)");
      return buildEngine(kind, p, s);
    });
    PackageEntry entry;
    entry.fileName = "pkg.zip";
    entry.url = server.url("/pkg.zip");
    entry.md5 = *FileMd5(fromUtf8(source));
    entry.size = kPackageSize;
    entry.localPath = fromUtf8((fs::path(installFolder).parent_path() / "pkg.zip").string());
    entry.isPackage = true;
    manager->entries = {entry};
    manager->totalBytes = kPackageSize;
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

// Cancelled before a percent was done, the next run continues the file
// instead of calling it damaged.
TEST_F(DownloadRecoveryTest, ACancelInTheFirstPercentResumes) {
  server.route("/pkg.zip", {{"file", source}, {"rate", 3'000}});
  start(false, install.file("Editor"));
  for (int i = 0; i < 1000 && bytesServed() == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_GT(bytesServed(), 0u);
  ASSERT_LT(bytesServed(), kPackageSize / 100);
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
TEST_F(DownloadRecoveryTest, ASegmentedDownloadKeepsItsBytesWhenTheAria2HelperIsThere) {
  const std::string content = contents(source);
  const std::uint64_t third = kPackageSize / 3;
  const std::uint64_t done = kPackageSize * 69 / 100;
  std::string partial = content.substr(0, done) + std::string(kPackageSize - done, '\0');
  std::ofstream(destination, std::ios::binary) << partial;
  ResumeRecord record;
  record.supportResume = true;
  record.size = kPackageSize;
  record.url = server.url("/pkg.zip");
  record.dst = fromUtf8(destination);
  record.range = {{true, true, false, 0, third, third, "pkg.zip_id_0"},
                  {true, true, false, third, third, third, "pkg.zip_id_1"},
                  {false, true, false, 2 * third, kPackageSize - 2 * third, done - 2 * third, "pkg.zip_id_2"}};
  SaveResumeRecord(ResumeRecordPath(record.dst), record);
  server.route("/pkg.zip", {{"file", source}});

  start(true, install.file("Editor"));
  ASSERT_TRUE(log.waitFor("OnInstallFinished", 60s));
  EXPECT_FALSE(log.contains("OnCheckFileError(" + server.url("/pkg.zip") + ")"));
  EXPECT_EQ(log.events().front(), "build(aria2)");
  EXPECT_TRUE(log.contains("build(segmented)"));
  EXPECT_EQ(bytesServed(), kPackageSize - done);
}

// A disk that fills stops the download with a report to the window, and no
// retries follow: no lost connection is claimed, nothing is fetched again.
TEST_F(DownloadRecoveryTest, AFullDiskStopsTheDownloadAndReachesTheWindow) {
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
        std::cout << "skipped: " << volume.failure() << "\n";
        continue;
      }
      folder = volume.file("Editor");
    } else {
      io::fail(io::Call::Write, "/pkg.zip", ENOSPC, 1 << 20);
    }
    start(c.aria2, folder);
    ASSERT_TRUE(log.waitFor("OnDiskError(Full)", 30s));
    const std::size_t requests = server.requests().size();
    std::this_thread::sleep_for(1500ms);  // room for a retry storm, were there one
    EXPECT_EQ(server.requests().size(), requests);
    EXPECT_FALSE(log.contains("OnInterrupted"));
    EXPECT_FALSE(log.contains("AskReconnect"));
    EXPECT_EQ(window.lastRequiredBytes(), 2 * kPackageSize);
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
