#include "download/aria2_download.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/build_config.h"
#include "download/output_lines.h"
#include "download/resume_record.h"
#include "platform/current_directory.h"
#include "platform/volume.h"
#include "tests/support/recording_callbacks.h"
#include "tests/support/small_volume.h"
#include "tests/support/test_build_config.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using test::Report;

using test::readWholeFile;
using test::wide;

bool exists(const std::string& path) { return std::filesystem::exists(path); }

// ---- Output parsing, without a child ----

TEST(Aria2Lines, SummaryLinesBecomeProgress) {
  const struct {
    const char* line;
    std::int32_t percent;
    std::uint32_t speed;
  } cases[] = {
      {"[#1 10.0MiB/100.0MiB(10%) CN:5 DL:2.5MiB ETA:36s]", 10, 2621440},
      {"[#2089b0 400KiB/33MiB(1%) CN:1 DL:512KiB ETA:4m51s]", 1, 524288},
      {"[#a 0B/1.0GiB(0%) CN:1 DL:0B ETA:1h]", 0, 0},
      {"[#a 3.0GiB/3.0GiB(99%) CN:5 DL:1.5GiB ETA:1s]", 99, 1610612736},
      {"12/10 11:11:03 [#473135 576KiB/2.8MiB(19%) CN:1 DL:615KiB ETA:3s] trailing", 19, 629760},
      {"[#a 9GiB/9GiB(50%) CN:5 DL:7.5GiB ETA:1s]", 50, 4294967295u},  // beyond 32 bits: the largest speed
  };
  for (const auto& c : cases) {
    test::RecordingCallbacks callbacks;
    CAria2Download engine(&callbacks, &callbacks);
    engine.ParseAria2Line(c.line);
    const auto progress = callbacks.of(Report::Progress);
    ASSERT_EQ(progress.size(), 1u) << c.line;
    EXPECT_EQ(progress[0].percent, c.percent) << c.line;
    EXPECT_EQ(progress[0].speed, c.speed) << c.line;
  }
}

TEST(Aria2Lines, OtherLinesReportNothing) {
  for (const char* line : {
           "[#473135 2.2MiB/2.8MiB(80%) CN:1 DL:593KiB]",  // no ETA part
           "12/10 11:11:03 [\x1b[1;32mNOTICE\x1b[0m] Download complete: /tmp/out/f.bin",
           "(OK):download completed.",
           "473135|OK  |   586KiB/s|/tmp/out/f.bin",
           "[#1 10.0MiB/100.0MiB(99999999999%) CN:5 DL:2.5MiB ETA:36s]",  // a percentage no integer holds
       }) {
    test::RecordingCallbacks callbacks;
    CAria2Download engine(&callbacks, &callbacks);
    engine.ParseAria2Line(line);
    EXPECT_TRUE(callbacks.all().empty()) << line;
  }
}

TEST(Aria2Lines, ALineCutAcrossReadsIsParsedOnceWhole) {
  test::RecordingCallbacks callbacks;
  CAria2Download engine(&callbacks, &callbacks);
  OutputLines lines;
  std::vector<std::string> seen;
  const auto parse = [&](const std::string& line) {
    seen.push_back(line);
    engine.ParseAria2Line(line);
  };
  const std::string first = "\r\n[#1 10.0MiB/100.0MiB(10%) CN:5 DL:2";
  const std::string second = ".5MiB ETA:36s]\r\n\n[#1 20.0MiB/100.0MiB(20%) CN:5 DL:2.5MiB ETA:32s]\r";
  lines.feed(first.data(), first.size(), parse);
  EXPECT_TRUE(seen.empty());
  lines.feed(second.data(), second.size(), parse);
  EXPECT_EQ(seen, (std::vector<std::string>{"[#1 10.0MiB/100.0MiB(10%) CN:5 DL:2.5MiB ETA:36s]",
                                            "[#1 20.0MiB/100.0MiB(20%) CN:5 DL:2.5MiB ETA:32s]"}));
  const auto progress = callbacks.of(Report::Progress);
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(progress[0].percent, 10);
  EXPECT_EQ(progress[0].speed, 2621440u);
}

// ---- Command line ----

