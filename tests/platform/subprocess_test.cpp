#include "platform/subprocess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/strings.h"
#include "platform/current_directory.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Output = Subprocess::Output;
using Lifetime = Subprocess::Lifetime;

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

// The rules the aria2 command line relies on, above all the root folder's doubled backslash.
TEST(SplitWindowsArguments, FollowsTheRuntimeRulesForQuotesAndBackslashes) {
  const struct {
    std::wstring line;
    std::vector<std::wstring> args;
  } cases[] = {
      {L"prog a  b\tc", {L"prog", L"a", L"b", L"c"}},
      {L"prog -d \"/a folder/x\" -o \"pkg.zip\"", {L"prog", L"-d", L"/a folder/x", L"-o", L"pkg.zip"}},
      {L"prog -d \"D:\\\\\" x", {L"prog", L"-d", L"D:\\", L"x"}},      // the doubled backslash before a closing mark
      {L"prog -d \"D:\\\" x", {L"prog", L"-d", L"D:\" x"}},           // a single one escapes the mark
      {L"prog a\\b\\\\c", {L"prog", L"a\\b\\\\c"}},                  // backslashes elsewhere are literal
      {L"prog \"\" --k=\"v w\"", {L"prog", L"", L"--k=v w"}},
      {L"  ", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitWindowsArguments(c.line), c.args) << std::string(c.line.begin(), c.line.end());
}

std::string readAll(Subprocess& child) {
  std::string out;
  char buffer[64];
  while (std::size_t n = child.read(buffer, sizeof buffer)) out.append(buffer, n);
  return out;
}

// Starts `line` (its first word names the program) with its output in a pipe.
std::unique_ptr<Subprocess> startPiped(const std::wstring& program, const std::wstring& line,
                                       Lifetime lifetime = Lifetime::EndsWithInstaller) {
  return Subprocess::start(program, CommandLine{line}, {.output = Output::Pipe, .lifetime = lifetime});
}

TEST(Subprocess, StartsADownloadedProgramWithSetupParametersAndReportsItsExit) {
  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  const auto program = scratch / "Setup Tool.exe";
  test::writeWholeFile(program, "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args\"\nsleep 0.3\nexit 7\n");
  fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);

  auto child = Subprocess::start(fromUtf8(program.string()), ParameterText{L"/S /D=/opt/My Games"},
                                 {.makeExecutable = true});
  ASSERT_TRUE(child);
  EXPECT_FALSE(child->wait(50ms));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(child->wait(5000ms));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << "the wait ends with the program";
  EXPECT_EQ(child->exitCode(), 7);
  EXPECT_EQ(test::readWholeFile(scratch / "args"), "/S|/D=/opt/My Games|");
  const auto perms = fs::status(program).permissions();
  EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
  EXPECT_NE(perms & fs::perms::others_exec, fs::perms::none);
  EXPECT_EQ(perms & fs::perms::group_exec, fs::perms::none) << "only for those who may read it";
}

TEST(Subprocess, PassesAnArgumentListAsItIs) {
  auto child = Subprocess::start(L"/bin/sh", ArgumentList{"-c", "printf '%s|' \"$0\" \"$@\"", "a \"b\"", "", "c\\"},
                                 {.output = Output::Pipe});
  ASSERT_TRUE(child);
  EXPECT_EQ(readAll(*child), "a \"b\"||c\\|");
  EXPECT_EQ(child->wait(), 0);
}

// Every way a start can fail, for every lifetime: nothing runs, and the
// caller hears of it.
TEST(Subprocess, AProgramThatCannotRunIsReportedAndNotStarted) {
  test::TempDir dir;
  const std::string marker = dir.file("ran");
  const std::string script = dir.file("setup.exe");
  test::writeWholeFile(script, "#!/bin/sh\ntouch '" + marker + "'\n");
  fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);  // no execute permission
  test::writeWholeFile(dir.file("broken.exe"), "#!/nonexistent/interpreter\n");
  fs::permissions(dir.file("broken.exe"), fs::perms::owner_all);

  const std::wstring programs[] = {L"/nonexistent/folder/helper.exe", L"no-such-helper.exe", L"",
                                   fromUtf8(script), fromUtf8(dir.file("broken.exe")), fromUtf8(dir.path())};
  for (const Lifetime lifetime : {Lifetime::OutlivesInstaller, Lifetime::EndsWithInstaller, Lifetime::Detached}) {
    for (const auto& program : programs) {
      EXPECT_FALSE(Subprocess::start(program, CommandLine{L"helper.exe -c"}, {.lifetime = lifetime}))
          << toUtf8(program) << " lifetime " << static_cast<int>(lifetime);
    }
  }
  EXPECT_EQ(startDetached(fromUtf8(script), L"setup.exe"), 0);
  EXPECT_FALSE(Subprocess::start(L"/bin/true", CommandLine{L"true"}, {.output = Output::Pipe, .lifetime = Lifetime::Detached}))
      << "a detached program has no pipe of ours";
  EXPECT_FALSE(fs::exists(marker));
}

