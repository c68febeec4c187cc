// Who a file at the download path belongs to, and moving the user's aside.
#include "download/destination.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "download/resume_record.h"
#include "tests/support/tools.h"
#include "tests/support/test_server.h"

namespace kx {
namespace {

using namespace kx::test;

TEST(Destination, OwnershipFollowsTheRecordOrAria2sControlFile) {
  TempDir dir;
  const std::string path = dir.file("pkg.zip");
  const std::string url = "https://dl.kx.test/pkg.zip";
  const auto record = [&](const std::string& recordUrl, const std::string& dst, std::uint64_t seek) {
    ResumeRecord r;
    r.supportResume = true;
    r.size = 1000;
    r.url = recordUrl;
    r.dst = wide(dst);
    r.range = {{true, true, false, 0, 500, 500, "pkg.zip_id_0"}, {seek == 500, true, false, 500, 500, seek, "pkg.zip_id_1"}};
    SaveResumeRecord(wide(path + ".cfg"), r);
  };
  struct Case {
    const char* name;
    std::function<void()> leave;
    DestinationState expected;
  };
  const Case cases[] = {
      {"nothing", [] {}, DestinationState::Absent},
      {"a record without its file", [&] { record(url, path, 500); }, DestinationState::Absent},
      {"a file alone", [&] { writeWholeFile(path, std::string(1000, 'u')); }, DestinationState::Foreign},
      {"a file beside a record of another path",
       [&] {
         writeWholeFile(path, std::string(1000, 'u'));
         record(url, dir.file("elsewhere.zip"), 500);
       },
       DestinationState::Foreign},
      {"a file beside a record of another download",
       [&] {
         writeWholeFile(path, std::string(1000, 'o'));
         record("https://dl.kx.test/old/pkg.zip", path, 500);
       },
       DestinationState::Stale},
      {"a complete download",
       [&] {
         writeWholeFile(path, std::string(1000, 'd'));
         record(url, path, 500);
       },
       DestinationState::Complete},
      {"a complete record of a file cut short",
       [&] {
         writeWholeFile(path, std::string(999, 'd'));
         record(url, path, 500);
       },
       DestinationState::Stale},
      {"ranges still to fetch",
       [&] {
         writeWholeFile(path, std::string(1000, 'd'));
         record(url, path, 100);
       },
       DestinationState::Unfinished},
      {"aria2's partial file",
       [&] {
         writeWholeFile(path, std::string(1000, 'd'));
         writeWholeFile(path + ".aria2", "state");
       },
       DestinationState::Aria2Unfinished},
  };
  for (const Case& c : cases) {
    for (const char* name : {"pkg.zip", "pkg.zip.cfg", "pkg.zip.aria2"}) std::filesystem::remove(dir.file(name));
    c.leave();
    EXPECT_EQ(InspectDestination(wide(path), url, 1000), c.expected) << c.name;
  }
}

// A name already taken is never replaced: the user may have a "pkg (1).zip" of their own.
TEST(Destination, MoveAsideTakesTheFirstFreeName) {
  TempDir dir;
  writeWholeFile(dir.file("pkg.zip"), "theirs");
  writeWholeFile(dir.file("pkg (1).zip"), "also theirs");
  EXPECT_EQ(MoveAside(wide(dir.file("pkg.zip"))), wide(dir.file("pkg (2).zip")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("pkg.zip")));
  EXPECT_EQ(readWholeFile(dir.file("pkg (1).zip")), "also theirs");
  EXPECT_EQ(readWholeFile(dir.file("pkg (2).zip")), "theirs");
  EXPECT_EQ(MoveAside(wide(dir.file("missing.zip"))), std::nullopt);
}

}  // namespace
}  // namespace kx
