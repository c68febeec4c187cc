// The first-call parse is process-wide, so it has an executable of its own.
#include <gtest/gtest.h>

#include "install_manager/command_line.h"
#include "install_manager/install_man.h"
#include "tests/support/recording_telemetry.h"

namespace kx {
namespace {

TEST(CommandLineOnce, ParsesOnceAndSendsOneLaunchEventInFlavourQv) {
  InstallMan& manager = InstallMan::instance();
  manager.parseCommandLineOnce({L"KestrixSetup", L"--channel", L"steam", L"-s", L"C:\\d\\Game@4242 (3).exe",
                                L"--api=https://api.test/x?mapId="});
  EXPECT_EQ(channel(), "steam");
  EXPECT_EQ(manager.mapId, L"4242");
  EXPECT_EQ(commandLineValue("api"), "https://api.test/x?mapId=");
  EXPECT_EQ(commandLineValue("json"), "");

  manager.parseCommandLineOnce({L"KestrixSetup", L"--channel", L"other", L"--json", L"https://j/"});
  EXPECT_EQ(channel(), "steam");
  EXPECT_EQ(commandLineValue("json"), "");

  const auto calls = test::telemetryCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].call, "AppLaunch");
  EXPECT_EQ(calls[0].arguments, (std::vector<std::wstring>{L"MA-2718-5A5A5A5A5A5A", L"1.0.8", L"steam"}));
}

}  // namespace
}  // namespace kx