TEST(Aria2CommandLine, HasEveryPieceInOrder) {
  test::TempDir dir;
  ASSERT_TRUE(platform::supportsFastAllocation(wide(dir.path())));
  EXPECT_EQ(aria2CommandLine(wide(dir.file("pkg.zip")), L"https://h.kx.test/a/pkg.zip?t=1"),
            L"InstallerHelper.exe -d \"" + wide(dir.path()) +
                L"\" --file-allocation=falloc --user-agent=\"Downloader/1.0\" --referer=\"" +
                wide(downloadReferer()) + L"\" -x 5 -c -o \"pkg.zip\" \"https://h.kx.test/a/pkg.zip?t=1\"");
}

TEST(Aria2CommandLine, ABuildWithACaOfItsOwnHandsItToAria2) {
  test::setExtraCaFile("/srv/demo ca/ca.pem");
  const std::wstring line = aria2CommandLine(L"/srv/games/pkg.zip", L"https://h/x");
  test::setExtraCaFile("");
  EXPECT_NE(line.find(L"\" --ca-certificate=\"/srv/demo ca/ca.pem\" -x 5 -c "), std::wstring::npos) << line;
}

TEST(Aria2CommandLine, RootFoldersAndFileSystemsWithoutFastAllocation) {
  const auto folderPiece = [](const std::wstring& path) {
    const std::wstring line = aria2CommandLine(path, L"https://h/x");
    const std::size_t start = line.find(L"-d \"") + 4;
    return line.substr(start, line.find(L"\" ", start) - start);
  };
  EXPECT_EQ(folderPiece(L"D:\\pkg.zip"), L"D:\\\\");  // the mark after "D:\" is not escaped
  EXPECT_EQ(folderPiece(L"D:\\Games\\pkg.zip"), L"D:\\Games");
  EXPECT_EQ(folderPiece(L"/pkg.zip"), L"//");
  EXPECT_EQ(folderPiece(L"/srv/games/pkg.zip"), L"/srv/games");

  // procfs cannot reserve space quickly, like FAT32.
  ASSERT_FALSE(platform::supportsFastAllocation(L"/proc/self"));
  EXPECT_EQ(aria2CommandLine(L"/proc/self/pkg.zip", L"https://h/x").find(L"--file-allocation"), std::wstring::npos);
}

// ---- Real transfers through build/bin/InstallerHelper.exe ----

class Aria2Transfer : public ::testing::Test {
 protected:
  void SetUp() override {
    // aria2 verifies certificates; its own configuration file makes it trust the test CA.
    std::filesystem::create_directories(home.file(".aria2"));
    std::ofstream(home.file(".aria2/aria2.conf")) << "ca-certificate=" << server.caFile() << "\n";
    setenv("HOME", home.path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    previousFolder = platform::currentDirectory();
    ASSERT_TRUE(platform::setCurrentDirectory(wide(KX_BIN_DIR)));
    ASSERT_TRUE(exists(std::string(KX_BIN_DIR) + "/" + kAria2HelperFile));
    test::writeRandomFile(source, 3'000'000, 7);
  }
  void TearDown() override { platform::setCurrentDirectory(previousFolder); }

  test::TestServer server;
  test::TempDir home, files;
  std::wstring previousFolder;
  const std::string source = files.file("source.bin");
  const std::string destination = files.file("pkg.zip");
  test::RecordingCallbacks callbacks;
};

TEST_F(Aria2Transfer, CompletesWithProgressArrivingWhileItRuns) {
  server.route("/pkg.zip", {{"file", source}, {"rate", 900'000}});
  CAria2Download engine(&callbacks, &callbacks);
  EXPECT_EQ(engine.GetTaskCount(), 0);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  ASSERT_EQ(finals[0].kind, Report::Finished);
  EXPECT_EQ(finals[0].key, destination);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(source));
  EXPECT_FALSE(exists(destination + ".aria2"));
  EXPECT_EQ(engine.GetTaskCount(), 1);  // stays set until Stop

  const auto progress = callbacks.of(Report::Progress);
  ASSERT_GE(progress.size(), 2u);
  EXPECT_GT(finals[0].at - progress.front().at, 1500ms) << "progress must arrive live, not at the end";
  for (const auto& p : progress) EXPECT_EQ(p.key, destination);
  EXPECT_GT(progress.front().speed, 0u);
  const auto requests = server.requestsFor("/pkg.zip");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0]["headers"]["user-agent"], "Downloader/1.0");
  EXPECT_EQ(requests[0]["headers"]["referer"], downloadReferer());
}

TEST_F(Aria2Transfer, TrustsTheBuildsOwnCaWithoutAConfigurationOfItsOwn) {
  std::filesystem::remove(home.file(".aria2/aria2.conf"));
  test::setExtraCaFile(server.caFile());
  server.route("/pkg.zip", {{"file", source}});
  CAria2Download engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  const auto finals = callbacks.awaitFinal();
  test::setExtraCaFile("");
  ASSERT_EQ(finals.size(), 1u);
  ASSERT_EQ(finals[0].kind, Report::Finished);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(source));
}

