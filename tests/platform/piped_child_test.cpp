#include "platform/piped_child.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/child_process.h"
#include "platform/current_directory.h"
#include "tests/support/test_server.h"

namespace kx::platform {
namespace {

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

std::string readAll(PipedChild& child) {
  std::string out;
  char buffer[64];
  while (std::size_t n = child.read(buffer, sizeof buffer)) out.append(buffer, n);
  return out;
}

TEST(PipedChild, CollectsStandardOutputAndErrorAndTheExitCode) {
  PipedChild child;
  ASSERT_TRUE(child.start(L"sh -c \"echo out; echo err >&2; read x || echo no-input; exit 3\""));
  EXPECT_EQ(readAll(child), "out\nerr\nno-input\n");
  EXPECT_EQ(child.wait(), 3);
}

TEST(PipedChild, FindsABareProgramNameInTheCurrentFolderFirst) {
  test::TempDir dir;
  const std::wstring before = currentDirectory();
  ASSERT_EQ(symlink("/bin/echo", dir.file("helper.exe").c_str()), 0);
  ASSERT_TRUE(setCurrentDirectory(std::wstring(dir.path().begin(), dir.path().end())));
  PipedChild child;
  const bool started = child.start(L"helper.exe \"from here\"");
  setCurrentDirectory(before);
  ASSERT_TRUE(started);
  EXPECT_EQ(readAll(child), "from here\n");
  EXPECT_EQ(child.wait(), 0);
}

TEST(PipedChild, AMissingProgramDoesNotStart) {
  PipedChild child;
  EXPECT_FALSE(child.start(L"no-such-helper.exe -c"));
  EXPECT_FALSE(child.start(L"/nonexistent/folder/helper.exe"));
  EXPECT_FALSE(child.start(L""));
  EXPECT_EQ(child.read(nullptr, 0), 0u);
}

TEST(PipedChild, TerminateEndsAReaderBlockedOnTheChild) {
  PipedChild child;
  ASSERT_TRUE(child.start(L"sleep 30"));
  const auto began = std::chrono::steady_clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    child.terminate();
  });
  char buffer[16];
  EXPECT_EQ(child.read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(child.wait(), 128 + 9);
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
  child.terminate();  // after collection: must not signal anything
}

}  // namespace
}  // namespace kx::platform
