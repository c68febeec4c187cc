#include "setup/extraction.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "common/strings.h"
#include "platform/codepage.h"
#include "tests/setup/recording_task_callback.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"
#include "tests/support/full_disk.h"
#include "tests/support/small_volume.h"

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

  StepResult unzip(std::uint64_t total = 0) {
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

TEST_F(Extraction, NamesFollowAMatchingUnicodePathElseTheUtf8FlagElseTheAnsiCodePage) {
  makeArchive(json::array({{{"name", "lumlum/编辑器.txt"}, {"data", "utf8"}},
                           {{"raw_name", "6c756d6c756d2fd6d0cec42e747874"}, {"data", "gbk"}},  // lumlum/中文.txt in GBK
                           // "lumlum/File 2 - ö.txt" in code page 437, as Windows tools store it
                           {{"raw_name", "6c756d6c756d2f46696c652032202d20942e747874"},
                            {"unicode_path", "lumlum/File 2 - ö.txt"},
                            {"data", "unicode path"}},
                           // a Unicode Path written for another name (an edited archive) is not believed
                           {{"name", "lumlum/stored.txt"},
                            {"unicode_path", "lumlum/edited.txt"},
                            {"unicode_crc", false},
                            {"data", "stale field"}}}));
  const auto extracted = unzip();
  ASSERT_TRUE(extracted) << extracted.reason;
  EXPECT_EQ(test::readWholeFile(dest / "game/编辑器.txt"), "utf8");
  EXPECT_EQ(test::readWholeFile(dest / "game/File 2 - ö.txt"), "unicode path");
  EXPECT_EQ(test::readWholeFile(dest / "game/stored.txt"), "stale field");
  EXPECT_FALSE(fs::exists(dest / "game/edited.txt"));
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

TEST_F(Extraction, FailedWriteFailsNamingTheCause) {
  // libarchive only warns when write() fails, and then extends the file to
  // its full size with zeros: the extraction must not go on as if it had worked.
  makeArchive(json::array({{{"name", "lumlum/small.txt"}, {"data", "fits"}},
                           {{"name", "lumlum/large.bin"}, {"data", "x"}, {"repeat", 256 << 10}, {"deflate", true}}}));
  StepResult extracted;
  {
    test::FullDisk full(dest, 64 << 10);
    extracted = unzip();
  }
  ASSERT_FALSE(extracted);
  EXPECT_NE(extracted.reason.find("lumlum/large.bin"), std::string::npos) << extracted.reason;
  EXPECT_NE(extracted.reason.find(std::strerror(ENOSPC)), std::string::npos) << extracted.reason;
  EXPECT_FALSE(fs::exists(dest / "game")) << "no rename after a failure";
}

TEST_F(Extraction, EveryDirectoryRecordCountsWhateverTheEndRecordSays) {
  // A writer without ZIP64 lets the 16-bit count wrap (65,538 entries read as 2);
  // the directory's own records are what the archive holds.
  makeArchive({{"entries", json::array({{{"name", "lumlum/a.txt"}, {"data", "a"}},
                                        {{"name", "lumlum/b.txt"}, {"data", "b"}},
                                        {{"name", "lumlum/c.txt"}, {"data", "c"}}})},
               {"count", 1}});
  const auto extracted = unzip();
  ASSERT_TRUE(extracted) << extracted.reason;
  for (const char* name : {"a", "b", "c"})
    EXPECT_EQ(test::readWholeFile(dest / "game" / (std::string(name) + ".txt")), name);
}

TEST_F(Extraction, DirectoryThatDisagreesWithTheArchiveFails) {
  // The end record's directory size leaves out the last record: libarchive
  // still reads that entry, and no name is known for it.
  makeArchive(json::array({{{"name", "lumlum/a.txt"}, {"data", "a"}}, {{"name", "lumlum/b.txt"}, {"data", "b"}}}));
  std::string bytes = test::readWholeFile(archive);
  const std::size_t end = bytes.rfind("PK\x05\x06");
  const std::size_t lastRecord = 46 + std::string("lumlum/b.txt").size();
  std::uint32_t size = 0;
  std::memcpy(&size, bytes.data() + end + 12, 4);
  size -= static_cast<std::uint32_t>(lastRecord);
  std::memcpy(bytes.data() + end + 12, &size, 4);
  test::writeWholeFile(archive, bytes);
  const auto extracted = unzip();
  EXPECT_FALSE(extracted);
  EXPECT_FALSE(fs::exists(dest / "game"));
}

// Every file, folder and link below `root`, with its content or target.
std::map<std::string, std::string> treeOf(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(item.path(), root).string();
    if (item.is_symlink()) {
      tree[name] = "link to " + fs::read_symlink(item.path()).string();
    } else if (item.is_directory()) {
      tree[name] = "folder";
    } else {
      tree[name] = "file " + test::readWholeFile(item.path());
    }
  }
  return tree;
}

TEST_F(Extraction, ArchivesFromOtherToolsExtractAsBsdtarExtractsThem) {
  const json cases[] = {
      // a library link stored before its target, its name deflated as some tools do
      {{"entries", json::array({{{"name", "lumlum/lib/libfoo.so"}, {"symlink", "libfoo.so.0.0.0"}, {"deflate", true}},
                                {{"name", "lumlum/lib/libfoo.so.0.0.0"}, {"data", "library"}, {"deflate", true}},
                                {{"name", "lumlum/bin/foo"}, {"symlink", "../lib/libfoo.so"}}})}},
      // a name in code page 437 with its Unicode Path field
      {{"entries", json::array({{{"raw_name", "6c756d6c756d2f46696c652032202d20942e747874"},
                                 {"unicode_path", "lumlum/File 2 - ö.txt"},
                                 {"data", "umlaut"}}})}},
      // bytes in front of the archive, as a self-extractor's program
      {{"entries", json::array({{{"name", "lumlum/a.txt"}, {"data", "a"}}, {{"name", "lumlum/b.txt"}, {"data", "b"}}})},
       {"prefix", 1000}},
      // bytes between the entries
      {{"entries", json::array({{{"name", "lumlum/a.txt"}, {"data", "a"}, {"deflate", true}},
                                {{"name", "lumlum/b.txt"}, {"data", "b"}}})},
       {"gap", 100}},
  };
  for (const auto& layout : cases) {
    fs::remove_all(dest);
    fs::remove_all(scratch / "bsdtar");
    fs::create_directories(scratch / "bsdtar");
    makeArchive(layout);
    const auto reference = test::runCommand("bsdtar -xf " + test::shellQuote(archive.string()) + " -C " +
                                            test::shellQuote((scratch / "bsdtar").string()));
    ASSERT_EQ(reference.exitCode, 0) << layout.dump();
    const auto extracted = unzip();
    ASSERT_TRUE(extracted) << layout.dump() << ": " << extracted.reason;
    EXPECT_EQ(treeOf(dest / "game"), treeOf(scratch / "bsdtar/lumlum")) << layout.dump();
  }
}

// A real file system that fills up; only root can mount one.
class FullVolume : public Extraction {
 protected:
  void SetUp() override {
    if (!volume.mounted()) GTEST_SKIP() << volume.why();
    dest = scratch / "volume" / "dest";
  }
  test::SmallVolume volume{scratch / "volume", 1 << 20};
};

TEST_F(FullVolume, PackageLargerThanTheFreeSpaceIsRefusedBeforeWriting) {
  // Two 1 MiB entries do not fit into a 1 MiB volume.
  makeArchive(json::array({{{"name", "lumlum/a.bin"}, {"data", "a"}, {"repeat", 1 << 20}, {"deflate", true}},
                           {{"name", "lumlum/b.bin"}, {"data", "b"}, {"repeat", 1 << 20}, {"deflate", true}}}));
  const auto extracted = unzip();
  ASSERT_FALSE(extracted);
  EXPECT_NE(extracted.reason.find("2097152 bytes"), std::string::npos) << extracted.reason;
  const std::string freeBytes = std::to_string(fs::space(scratch / "volume").available) + " bytes";
  EXPECT_NE(extracted.reason.find(freeBytes), std::string::npos) << extracted.reason;
  EXPECT_FALSE(fs::exists(dest)) << "nothing written";
}

TEST_F(FullVolume, VolumeThatFillsUpDuringExtractionFails) {
  // 600 small files pass the space check (600 KiB of 1 MiB) but each takes a
  // whole page of the volume, so writes start failing halfway.
  json entries = json::array();
  for (int i = 0; i < 600; ++i)
    entries.push_back({{"name", "lumlum/f" + std::to_string(i)}, {"data", "x"}, {"repeat", 1000}, {"deflate", true}});
  makeArchive(entries);
  const auto extracted = unzip();
  ASSERT_FALSE(extracted);
  EXPECT_NE(extracted.reason.find(std::strerror(ENOSPC)), std::string::npos) << extracted.reason;
  EXPECT_FALSE(fs::exists(dest / "game"));
}

}  // namespace
}  // namespace kx