// aria2 -c would take a file without its control file as the start of the
// download, so such a file never stays in its way; but a file of the user's
// is never deleted either: it moves aside.
TEST_F(Aria2Transfer, AFileThatIsNotOursIsMovedAsideNotDeleted) {
  std::ofstream(destination, std::ios::binary) << std::string(1000, 'x');
  server.route("/pkg.zip", {{"file", source}});
  CAria2Download engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0].kind, Report::Finished);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(source));
  EXPECT_EQ(server.requestsFor("/pkg.zip").back()["range"], nullptr);
  EXPECT_EQ(readWholeFile(files.file("pkg (1).zip")), std::string(1000, 'x'));
}

// A file the segmented downloader left half-done is its to continue: aria2
// neither deletes it nor starts over, and the install manager moves on to the
// segmented downloader. A record that describes another download is stale and
// goes with the file it describes.
TEST_F(Aria2Transfer, ASegmentedDownloadIsLeftToTheSegmentedDownloader) {
  const std::string partial = readWholeFile(source).substr(0, 2'000'000) + std::string(1'000'000, '\0');
  const auto writeRecord = [&](const std::string& url) {
    ResumeRecord record;
    record.supportResume = true;
    record.size = 3'000'000;
    record.url = url;
    record.dst = wide(destination);
    record.range = {{true, true, false, 0, 1'500'000, 1'500'000, "pkg.zip_id_0"},
                    {false, true, false, 1'500'000, 1'500'000, 500'000, "pkg.zip_id_1"}};
    SaveResumeRecord(ResumeRecordPath(wide(destination)), record);
  };
  server.route("/pkg.zip", {{"file", source}});
  std::ofstream(destination, std::ios::binary) << partial;
  writeRecord(server.url("/pkg.zip"));
  {
    CAria2Download engine(&callbacks, &callbacks);
    engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
    const auto finals = callbacks.awaitFinal();
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].kind, Report::EngineFailed);
    EXPECT_TRUE(readWholeFile(destination) == partial);
    EXPECT_TRUE(exists(destination + ".cfg"));
    EXPECT_TRUE(server.requestsFor("/pkg.zip").empty());
  }

  writeRecord(server.url("/old/pkg.zip"));
  CAria2Download engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 2u);
  EXPECT_EQ(finals[1].kind, Report::Finished);
  EXPECT_TRUE(readWholeFile(destination) == readWholeFile(source));
  EXPECT_FALSE(exists(destination + ".cfg"));
}

// aria2 ends with its own code for a full disk; that is no lost connection.
TEST_F(Aria2Transfer, AFullDiskIsReportedAsSuch) {
  test::SmallVolume volume(1 << 20);
  if (!volume.mounted()) GTEST_SKIP() << volume.why();
  server.route("/pkg.zip", {{"file", source}});
  CAria2Download engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(volume.file("pkg.zip")), 3'000'000, "");
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0].kind, Report::DiskFull);
}

