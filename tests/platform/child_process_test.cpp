#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <chrono>

#include "common/strings.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;

TEST(ArgumentText, SplitsAsWindowsProgramsDoAndKeepsTheSetupFolderWhole) {
  struct Case {
    std::wstring text;
    std::vector<std::wstring> arguments;
  } cases[] = {
      {L"/S /NCRC /L=1033 /D=C:\\Program Files\\Lumlum  Platform", {L"/S", L"/NCRC", L"/L=1033", L"/D=C:\\Program Files\\Lumlum  Platform"}},
      {L"/D=/opt/a \"b\" c", {L"/D=/opt/a \"b\" c"}},
      {L"a  \"b c\" d\\\"e \\\\\"f g\"", {L"a", L"b c", L"d\"e", L"\\f g"}},
      {L"\"x\"\"y\" C:\\dir\\ ", {L"x\"y", L"C:\\dir\\"}},
      {L"", {}},
      {L"/S/D=x", {L"/S/D=x"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitArgumentText(c.text), c.arguments) << toUtf8(c.text);
}

TEST(ChildProcess, StartsADownloadedProgramAndReportsItsExit) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  const auto program = scratch / "Setup Tool.exe";
  test::writeWholeFile(program, "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args\"\nsleep 0.3\nexit 7\n");
  fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);

  auto child = ChildProcess::start(fromUtf8(program.string()), L"/S /D=/opt/My Games");
  ASSERT_TRUE(child);
  EXPECT_FALSE(child->wait(50));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(child->wait(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << "the wait ends with the program";
  EXPECT_EQ(child->exitCode(), 7);
  EXPECT_EQ(test::readWholeFile(scratch / "args"), "/S|/D=/opt/My Games|");
  const auto perms = fs::status(program).permissions();
  EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
  EXPECT_NE(perms & fs::perms::others_exec, fs::perms::none);
  EXPECT_EQ(perms & fs::perms::group_exec, fs::perms::none) << "only for those who may read it";
}

TEST(ChildProcess, MissingProgramIsNotStarted) {
  EXPECT_FALSE(ChildProcess::start(L"/nonexistent/setup.exe", L"/S"));
  EXPECT_FALSE(ChildProcess::start(L"", L""));
}

}  // namespace
}  // namespace kx::platform
