// The download worker against scripted engines and a recording window:
// skipping present files, the check-failure question, cancel, engine switch.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/strings.h"
#include "download/resume_record.h"
#include "download/verification.h"
#include "platform/volume.h"
#include "tests/support/io_faults/io_faults.h"
#include "tests/support/test_server.h"
#include "tests/workflow/workflow_fakes.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

// A run with two packages in a folder of its own; the engine kinds the
// factory built are logged as "build(Kind)".
class WorkerTest : public ::testing::Test {
 protected:
  // A setup that succeeds, and an archive without entries whose comment
  // makes it 5000 bytes long: what they install is not the point here.
  const std::string platformContent = "#!/bin/sh\nexit 0\n";
  const std::string packageContent = std::string("PK\x05\x06", 4) + std::string(16, '\0') +
                                     std::string("\x7e\x13", 2) + std::string(4978, 'p');

  void SetUp() override {
    previousDirectory = fs::current_path();
    fs::current_path(dir.path());
  }
  void TearDown() override {
    window.shutdown();
    if (manager) manager->stopWorker();
    fs::current_path(previousDirectory);
  }

  // Builds the manager; every engine it asks for runs `script`.
  void start(FakeEngine::Script script, std::int32_t taskCount = 1) {
    auto builder = [this, script, taskCount](EngineKind kind, IDownloadCallBack* progress,
                                             IDownloadStateCallBack* state) {
      const std::string name = kind == EngineKind::Aria2 ? "aria2" : kind == EngineKind::Library ? "library"
                                                                                                   : "segmented";
      log.add("build(" + name + ")");
      return std::make_unique<FakeEngine>(log, name, progress, state, script, taskCount, synchronousEngine);
    };
    manager = std::make_unique<InstallMan>(builder);
    manager->entries = {entry("package.zip", packageContent, true), entry("setup.exe", platformContent, false)};
    manager->totalBytes = packageContent.size() + platformContent.size();
    window.attach(*manager, fromUtf8(dir.file("Editor")));
    manager->startWorker(fromUtf8(dir.file("Editor")));
  }

  PackageEntry entry(const std::string& name, const std::string& content, bool isPackage) {
    PackageEntry e;
    e.fileName = name;
    e.url = "https://dl.kx.test/" + name;
    writeFile(dir.file("reference"), content);
    e.md5 = *FileMd5(fromUtf8(dir.file("reference")));
    e.size = content.size();
    e.localPath = fromUtf8(dir.file(name));
    e.isPackage = isPackage;
    e.isPlatformInstaller = !isPackage;
    return e;
  }

  // What a finished download of ours leaves: the file and a record of all its bytes.
  void leaveDownloaded(const std::string& name, const std::string& content) {
    writeFile(dir.file(name), content);
    ResumeRecord record;
    record.supportResume = true;
    record.size = content.size();
    record.url = "https://dl.kx.test/" + name;
    record.dst = fromUtf8(dir.file(name));
    record.range = {{true, true, false, 0, content.size(), content.size(), name + "_id_0"}};
    SaveResumeRecord(ResumeRecordPath(record.dst), record);
  }

  // What an interrupted segmented download of the package leaves: its file at
  // full size and a record with a range still to fetch.
  void leaveUnfinishedPackage() {
    writeFile(dir.file("package.zip"), std::string(packageContent.size(), '\0'));
    ResumeRecord record;
    record.supportResume = true;
    record.size = packageContent.size();
    record.url = "https://dl.kx.test/package.zip";
    record.dst = fromUtf8(dir.file("package.zip"));
    record.range = {{true, true, false, 0, 2500, 2500, "package.zip_id_0"},
                    {false, true, false, 2500, 2500, 100, "package.zip_id_1"}};
    SaveResumeRecord(ResumeRecordPath(record.dst), record);
  }

  // The right content for whichever file the engine is asked for.
  FakeEngine::Script completesCorrectly() {
    return [this](FakeEngine& engine, const FakeEngine::Call& call) {
      completeWith(engine, call, call.url.ends_with("package.zip") ? packageContent : platformContent);
    };
  }

  std::vector<std::string> downloads() const {
    std::vector<std::string> found;
    for (const auto& event : log.events())
      if (event.find(".Download(") != std::string::npos) found.push_back(event);
    return found;
  }

  bool synchronousEngine = false;
  TempDir dir;
  fs::path previousDirectory;
  EventLog log;
  RecordingWindow window{log};
  std::unique_ptr<InstallMan> manager;
};

// The setup ends at once (no logged progress, then its own 95), the archive has no entries.
const std::vector<std::string> handOver = {"OnDownloadProgress(90,0)", "OnInstallProgress(90)",
                                           "OnInstallProgress(95)",    "OnInstallProgress(95)",
                                           "OnInstallProgress(100)",   "OnInstallFinished"};

