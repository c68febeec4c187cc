// A download process killed at random moments resumes from its record each
// time and finishes with the right content, fetching again only what it wrote
// after the record's last save plus what was in flight.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <random>
#include <thread>

#include "download/resume_record.h"
#include "platform/system_info.h"
#include "tests/support/tools.h"
#include "tests/support/test_server.h"

extern char** environ;

namespace kx {
namespace {

using namespace kx::test;
using namespace std::chrono_literals;

pid_t startRunner(const std::string& url, const std::string& dest, std::uint64_t size) {
  const std::string sizeText = std::to_string(size);
  const char* argv[] = {KX_RESUME_RUNNER, url.c_str(), dest.c_str(), sizeText.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, KX_RESUME_RUNNER, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
  return pid;
}

std::size_t getsSince(const TestServer& server, std::size_t first) {
  std::size_t count = 0;
  const auto requests = server.requestsFor("/pkg.zip");
  for (std::size_t i = first; i < requests.size(); ++i) count += requests[i]["method"] == "GET";
  return count;
}

// Polls `done` every 10 ms for up to ten seconds.
template <typename Done>
bool eventually(Done done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

std::uint64_t bytesServed(const TestServer& server) {
  std::uint64_t sent = 0;
  for (const auto& request : server.requestsFor("/pkg.zip"))
    if (request["method"] == "GET") sent += request["sent"].get<std::uint64_t>();
  return sent;
}

TEST(CrashResume, KilledDownloadResumesFromItsRecordEveryTime) {
  constexpr std::uint64_t kSize = 24 << 20;
  constexpr int kKills = 4;
  const unsigned segments = std::min(platform::processorCount(), 3u);  // as the runner plans them
  TempDir dir;
  const std::string source = dir.file("source.bin");
  const std::string dest = dir.file("pkg.zip");
  writeRandomFile(source, kSize, 11);
  TestServer::Options options;
  options.tls = false;
  TestServer server(options);
  server.route("/pkg.zip", {{"file", source}, {"rate", 6 << 20}});  // per connection
  const std::string url = server.url("/pkg.zip");

  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::uint64_t allowedRefetch = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    const std::size_t requestsBefore = server.requestsFor("/pkg.zip").size();
    ResumeRecord before;
    const bool resuming = LoadResumeRecord(wide(dest + ".cfg"), before);
    std::size_t unfinished = segments;
    if (resuming) {
      unfinished = 0;
      for (const auto& segment : before.range) unfinished += !segment.bFinished && segment.seek < segment.length;
    }
    const pid_t runner = startRunner(url, dest, kSize);
    ASSERT_GT(runner, 0);
    // Kill it somewhere in the middle of its transfers, once it has a record.
    EXPECT_TRUE(eventually([&] { return getsSince(server, requestsBefore) >= unfinished; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(100, 400)(random)));
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(dest + ".cfg"); }));
    ASSERT_EQ(::kill(runner, SIGKILL), 0);
    waitpid(runner, nullptr, 0);

    ResumeRecord after;
    ASSERT_TRUE(LoadResumeRecord(wide(dest + ".cfg"), after)) << "record lost at kill " << kill;
    if (resuming) {
      // The restarted run asked exactly for what the record had not yet seen.
      std::set<std::string> expected, asked;
      for (const auto& segment : before.range)
        if (!segment.bFinished && segment.seek < segment.length)
          expected.insert("bytes=" + std::to_string(segment.start + segment.seek) + "-" +
                          std::to_string(segment.start + segment.length - 1));
      const auto requests = server.requestsFor("/pkg.zip");
      for (std::size_t i = requestsBefore; i < requests.size(); ++i)
        if (requests[i]["method"] == "GET") asked.insert(requests[i]["range"].get<std::string>());
      EXPECT_EQ(asked, expected) << "kill " << kill;
    }
    // One percent between saves, and the blocks each connection had in flight.
    allowedRefetch += kSize / 100 + segments * (768 << 10);
  }

  const pid_t runner = startRunner(url, dest, kSize);
  ASSERT_GT(runner, 0);
  int status = -1;
  waitpid(runner, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(readWholeFile(dest), readWholeFile(source));
  EXPECT_LE(bytesServed(server), kSize + allowedRefetch);
}

}  // namespace
}  // namespace kx
