#include <gtest/gtest.h>

#include <sstream>

#include "flavour/flavour.h"
#include "install_manager/command_line.h"
#include "install_manager/install_man.h"

namespace kx {
namespace {

struct ParseCase {
  std::vector<std::wstring> args;
  std::string json, cfg, api, channel, setup;
  bool reportsError;
};

std::string valueOf(const cxxopts::ParseResult& result, const char* name) {
  return result.count(name) ? result[name].as<std::string>() : std::string("<absent>");
}

TEST(CommandLine, ParsesTheFiveOptionsInEverySyntax) {
  const std::string absent = "<absent>";
  const ParseCase cases[] = {
      {{L"KestrixSetup"}, absent, absent, absent, absent, absent, false},
      {{L"KestrixSetup", L"-j", L"https://a/j", L"-c", L"https://a/c"}, "https://a/j", "https://a/c", absent, absent,
       absent, false},
      {{L"KestrixSetup", L"--json=https://a/j?x=1", L"--cfg", L"https://a/c"}, "https://a/j?x=1", "https://a/c",
       absent, absent, absent, false},
      {{L"KestrixSetup", L"--api", L"https://m/", L"-l", L"steam", L"--setup=D:\\dl\\Dragon_setup.exe"}, absent,
       absent, "https://m/", "steam", "D:\\dl\\Dragon_setup.exe", false},
      {{L"KestrixSetup", L"--unknown", L"--other=1", L"-z", L"--channel=渠道"}, absent, absent, absent, "渠道", absent,
       false},
      {{L"KestrixSetup", L"-l", L"steam", L"--json"}, absent, absent, absent, absent, absent, true},
      {{}, absent, absent, absent, absent, absent, false},
  };
  for (const auto& c : cases) {
    std::ostringstream errors;
    const auto result = parseArguments(c.args, errors);
    ASSERT_TRUE(result);
    SCOPED_TRACE(c.args.size() > 1 ? std::string(c.args[1].begin(), c.args[1].end()) : "no options");
    EXPECT_EQ(valueOf(*result, "json"), c.json);
    EXPECT_EQ(valueOf(*result, "cfg"), c.cfg);
    EXPECT_EQ(valueOf(*result, "api"), c.api);
    EXPECT_EQ(valueOf(*result, "channel"), c.channel);
    EXPECT_EQ(valueOf(*result, "setup"), c.setup);
    const std::string message = errors.str();
    if (c.reportsError) {
      EXPECT_NE(message.find("json"), std::string::npos) << message;
      EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    } else {
      EXPECT_EQ(message, "");
    }
  }
}

struct SetupNameCase {
  std::wstring path;
  std::wstring kestrixName;  // map file name outside flavour qv
  std::wstring qvId;         // map id in flavour qv
};

TEST(CommandLine, SetupFileNameGivesTheMapKeyOfTheFlavour) {
  const SetupNameCase cases[] = {
      {L"tool_setup.exe", L"tool", L""},
      {L"TOOL_SETUP.EXE", L"TOOL", L""},
      {L"tool.exe", L"", L""},
      {L"tool_setup.exe.bak", L"", L""},
      {L"C:\\Users\\u\\Downloads\\Dragon Tower_setup.exe", L"Dragon Tower", L""},
      {L"/home/u/Downloads/龙之塔_Setup.exe", L"龙之塔", L""},
      {L"C:\\dl\\Installer@12345 (1).exe", L"", L"12345"},
      {L"Installer@1@777.exe", L"", L"777"},
      {L"Game@55(2).EXE", L"", L"55"},
      {L"Installer.exe", L"", L""},
      {L"a@b/c_setup.exe", L"c", L""},  // only the file name counts
  };
  for (const auto& c : cases) {
    InstallMan manager;
    manager.setSetupPath(c.path);
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    if (isQv) {
      EXPECT_EQ(manager.mapId, c.qvId);
      EXPECT_EQ(manager.mapDisplayName, L"");
    } else {
      EXPECT_EQ(manager.mapDisplayName, c.kestrixName);
      EXPECT_EQ(manager.mapId, L"");
    }
  }
}

}  // namespace
}  // namespace kx