std::vector<std::string> windowEventsFrom(const std::vector<std::string>& events, const std::string& first) {
  const auto at = std::find(events.begin(), events.end(), first);
  std::vector<std::string> tail;
  for (auto it = at; it != events.end(); ++it)
    if (it->starts_with("On")) tail.push_back(*it);
  return tail;
}

TEST_F(WorkerTest, EverythingPresentAndCorrectGoesStraightToInstallation) {
  leaveDownloaded("package.zip", packageContent);
  leaveDownloaded("setup.exe", platformContent);
  start(completesCorrectly());
  ASSERT_TRUE(log.waitFor("OnInstallFinished"));
  EXPECT_TRUE(downloads().empty());
  EXPECT_EQ(windowEventsFrom(log.events(), "OnDownloadProgress(90,0)"), handOver);
  EXPECT_TRUE(manager->entries[0].isDownloaded && manager->entries[1].isDownloaded);
}

TEST_F(WorkerTest, MissingFilesAreDownloadedInOrderThenInstalled) {
  start(completesCorrectly());
  ASSERT_TRUE(log.waitFor("OnInstallFinished"));
  EXPECT_EQ(downloads(), (std::vector<std::string>{"segmented.Download(https://dl.kx.test/package.zip)",
                                                   "segmented.Download(https://dl.kx.test/setup.exe)"}));
  EXPECT_EQ(windowEventsFrom(log.events(), "OnDownloadProgress(90,0)"), handOver);
}

using CheckAnswer = RecordingWindow::CheckAnswer;

struct CheckFailureCase {
  const char* name;
  CheckAnswer answer;
  std::vector<std::string> expectedDownloads;
  bool installs;
};

