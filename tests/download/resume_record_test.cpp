// The resume record file: what it holds, which files are refused, and that a
// crash in the middle of a save never leaves an unreadable record behind.
#include "download/resume_record.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

using test::TempDir;
using test::wide;
using test::writeWholeFile;


ResumeRecord sampleRecord(const std::wstring& dst) {
  ResumeRecord record;
  record.supportResume = true;
  record.size = 1000;
  record.url = "https://example.test/pkg.zip";
  record.dst = dst;
  record.range = {{false, true, false, 0, 500, 120, "pkg.zip_id_0"}, {true, true, true, 500, 500, 500, "pkg.zip_id_1"}};
  return record;
}

TEST(ResumeRecord, FileIsCompactJsonWithSortedKeys) {
  const ResumeRecord record = sampleRecord(L"/games/pkg.zip");
  EXPECT_EQ(ResumeRecordText(record),
            R"({"dst":"/games/pkg.zip","range":[{"bFinished":false,"bRange":true,"length":500,"seek":120,"start":0,)"
            R"("tmp":"pkg.zip_id_0"},{"bFinished":true,"bRange":true,"length":500,"seek":500,"start":500,)"
            R"("tmp":"pkg.zip_id_1"}],"size":1000,"supportResume":true,"url":"https://example.test/pkg.zip"})");
  EXPECT_EQ(ResumeRecordPath(L"/games/pkg.zip"), L"/games/pkg.zip.cfg");
}

TEST(ResumeRecord, SaveAndLoadKeepEverythingButTheFailedFlag) {
  TempDir dir;
  const std::wstring dst = L"/tmp/Kestrix \u7F16\u8F91\u5668/pkg.zip";  // non-ASCII folder
  const std::wstring recordPath = wide(dir.file("pkg.zip.cfg"));
  SaveResumeRecord(recordPath, sampleRecord(dst));
  ResumeRecord loaded;
  ASSERT_TRUE(LoadResumeRecord(recordPath, loaded));
  EXPECT_EQ(loaded.dst, dst);
  EXPECT_TRUE(loaded.supportResume);
  EXPECT_EQ(loaded.size, 1000u);
  EXPECT_EQ(loaded.url, "https://example.test/pkg.zip");
  ASSERT_EQ(loaded.range.size(), 2u);
  EXPECT_EQ(loaded.range[0].seek, 120u);
  EXPECT_EQ(loaded.range[1].start, 500u);
  EXPECT_TRUE(loaded.range[1].bFinished);
  EXPECT_FALSE(loaded.range[1].failed);
  EXPECT_EQ(loaded.range[1].tmp, "pkg.zip_id_1");
  EXPECT_FALSE(std::filesystem::exists(dir.file("pkg.zip.cfg.tmp")));
}

TEST(ResumeRecord, LoadRefusesMalformedFiles) {
  const std::string segment = R"({"bFinished":false,"bRange":true,"start":0,"length":10,"seek":0,"tmp":"a_id_0"})";
  struct Case {
    const char* name;
    std::string text;
    bool loads;
  };
  const std::vector<Case> cases = {
      {"complete", R"({"supportResume":true,"size":10,"url":"u","dst":"d","range":[)" + segment + "]}", true},
      {"size written as a float", R"({"supportResume":true,"size":1000.0,"url":"u","dst":"d","range":[]})", true},
      {"range missing", R"({"supportResume":true,"size":10,"url":"u","dst":"d"})", true},
      {"supportResume a string", R"({"supportResume":"true","size":10,"url":"u","dst":"d","range":[]})", false},
      {"url missing", R"({"supportResume":true,"size":10,"dst":"d","range":[]})", false},
      {"size a string", R"({"supportResume":true,"size":"10","url":"u","dst":"d","range":[]})", false},
      {"range not an array", R"({"supportResume":true,"size":10,"url":"u","dst":"d","range":{}})", false},
      {"segment lacks seek", R"({"supportResume":true,"size":10,"url":"u","dst":"d","range":[{"bFinished":false,)"
                             R"("bRange":true,"start":0,"length":10,"tmp":"a"}]})", false},
      {"truncated", R"({"supportResume":true,"size":10,"url":)", false},
      {"comment", R"({"supportResume":true,"size":10,"url":"u","dst":"d"} // note)", false},
      {"empty", "", false},
  };
  TempDir dir;
  for (const Case& c : cases) {
    writeWholeFile(dir.file("r.cfg"), c.text);
    ResumeRecord record;
    EXPECT_EQ(LoadResumeRecord(wide(dir.file("r.cfg")), record), c.loads) << c.name;
    if (c.loads) {
      EXPECT_EQ(record.size, c.name == std::string("size written as a float") ? 1000u : 10u) << c.name;
    }
  }
  ResumeRecord record;
  EXPECT_FALSE(LoadResumeRecord(L"", record));
  EXPECT_FALSE(LoadResumeRecord(wide(dir.file("missing.cfg")), record));
}

// A process saving its record over and over is killed at random moments; every
// kill must leave a record that loads.
TEST(ResumeRecord, SurvivesAKillDuringASave) {
  TempDir dir;
  const std::wstring recordPath = wide(dir.file("pkg.zip.cfg"));
  ResumeRecord record = sampleRecord(L"/games/pkg.zip");
  record.range.resize(200, record.range[0]);  // a large record widens the window a torn save would leave
  SaveResumeRecord(recordPath, record);
  std::mt19937 random(std::random_device{}());
  for (int kill = 0; kill < 20; ++kill) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (std::uint64_t seek = 0;; ++seek) {
        record.range[0].seek = seek;
        SaveResumeRecord(recordPath, record);
      }
    }
    usleep(std::uniform_int_distribution<useconds_t>(2000, 20000)(random));
    ::kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ResumeRecord loaded;
    ASSERT_TRUE(LoadResumeRecord(recordPath, loaded)) << "after kill " << kill;
    EXPECT_EQ(loaded.range.size(), 200u);
  }
}

}  // namespace
}  // namespace kx
