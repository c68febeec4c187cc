// Starting an installed program: its exact command line, the line written
// on standard output, and a program that outlives the installer.
#include "ui/program_start.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "common/strings.h"
#include "tests/support/tools.h"
#include "tests/ui/handlers_fixture.h"

namespace kx::test {
namespace {

namespace fs = std::filesystem;

using ProgramStart = HandlersTest;

TEST_F(ProgramStart, TheCommandLineIsTheQuotedPathASpaceAndTheArgumentText) {
  EXPECT_EQ(ui::launchCommandLine(L"/opt/x/Editor.exe", L"--customgame=12"), L"\"/opt/x/Editor.exe\" --customgame=12");
  EXPECT_EQ(ui::launchCommandLine(L"/opt/x/Editor.exe", L""), L"\"/opt/x/Editor.exe\" ");
}

TEST_F(ProgramStart, TheProgramGetsItsArgumentsAndTheStartIsReported) {
  const fs::path program = scratch.file("my games/Editor.exe");
  writeRecorder(program);
  struct Case {
    std::wstring text;
    std::vector<std::string> arguments;
  } cases[] = {
      {L"", {program.string()}},
      {L"zzarenahq://viewmap?Z2FtZT0x", {program.string(), "zzarenahq://viewmap?Z2FtZT0x"}},
      {L"--customgame=12 \"two words\"", {program.string(), "--customgame=12", "two words"}},
  };
  for (const auto& c : cases) {
    fs::remove(program.string() + ".args");
    ::testing::internal::CaptureStdout();
    EXPECT_NE(ui::startProgram(fromUtf8(program.string()), c.text), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "[          ] Successfully launched child process\n");
    EXPECT_EQ(startedWith(program), c.arguments) << toUtf8(c.text);
  }
}

TEST_F(ProgramStart, AMissingProgramIsReportedAndNotStarted) {
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ui::startProgram(fromUtf8(scratch.file("missing/Launcher.exe")), L"x"), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "CreateProcess failed (2).\n");
}

TEST_F(ProgramStart, TheLetterCaseOfTheInstalledPathDoesNotMatter) {
  const fs::path program = scratch.file("games/2.0/game/Editor.exe");
  writeRecorder(program);
  ::testing::internal::CaptureStdout();
  EXPECT_NE(ui::startProgram(fromUtf8(scratch.file("Games/2.0/game/Editor.exe")), L""), 0);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(startedWith(program));
}

TEST_F(ProgramStart, AStartedProgramKeepsRunningAfterTheInstallerHasEnded) {
  // The program outlives the process that started it by a second.
  const fs::path program = scratch.file("Launcher.exe");
  const fs::path marker = scratch.file("still running");
  writeWholeFile(program, "#!/bin/sh\nsleep 1\necho $PPID > " + shellQuote(marker.string()) + "\n");
  fs::permissions(program, fs::perms::owner_all);
  const pid_t installer = fork();
  ASSERT_NE(installer, -1);
  if (installer == 0) _exit(ui::startProgram(fromUtf8(program.string()), L"") != 0 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(installer, &status, 0), installer);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int wait = 0; wait < 100 && !fs::exists(marker); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(fs::exists(marker)) << "the program was ended with the installer";
  EXPECT_NE(readWholeFile(marker), std::to_string(installer) + "\n");
}

}  // namespace
}  // namespace kx::test