TEST(Subprocess, PipeCollectsStandardOutputAndErrorAndTheExitCode) {
  auto child = startPiped(L"sh", L"sh -c \"echo out; echo err >&2; read x || echo no-input; exit 3\"");
  ASSERT_TRUE(child);
  EXPECT_EQ(readAll(*child), "out\nerr\nno-input\n");
  EXPECT_EQ(child->wait(), 3);
  EXPECT_EQ(child->exitCode(), 3);
}

TEST(Subprocess, APipedProgramsLinesArriveAsPrinted) {
  test::TempDir dir;
  const std::string go = dir.file("go");
  // Prints one line, then waits (at most ten seconds) for the test to let it print the next.
  auto child = startPiped(L"sh", L"sh -c \"echo first; i=0; while [ ! -e '" + fromUtf8(go) +
                                     L"' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; echo second\"");
  ASSERT_TRUE(child);
  std::string first;
  char c;
  while (first.find('\n') == std::string::npos && child->read(&c, 1) == 1) first += c;
  EXPECT_EQ(first, "first\n");
  EXPECT_TRUE(child->running()) << "the first line came only when the program ended";
  test::writeWholeFile(go, "");
  EXPECT_EQ(readAll(*child), "second\n");
  EXPECT_EQ(child->wait(), 0);
}

TEST(Subprocess, FindsABareProgramNameInTheCurrentFolderFirst) {
  test::TempDir dir;
  const std::wstring before = currentDirectory();
  ASSERT_EQ(symlink("/bin/echo", dir.file("helper.exe").c_str()), 0);
  ASSERT_TRUE(setCurrentDirectory(std::wstring(dir.path().begin(), dir.path().end())));
  auto child = startPiped(L"helper.exe", L"helper.exe \"from here\"");
  setCurrentDirectory(before);
  ASSERT_TRUE(child);
  EXPECT_EQ(readAll(*child), "from here\n");
  EXPECT_EQ(child->wait(), 0);
}

TEST(Subprocess, KillEndsAReaderBlockedOnTheChild) {
  auto child = startPiped(L"sleep", L"sleep 30");
  ASSERT_TRUE(child);
  const auto began = std::chrono::steady_clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    child->kill();
  });
  char buffer[16];
  EXPECT_EQ(child->read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(child->wait(), 128 + 9);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  child->kill();  // after collection: must not signal anything
}

TEST(Subprocess, TheProgramGetsNoDescriptorOfTheInstallers) {
  const int inheritable = ::open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_GE(inheritable, 3);
  const std::wstring fd = std::to_wstring(inheritable);
  for (const Output output : {Output::Inherit, Output::Pipe, Output::Discard}) {
    auto child = Subprocess::start(
        L"sh", CommandLine{L"sh -c \"test -e /proc/$$/fd/" + fd + L" && exit 1; exit 0\""}, {.output = output});
    ASSERT_TRUE(child);
    EXPECT_EQ(child->wait(), 0) << "descriptor " << inheritable << " leaked, output " << static_cast<int>(output);
  }
  ::close(inheritable);
}

void killAndCollect(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

TEST(Subprocess, TerminateEndsTheWholeGroupOfAProgramWithAGroupOfItsOwn) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // the helper, orphaned, comes to this process
  // The program starts a helper in the background, names it, and waits.
  auto child = Subprocess::start(L"sh", CommandLine{L"sh -c \"sleep 30 & echo $!; wait\""},
                                 {.output = Output::Pipe, .lifetime = Lifetime::EndsWithInstaller,
                                  .ownProcessGroup = true});
  ASSERT_TRUE(child);
  EXPECT_EQ(::getsid(child->pid()), child->pid()) << "a session and group of its own";
  std::string line;
  char c;
  while (child->read(&c, 1) == 1 && c != '\n') line += c;
  const pid_t helper = std::stoi(line);
  ASSERT_EQ(::getpgid(helper), child->pid());
  child->terminate(2000ms);
  EXPECT_FALSE(child->running());
  EXPECT_EQ(child->exitCode(), 128 + SIGTERM);
  int status = 0;
  bool gone = false;
  for (int tries = 0; tries < 250 && !gone; ++tries) {
    gone = ::waitpid(helper, &status, WNOHANG) == helper;
    if (!gone) std::this_thread::sleep_for(20ms);
  }
  if (!gone) killAndCollect(helper);
  EXPECT_TRUE(gone) << "the helper outlived its group's end";
}

