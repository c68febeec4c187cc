#include "setup/extraction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "common/strings.h"
#include "platform/codepage.h"
#include "tests/setup/recording_task_callback.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class Extraction : public ::testing::Test {
 protected:
  // Writes the archive and returns the offsets at which the entries' data end.
  std::vector<std::uint64_t> makeArchive(const json& entries) {
    const auto result = test::runPython(
        "exec(open(" + json(std::string(KX_SOURCE_DIR) + "/tests/setup/make_zip.py").dump() + ").read())",
        test::shellQuote(archive.string()) + " " + test::shellQuote(entries.dump()));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    return json::parse(result.output).get<std::vector<std::uint64_t>>();
  }

  bool unzip(std::uint64_t total = 0) {
    return unzipPackage(fromUtf8(archive.string()), fromUtf8(dest.string()), "lumlum", "game",
                        total ? total : fs::file_size(archive), &progress);
  }

  // Everything in the scratch folder outside the destination and the archive.
  std::vector<std::string> strayFiles() {
    std::vector<std::string> stray;
    for (const auto& item : fs::recursive_directory_iterator(scratch)) {
      const auto path = item.path();
      if (path == archive || path == dest || path.string().starts_with(dest.string() + "/")) continue;
      stray.push_back(path.string());
    }
    return stray;
  }

  test::TempDir tempDir;
  const fs::path scratch{tempDir.path()};
  fs::path archive = scratch / "package.zip";
  fs::path dest = scratch / "dest";
  test::RecordingTaskCallback progress;
};

TEST(ExtractionPercent, MapsArchiveOffsetsOntoTheLastFivePercent) {
  struct Case {
    std::uint64_t end, total;
    std::int32_t percent;
  } cases[] = {{0, 1000, 95}, {500, 1000, 97}, {999, 1000, 99}, {1000, 1000, 100}, {4000, 1000, 114} /* 114.99999 truncated */,
               {6'000'000'000ULL, 6'000'000'001ULL, 99}};
  for (const auto& c : cases) EXPECT_EQ(extractionPercent(c.end, c.total), c.percent) << c.end << "/" << c.total;
  EXPECT_FALSE(extractionPercent(10, 0).has_value());
}

TEST(SafeEntryPath, RefusesNamesThatLeaveTheDestination) {
  for (const char* bad : {"../evil", "lumlum/../../evil", "..\\evil", "lumlum\\..\\..\\x", "/etc/passwd", "\\x",
                          "C:/evil", "c:evil", ".."})
    EXPECT_FALSE(safeEntryPath(bad).has_value()) << bad;
  EXPECT_EQ(safeEntryPath("lumlum\\sub\\a.txt"), "lumlum/sub/a.txt");
  EXPECT_EQ(safeEntryPath("./lumlum//a..b/"), "lumlum/a..b");
  EXPECT_EQ(safeEntryPath("./"), "");
  EXPECT_FALSE(safeEntryPath(std::string_view("a\0b", 3)).has_value());
}