TEST_F(WorkerTest, DamagedFileIsDeletedReportedAndOnlyItIsFetchedAgainOnRetry) {
  const CheckFailureCase cases[] = {
      {"retry", CheckAnswer::Retry, {"segmented.Download(https://dl.kx.test/package.zip)"}, true},
      // An answer that comes before the worker waits must not be lost.
      {"retry at once", CheckAnswer::RetryAtOnce, {"segmented.Download(https://dl.kx.test/package.zip)"}, true},
      {"cancel", CheckAnswer::Cancel, {}, false},
      // Closing the window while the question is open ends the worker too.
      {"no answer, window closed", CheckAnswer::Never, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    leaveDownloaded("package.zip", std::string(packageContent.size(), 'd'));
    leaveDownloaded("setup.exe", platformContent);
    window.checkAnswer = c.answer;
    start(completesCorrectly());
    ASSERT_TRUE(log.waitFor("OnCheckFileError(https://dl.kx.test/package.zip)"));
    if (c.installs) {
      ASSERT_TRUE(log.waitFor("OnInstallFinished"));
      // Installed only after passing its check, then removed.
      EXPECT_FALSE(fs::exists(dir.file("package.zip")));
    } else {
      if (c.answer == CheckAnswer::Cancel) {
        ASSERT_TRUE(log.waitFor("segmented.Stop"));
      }
      manager->stopWorker();
      EXPECT_TRUE(log.contains("segmented.Stop"));
      EXPECT_FALSE(fs::exists(dir.file("package.zip")));
      EXPECT_FALSE(log.contains("OnInstallProgress(90)"));
      EXPECT_FALSE(log.contains("OnInstallFinished"));
    }
    EXPECT_FALSE(fs::exists(dir.file("package.zip.cfg")));
    EXPECT_EQ(downloads(), c.expectedDownloads);
    manager->stopWorker();
    manager.reset();
    fs::remove(dir.file("package.zip"));
  }
}

TEST_F(WorkerTest, AHalfWrittenFileGoesBackToTheEngineInsteadOfFailingItsCheck) {
  const auto leaveAria2PartialFile = [this] {
    writeFile(dir.file("package.zip"), std::string(packageContent.size(), '\0'));  // preallocated, half written
    writeFile(dir.file("package.zip.aria2"), "state");
  };
  for (const std::function<void()>& leaveState : {std::function<void()>(leaveAria2PartialFile),
                                                  std::function<void()>([this] { leaveUnfinishedPackage(); })}) {
    log.clear();
    leaveDownloaded("setup.exe", platformContent);
    leaveState();
    start(completesCorrectly());
    ASSERT_TRUE(log.waitFor("OnInstallFinished"));
    EXPECT_EQ(downloads(), (std::vector<std::string>{"segmented.Download(https://dl.kx.test/package.zip)"}));
    EXPECT_FALSE(log.contains("OnCheckFileError(https://dl.kx.test/package.zip)"));
    manager->stopWorker();
    manager.reset();
    for (const char* name : {"package.zip", "package.zip.aria2", "package.zip.cfg"}) fs::remove(dir.file(name));
  }
}

TEST_F(WorkerTest, StopWhileDownloadingWakesTheWorkerWhichStopsTheEngine) {
  start(nullptr);  // the transfer never ends by itself
  ASSERT_TRUE(log.waitFor("segmented.Download(https://dl.kx.test/package.zip)"));
  manager->stopWorker();
  const auto events = log.events();
  EXPECT_EQ(events.back(), "segmented.Stop");
  EXPECT_EQ(downloads().size(), 1u);
  EXPECT_FALSE(log.contains("OnDownloadProgress(90,0)"));
  EXPECT_FALSE(log.contains("OnInstallFinished"));
}

TEST_F(WorkerTest, AnEngineThatFinishesBeforeTheWorkerWaitsIsNotMissed) {
  synchronousEngine = true;  // reports completion inside Download, before any wait
  start(completesCorrectly());
  ASSERT_TRUE(log.waitFor("OnInstallFinished"));
  EXPECT_EQ(downloads().size(), 2u);
}

TEST_F(WorkerTest, TwoAria2FailuresThenReconnectSwitchToTheSegmentedDownloader) {
  writeFile(dir.file("InstallerHelper.exe"), "helper");
  leaveDownloaded("setup.exe", platformContent);
  start([this](FakeEngine& engine, const FakeEngine::Call& call) {
    if (log.contains("build(segmented)")) return completeWith(engine, call, packageContent);
    engine.state->OnEngineFailed();
  });
  ASSERT_TRUE(log.waitFor("OnInstallFinished"));
  const auto events = log.events();
  std::vector<std::string> engineEvents;
  for (const auto& event : events)
    if (!event.starts_with("OnInstall") && !event.starts_with("OnDownload")) engineEvents.push_back(event);
  EXPECT_EQ(engineEvents, (std::vector<std::string>{"build(aria2)",
                                                    "aria2.Download(https://dl.kx.test/package.zip)",
                                                    "OnInterrupted",
                                                    "aria2.Resume(true)",
                                                    "aria2.Download(https://dl.kx.test/package.zip)",
                                                    "OnInterrupted",
                                                    "aria2.Stop",
                                                    "build(segmented)",
                                                    "segmented.Download(https://dl.kx.test/package.zip)"}));
  // Installed only after passing its check, then removed.
  EXPECT_FALSE(fs::exists(dir.file("package.zip")));
}

struct SelectionCase {
  std::vector<const char*> helperFiles;
  const char* firstEngine;
};

TEST_F(WorkerTest, TheFirstEngineFollowsTheHelperFilesInTheCurrentFolder) {
  const SelectionCase cases[] = {
      {{}, "build(segmented)"},
      {{"InstallerHelper.exe"}, "build(aria2)"},
      // The library engine belongs to index 1, which the first build never has.
      {{"libVeloDrift.so"}, "build(segmented)"},
      {{"InstallerHelper.exe", "libVeloDrift.so"}, "build(aria2)"},
  };
  for (const auto& c : cases) {
    log.clear();
    for (const char* name : {"InstallerHelper.exe", "libVeloDrift.so"}) fs::remove(dir.file(name));
    for (const char* name : c.helperFiles) writeFile(dir.file(name), "x");
    start(nullptr);
    EXPECT_EQ(log.events().front(), c.firstEngine);
    manager->stopWorker();
    manager.reset();
  }
}

TEST_F(WorkerTest, StateCallbacksReachTheWindowOnlyUntilTheRunIsCancelled) {
  start(nullptr);
  ASSERT_TRUE(log.waitFor("segmented.Download(https://dl.kx.test/package.zip)"));
  window.shutdown();  // record only, answer nothing
  manager->OnReconnected();
  manager->OnRetry();
  manager->stopWorker();
  manager->OnInterrupted();
  manager->OnReconnected();
  manager->OnRetry();
  manager->OnEngineFailed();
  std::vector<std::string> forwarded;
  for (const auto& event : log.events())
    if (event == "OnInterrupted" || event == "OnReconnected" || event == "OnRetry") forwarded.push_back(event);
  EXPECT_EQ(forwarded, (std::vector<std::string>{"OnReconnected", "OnRetry"}));
  EXPECT_EQ(manager->GetTaskCount(), 1);
}

// Only files this program downloaded are checked, and deleted when damaged.
// Anything else at the download path is the user's: it moves aside, intact,
// and the package is fetched beside it.
TEST_F(WorkerTest, AUsersFileAtTheDownloadPathSurvives) {
  for (const bool withForeignRecord : {false, true}) {
    SCOPED_TRACE(withForeignRecord ? "beside a record of another file" : "alone");
    log.clear();
    writeFile(dir.file("package.zip"), "the user's own archive");
    // A record of another file, copied along with it, does not make it ours.
    if (withForeignRecord) writeFile(dir.file("package.zip.cfg"), R"({"supportResume":true,"size":22,"url":"u","dst":"/elsewhere/package.zip","range":[]})");
    leaveDownloaded("setup.exe", platformContent);
    start(completesCorrectly());
    ASSERT_TRUE(log.waitFor("OnInstallFinished"));
    EXPECT_FALSE(log.contains("OnCheckFileError(https://dl.kx.test/package.zip)"));
    EXPECT_EQ(downloads(), (std::vector<std::string>{"segmented.Download(https://dl.kx.test/package.zip)"}));
    std::ifstream aside(dir.file("package (1).zip"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), "the user's own archive");
    manager->stopWorker();
    manager.reset();
    for (const char* name : {"package (1).zip", "package.zip.cfg"}) fs::remove(dir.file(name));
  }
}

// A download of ours that cannot be read is not damaged: it is reported and
// checked again on retry, never deleted.
TEST_F(WorkerTest, AnUnreadableDownloadIsReportedNotDeleted) {
  for (const io::Call failing : {io::Call::Open, io::Call::Read}) {
    SCOPED_TRACE(failing == io::Call::Open ? "cannot be opened" : "cannot be read");
    log.clear();
    leaveDownloaded("package.zip", packageContent);
    leaveDownloaded("setup.exe", platformContent);
    io::Scope faults;
    io::fail(failing, "/package.zip", EIO);
    window.checkAnswer = CheckAnswer::Never;
    start(completesCorrectly());
    ASSERT_TRUE(log.waitFor("OnCheckFileError(https://dl.kx.test/package.zip)"));
    EXPECT_TRUE(fs::exists(dir.file("package.zip")));
    EXPECT_TRUE(fs::exists(dir.file("package.zip.cfg")));
    io::reset();
    manager->answerCheckFailure(true);
    ASSERT_TRUE(log.waitFor("OnInstallFinished"));
    EXPECT_TRUE(downloads().empty());
    manager->stopWorker();
    manager.reset();
  }
}

// A file the segmented downloader left half-done goes back to it, even when
// the aria2 helper is there: aria2 would start it over.
TEST_F(WorkerTest, ASegmentedDownloadGoesBackToTheSegmentedDownloader) {
  writeFile(dir.file("InstallerHelper.exe"), "helper");
  leaveUnfinishedPackage();
  leaveDownloaded("setup.exe", platformContent);
  start(completesCorrectly());
  ASSERT_TRUE(log.waitFor("OnInstallFinished"));
  std::vector<std::string> engineEvents;
  for (const auto& event : log.events())
    if (event.starts_with("build(") || event.find(".Download(") != std::string::npos) engineEvents.push_back(event);
  EXPECT_EQ(engineEvents, (std::vector<std::string>{"build(aria2)", "build(segmented)",
                                                    "segmented.Download(https://dl.kx.test/package.zip)"}));
}

// Once the aria2 engine has failed for good, a "no" to the reconnect question
// starts nothing.
TEST_F(WorkerTest, ReconnectFalseAfterAria2FailedForGoodStartsNothing) {
  writeFile(dir.file("InstallerHelper.exe"), "helper");
  start(nullptr);
  ASSERT_TRUE(log.waitFor("aria2.Download(https://dl.kx.test/package.zip)"));
  window.shutdown();  // record only, answer nothing
  manager->OnEngineFailed();
  manager->OnEngineFailed();
  manager->reconnect(false);
  EXPECT_FALSE(log.contains("build(segmented)"));
  EXPECT_EQ(downloads().size(), 1u);
  manager->reconnect(true);
  EXPECT_TRUE(log.contains("build(segmented)"));
}

// A disk that cannot take the file reaches the window as such, with the space
// figures, and is no interruption.
TEST_F(WorkerTest, ADiskErrorReachesTheWindowWithTheSpaceFigures) {
  start([](FakeEngine& engine, const FakeEngine::Call&) { engine.state->OnDiskError(DiskError::Full); });
  ASSERT_TRUE(log.waitFor("OnDiskError(Full)"));
  EXPECT_FALSE(log.contains("OnInterrupted"));
  EXPECT_EQ(window.lastRequiredBytes(), 2 * (packageContent.size() + platformContent.size()));
  // Other programs write to the same disk meanwhile: the figure is the free space give or take a little.
  const std::uint64_t free = *platform::freeDiskSpace(fromUtf8(dir.path()));
  EXPECT_GT(window.lastFreeBytes(), free - free / 10);
  EXPECT_LT(window.lastFreeBytes(), free + free / 10);
}

}  // namespace
}  // namespace kx::test