TEST_F(Aria2Transfer, ACutConnectionInterruptsAndResumeCompletes) {
  server.route("/pkg.zip", {{"file", source}, {"drop_after", 700'000}});
  CAria2Download engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 1u);
  ASSERT_EQ(finals[0].kind, Report::Interrupted);
  EXPECT_TRUE(exists(destination + ".aria2"));

  server.route("/pkg.zip", {{"file", source}});
  const std::size_t before = server.requestsFor("/pkg.zip").size();
  engine.Resume(false);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(server.requestsFor("/pkg.zip").size(), before) << "Resume(false) must start nothing";
  engine.Resume(true);
  finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 2u);
  ASSERT_EQ(finals[1].kind, Report::Finished);
  EXPECT_EQ(readWholeFile(destination), readWholeFile(source));
  EXPECT_FALSE(exists(destination + ".aria2"));
  EXPECT_GT(server.requestsFor("/pkg.zip").size(), before);
}

TEST_F(Aria2Transfer, NothingFetchedMeansTheEngineFailed) {
  server.route("/gone.zip", {{"status", 404}});
  {
    CAria2Download engine(&callbacks, &callbacks);
    engine.Download(server.url("/gone.zip"), wide(destination), 3'000'000, "");
    const auto finals = callbacks.awaitFinal();
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].kind, Report::EngineFailed);
    EXPECT_FALSE(exists(destination + ".aria2"));
  }
  // Without the helper in the current folder nothing starts at all.
  test::TempDir empty;
  ASSERT_TRUE(platform::setCurrentDirectory(wide(empty.path())));
  CAria2Download engine(&callbacks, &callbacks);
  engine.Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  const auto finals = callbacks.awaitFinal();
  ASSERT_EQ(finals.size(), 2u);
  EXPECT_EQ(finals[1].kind, Report::EngineFailed);
  EXPECT_EQ(engine.GetTaskCount(), 0);
}

TEST_F(Aria2Transfer, StopEndsTheChildAtOnceAndReportsNothingMore) {
  server.route("/pkg.zip", {{"file", source}, {"rate", 200'000}});
  auto engine = std::make_unique<CAria2Download>(&callbacks, &callbacks);
  engine->Download(server.url("/pkg.zip"), wide(destination), 3'000'000, "");
  ASSERT_TRUE(callbacks.awaitKind(Report::Progress, 10s));
  EXPECT_EQ(engine->GetTaskCount(), 1);
  const auto began = std::chrono::steady_clock::now();
  engine->Stop();
  EXPECT_EQ(engine->GetTaskCount(), 0);
  engine.reset();  // waits for the job
  EXPECT_LT(std::chrono::steady_clock::now() - began, 2s);
  const std::size_t reported = callbacks.all().size();
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(callbacks.all().size(), reported);
  for (const auto& r : callbacks.all()) EXPECT_EQ(r.kind, Report::Progress);
  EXPECT_TRUE(exists(destination + ".aria2"));  // aria2 died before finishing
}

// A stand-in installer runs the engine in a process of its own and names its
// helper; the test kills the stand-in and collects the orphaned helper, which
// must have died with it.
TEST_F(Aria2Transfer, TheHelperDiesWhenTheInstallerIsKilled) {
  server.route("/pkg.zip", {{"file", source}, {"rate", 100'000}});
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  const std::string url = server.url("/pkg.zip");
  const pid_t installer = fork();
  if (installer == 0) {
    dup2(output[1], 1);
    execl(KX_INSTALLER_STAND_IN, KX_INSTALLER_STAND_IN, url.c_str(), destination.c_str(), nullptr);
    _exit(127);
  }
  close(output[1]);
  char text[32] = {};
  const bool told = read(output[0], text, sizeof text - 1) > 0;
  close(output[0]);
  const pid_t helper = static_cast<pid_t>(std::atoi(text));
  kill(installer, SIGKILL);
  int status = 0;
  waitpid(installer, &status, 0);
  ASSERT_TRUE(told && helper > 0) << "the stand-in never started its helper";

  bool gone = false;
  for (int tries = 0; tries < 250 && !gone; ++tries) {
    gone = waitpid(helper, &status, WNOHANG) == helper;
    if (!gone) std::this_thread::sleep_for(20ms);
  }
  if (!gone) kill(helper, SIGKILL);
  ASSERT_TRUE(gone) << "the helper outlived the installer";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace
}  // namespace kx