// A stand-in installer: a process of its own that starts `sleep 30` with the
// given lifetime, tells the test the program's process id and which children
// it has left, and waits to be killed.
struct StandIn {
  pid_t installer = -1;
  pid_t program = 0;
  std::string childrenLeft;
};

StandIn runStandIn(Lifetime lifetime, bool askedToEnd) {
  int channel[2];
  if (::pipe(channel) != 0) return {};
  StandIn standIn;
  standIn.installer = ::fork();
  if (standIn.installer == 0) {
    ::close(channel[0]);
    const auto program = Subprocess::start(L"/bin/sleep", CommandLine{L"sleep 30"},
                                           {.output = Output::Discard, .lifetime = lifetime, .askedToEnd = askedToEnd});
    std::ifstream childrenFile("/proc/self/task/" + std::to_string(::getpid()) + "/children");
    std::string children;
    std::getline(childrenFile, children);
    const std::string report = std::to_string(program ? program->pid() : 0) + "\n" + children + "\n";
    [[maybe_unused]] const ssize_t written = ::write(channel[1], report.data(), report.size());
    ::close(channel[1]);
    ::pause();
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string report;
  char buffer[128];
  ssize_t n;
  while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<std::size_t>(n));
  ::close(channel[0]);
  const auto newline = report.find('\n');
  if (newline == std::string::npos) return standIn;
  standIn.program = std::atoi(report.substr(0, newline).c_str());
  standIn.childrenLeft = report.substr(newline + 1);
  while (!standIn.childrenLeft.empty() && (standIn.childrenLeft.back() == '\n' || standIn.childrenLeft.back() == ' '))
    standIn.childrenLeft.pop_back();
  return standIn;
}

// The orphaned program comes to this process (a subreaper), which collects it
// and sees the signal that ended it.
TEST(Subprocess, TheDeathSignalReachesTheProgramWhenItsStarterIsKilled) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  for (const bool askedToEnd : {false, true}) {
    const StandIn standIn = runStandIn(Lifetime::EndsWithInstaller, askedToEnd);
    ASSERT_GT(standIn.installer, 0);
    killAndCollect(standIn.installer);
    ASSERT_GT(standIn.program, 0) << "the stand-in never started its program";
    int status = 0;
    bool gone = false;
    for (int tries = 0; tries < 250 && !gone; ++tries) {
      gone = ::waitpid(standIn.program, &status, WNOHANG) == standIn.program;
      if (!gone) std::this_thread::sleep_for(20ms);
    }
    if (!gone) killAndCollect(standIn.program);
    ASSERT_TRUE(gone) << "the program outlived its starter";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == (askedToEnd ? SIGTERM : SIGKILL)) << askedToEnd;
  }
}

TEST(Subprocess, ADetachedProgramOutlivesItsStarterAndLeavesItNoChild) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // so that this test can collect the program at the end
  const StandIn standIn = runStandIn(Lifetime::Detached, false);
  ASSERT_GT(standIn.installer, 0);
  killAndCollect(standIn.installer);
  ASSERT_GT(standIn.program, 0) << "the stand-in never started its program";
  EXPECT_EQ(standIn.childrenLeft, "") << "the starter keeps a child to collect";

  EXPECT_EQ(::kill(standIn.program, 0), 0) << "the program ended with its starter";
  EXPECT_EQ(::getsid(standIn.program), standIn.program) << "a session of its own";
  const std::string fd = "/proc/" + std::to_string(standIn.program) + "/fd/";
  for (const char* stream : {"0", "1", "2"}) EXPECT_EQ(fs::read_symlink(fd + stream).string(), "/dev/null") << stream;
  killAndCollect(standIn.program);
}

TEST(Subprocess, StartDetachedRunsTheCommandLineAndAnswersTheProcessId) {
  test::TempDir dir;
  const std::string out = dir.file("args");
  const std::string script = dir.file("Editor App.exe");
  test::writeWholeFile(script, "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\" > '" + out + ".part'\nmv '" + out + ".part' '" + out + "'\n");
  fs::permissions(script, fs::perms::owner_all);
  const pid_t pid = startDetached(fromUtf8(script), L"\"" + fromUtf8(script) + L"\" -map \"a b\" ");
  ASSERT_GT(pid, 0);
  for (int tries = 0; tries < 250 && !fs::exists(out); ++tries) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(test::readWholeFile(out), script + "|-map|a b|");
}

}  // namespace
}  // namespace kx::platform
