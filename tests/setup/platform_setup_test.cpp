#include "setup/platform_setup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "common/strings.h"
#include "flavour/flavour.h"
#include "tests/setup/recording_task_callback.h"
#include "tests/support/recording_telemetry.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

TEST(PlatformSetupArguments, FollowTheFlavour) {
  struct Row {
    const char* flavour;
    std::wstring plain, shortcutAndAutoRun;
  } rows[] = {
      {"kestrix", L"/S /NCRC /L=1033 /D=/opt/My Games", L"/S /NCRC /L=1033 /D=/opt/My Games"},
      {"qv", L"/S /NCRC /L=1033 /NRUN=1 /D=/opt/My Games", L"/S /NCRC /L=1033 /NRUN=1 /MLNK=1 /MARN=1 /D=/opt/My Games"},
      {"edu", L"/S /NCRC /L=2052 /D=/opt/My Games", L"/S /NCRC /L=2052 /D=/opt/My Games"},
      {"prod", L"/S /NCRC /L=0 /D=/opt/My Games", L"/S /NCRC /L=0 /D=/opt/My Games"},
  };
  for (const auto& row : rows) {
    if (!flavourNameIs(productFlavour, row.flavour)) continue;
    EXPECT_EQ(buildPlatformSetupArguments(L"/opt/My Games/", false, false), row.plain);
    EXPECT_EQ(buildPlatformSetupArguments(L"/opt/My Games", true, true), row.shortcutAndAutoRun);
    if (isQv) {
      EXPECT_EQ(buildPlatformSetupArguments(L"/x", true, false), L"/S /NCRC /L=1033 /NRUN=1 /MLNK=1 /D=/x");
    }
    return;
  }
  FAIL() << "no row for flavour " << productFlavour;
}

TEST(PlatformSetupLog, LeadingIntegerReadsAsTheCLibraryDoes) {
  struct Case {
    const char* text;
    std::optional<long long> value;
  } cases[] = {{"37", 37},      {"37%\n", 37},          {" -5", -5},  {"+100", 100},
               {"abc", {}},     {"", {}},               {"-", {}},    {"999999999999", 999999999999LL}};
  for (const auto& c : cases) EXPECT_EQ(leadingInteger(c.text), c.value) << c.text;
}

class PlatformSetupRun : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TMPDIR", (scratch / "tmp").c_str(), 1);
    fs::create_directories(scratch / "tmp");
    setenv("KX_SETUP_ARGS", (scratch / "args.txt").c_str(), 1);
    test::clearTelemetryCalls();
  }

  // A stand-in for the downloaded setup program: a shell script under the
  // program's name, without execute permission, as a download arrives.
  std::wstring writeSetup(const std::string& body) {
    const auto path = scratch / "Lumlum Platform" / "PlatformSetup.exe";
    fs::create_directories(path.parent_path());
    test::writeWholeFile(path,
                         "#!/bin/sh\nlog=\"$TMPDIR/PlatformSetup.log\"\n"
                         "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$KX_SETUP_ARGS\"\n" +
                             body);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    return fromUtf8(path.string());
  }

  std::vector<std::wstring> platformEvents() {
    std::vector<std::wstring> events;
    for (const auto& call : test::telemetryCalls()) events.push_back(call.arguments.at(0));
    return events;
  }

  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  test::RecordingTaskCallback progress;
};

TEST_F(PlatformSetupRun, LoggedPercentagesBecomeProgressAndTheFolderStaysOneArgument) {
  const auto setup = writeSetup(
      "sleep 1.3; echo 37 > \"$log\"; sleep 1; echo 150 > \"$log\"; sleep 1; echo -5 > \"$log\"; sleep 0.9; exit 3\n");
  test::writeWholeFile(scratch / "tmp/PlatformSetup.log", "60");  // from an earlier run: deleted first
  const std::wstring folder = fromUtf8((scratch / "My Games  2").string());

  ASSERT_TRUE(runPlatformSetup(setup, buildPlatformSetupArguments(folder, true, true), &progress));

  EXPECT_EQ(progress.progress(), (std::vector<std::int32_t>{91, 95}));
  const std::string args = test::readWholeFile(scratch / "args.txt");
  EXPECT_TRUE(args.ends_with("\n/D=" + (scratch / "My Games  2").string() + "\n")) << args;
  EXPECT_TRUE(args.starts_with("/S\n/NCRC\n/L=")) << args;
  EXPECT_EQ(platformEvents(), isQv ? std::vector<std::wstring>{L"install_platform_failed"} : std::vector<std::wstring>{});
}

TEST_F(PlatformSetupRun, ReadsTwelveBytesOfTheLogAtMost) {
  // "0000000000099" read whole would give 94; its first 12 bytes say 9.
  const auto setup = writeSetup("echo 0000000000099 > \"$log\"; sleep 1.5; exit 0\n");
  ASSERT_TRUE(runPlatformSetup(setup, L"/S /D=/x", &progress));
  EXPECT_EQ(progress.progress(), (std::vector<std::int32_t>{90, 95}));
  EXPECT_EQ(platformEvents(), isQv ? std::vector<std::wstring>{L"install_platform_success"} : std::vector<std::wstring>{});
}

TEST_F(PlatformSetupRun, QuickSetupReportsOnlyTheEnd) {
  const auto setup = writeSetup("echo 50 > \"$log\"; exit 0\n");
  ASSERT_TRUE(runPlatformSetup(setup, L"/S /D=/x", &progress));
  EXPECT_EQ(progress.progress(), std::vector<std::int32_t>{95});
  EXPECT_TRUE(runPlatformSetup(setup, L"/S /D=/x", nullptr)) << "no callback is fine";
}

TEST_F(PlatformSetupRun, MissingProgramIsNotStarted) {
  EXPECT_FALSE(runPlatformSetup(L"", L"/S", &progress));
  EXPECT_FALSE(runPlatformSetup(fromUtf8((scratch / "absent.exe").string()), L"/S", &progress));
  EXPECT_TRUE(progress.progress().empty());
  EXPECT_TRUE(platformEvents().empty());
}

}  // namespace
}  // namespace kx