TEST_F(Extraction, RenamesTheTopFolderAndKeepsContentModesAndTimes) {
  const auto ends = makeArchive(json::array({
      {{"name", "lumlum"}, {"dir", true}},
      {{"name", "lumlum/Editor.exe"}, {"data", "binary"}, {"mode", 0104755}},
      {{"name", "lumlum/Package/readme.txt"}, {"data", std::string(3000, 'r')}, {"deflate", true}},
      {{"name", "lumlum/Package/deep/er/x.bin"}, {"data", "xyz"}, {"date_time", {2019, 5, 6, 7, 8, 10}}},
      {{"name", "lumlum/bin/run"}, {"symlink", "../Editor.exe"}},
  }));
  ASSERT_TRUE(unzip());

  EXPECT_FALSE(fs::exists(dest / "lumlum"));
  EXPECT_EQ(test::readWholeFile(dest / "game/Editor.exe"), "binary");
  EXPECT_EQ(test::readWholeFile(dest / "game/Package/readme.txt"), std::string(3000, 'r'));
  EXPECT_EQ(test::readWholeFile(dest / "game/Package/deep/er/x.bin"), "xyz");
  EXPECT_EQ(fs::read_symlink(dest / "game/bin/run"), "../Editor.exe");

  struct stat info {};
  ASSERT_EQ(stat((dest / "game/Editor.exe").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0111, 0111u) << "execute bits kept";
  EXPECT_EQ(info.st_mode & 06000, 0u) << "set-id bits dropped";
  ASSERT_EQ(stat((dest / "game/Package/deep/er/x.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0111, 0u);
  std::tm expected{};
  expected.tm_year = 2019 - 1900, expected.tm_mon = 4, expected.tm_mday = 6;
  expected.tm_hour = 7, expected.tm_min = 8, expected.tm_sec = 10, expected.tm_isdst = -1;
  EXPECT_EQ(info.st_mtime, std::mktime(&expected)) << "zip times are local times";

  // One report per entry, before it is written, from the end of its data.
  std::vector<std::int32_t> wanted;
  for (auto end : ends) wanted.push_back(*extractionPercent(end, fs::file_size(archive)));
  EXPECT_EQ(progress.progress(), wanted);
  for (auto p : wanted) {
    EXPECT_GE(p, 95);
    EXPECT_LE(p, 99) << "the central directory follows the last entry";
  }
  EXPECT_TRUE(std::is_sorted(wanted.begin(), wanted.end()));
}

TEST_F(Extraction, EmptyArchiveSucceedsWithoutProgress) {
  makeArchive(json::array());
  EXPECT_TRUE(unzip());
  EXPECT_TRUE(progress.progress().empty());
}

TEST_F(Extraction, OtherTopFolderStaysAsItIs) {
  makeArchive(json::array({{{"name", "editor/a.txt"}, {"data", "a"}}}));
  EXPECT_TRUE(unzip());
  EXPECT_EQ(test::readWholeFile(dest / "editor/a.txt"), "a");
  EXPECT_FALSE(fs::exists(dest / "game"));
}

TEST_F(Extraction, RefusedEntriesFailAndNeverWriteOutside) {
  const std::string outside = (scratch / "outside").string();
  const json cases[] = {
      {{"name", "../evil.txt"}, {"data", "x"}},
      {{"name", "lumlum/../../evil.txt"}, {"data", "x"}},
      {{"name", "..\\evil.txt"}, {"data", "x"}},
      {{"name", outside + "/abs.txt"}, {"data", "x"}},
      {{"name", "C:/evil.txt"}, {"data", "x"}},
      {{"name", "lumlum/link"}, {"symlink", "../../../outside"}},
      {{"name", "lumlum/link"}, {"symlink", outside}},
  };
  for (const auto& unsafe : cases) {
    fs::remove_all(dest);
    fs::create_directories(scratch / "outside");
    makeArchive(json::array({{{"name", "lumlum/first.txt"}, {"data", "1"}}, unsafe,
                             {{"name", "lumlum/link/escaped.txt"}, {"data", "x"}}}));
    EXPECT_FALSE(unzip()) << unsafe.dump();
    EXPECT_TRUE(fs::exists(dest / "lumlum/first.txt")) << "entries before the refused one stay";
    EXPECT_FALSE(fs::exists(dest / "game")) << "no rename after a failure";
    fs::remove(scratch / "outside");
    EXPECT_EQ(strayFiles(), std::vector<std::string>{}) << unsafe.dump();
  }
}

TEST_F(Extraction, LinkWrittenThroughIsRefused) {
  // A link inside the destination is fine, but no entry may be written through it.
  fs::create_directories(scratch / "outside");
  makeArchive(json::array({{{"name", "lumlum/sub"}, {"dir", true}},
                           {{"name", "lumlum/up"}, {"symlink", "sub"}},
                           {{"name", "lumlum/up/x.txt"}, {"data", "x"}}}));
  EXPECT_FALSE(unzip());
  EXPECT_FALSE(fs::exists(dest / "lumlum/sub/x.txt"));
}

TEST_F(Extraction, NamesFollowTheUtf8FlagElseTheAnsiCodePage) {
  makeArchive(json::array({{{"name", "lumlum/编辑器.txt"}, {"data", "utf8"}},
                           {{"raw_name", "6c756d6c756d2fd6d0cec42e747874"}, {"data", "gbk"}}}));  // lumlum/中文.txt in GBK
  ASSERT_TRUE(unzip());
  EXPECT_EQ(test::readWholeFile(dest / "game/编辑器.txt"), "utf8");
  // The GBK bytes are not UTF-8: under a UTF-8 code page they become
  // replacement characters, never raw bytes in a file name.
  const std::string replaced = "game/\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.txt";
  EXPECT_EQ(test::readWholeFile(dest / replaced), "gbk");
}

TEST_F(Extraction, NamesWithoutTheFlagUseTheAnsiCodePage) {
  // A Chinese system's code page, built for this test (each test runs in a
  // process of its own, so the code page is picked up on first use).
  const auto locales = scratch / "locales";
  fs::create_directories(locales);
  if (test::runCommand("localedef -i zh_CN -f GBK " + test::shellQuote((locales / "zh_CN.GBK").string())).exitCode != 0)
    GTEST_SKIP() << "localedef cannot build zh_CN.GBK";
  setenv("LOCPATH", locales.c_str(), 1);
  setenv("LC_ALL", "zh_CN.GBK", 1);
  if (platform::wideToFileSystem(L"中") != "\xD6\xD0") GTEST_SKIP() << "code page chosen before this test";
  makeArchive(json::array({{{"raw_name", "6c756d6c756d2fd6d0cec42e747874"}, {"data", "gbk"}}}));
  ASSERT_TRUE(unzip());
  EXPECT_EQ(test::readWholeFile(dest / "game" / platform::wideToFileSystem(L"中文.txt")), "gbk");
}

TEST_F(Extraction, DamagedOrMissingArchiveFails) {
  EXPECT_FALSE(unzip(1));  // missing
  makeArchive(json::array({{{"name", "lumlum/a.txt"}, {"data", std::string(5000, 'a')}, {"deflate", true}}}));
  std::string bytes = test::readWholeFile(archive);
  bytes[44] = static_cast<char>(bytes[44] ^ 0x55);  // inside the compressed data (it starts at 42)
  test::writeWholeFile(archive, bytes);
  EXPECT_FALSE(unzip());
  makeArchive(json::array({{{"name", "lumlum/a.txt"}, {"data", "stored, checked by its CRC"}}}));
  bytes = test::readWholeFile(archive);
  bytes[45] = static_cast<char>(bytes[45] ^ 0x01);
  test::writeWholeFile(archive, bytes);
  EXPECT_FALSE(unzip());
  test::writeWholeFile(archive, "not a zip archive at all");
  EXPECT_FALSE(unzip());
}

TEST_F(Extraction, ExistingFilesAreReplaced) {
  makeArchive(json::array({{{"name", "lumlum/a.txt"}, {"data", "new"}}}));
  fs::create_directories(dest / "lumlum");
  test::writeWholeFile(dest / "lumlum/a.txt", "old content");
  ASSERT_TRUE(unzip());
  EXPECT_EQ(test::readWholeFile(dest / "game/a.txt"), "new");
}

}  // namespace
}  // namespace kx
