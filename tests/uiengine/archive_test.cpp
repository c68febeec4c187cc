#include "uiengine/archive.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kx::uiengine {
namespace {

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<ArchiveItem> sampleItems() {
  std::vector<std::uint8_t> binary(300);
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<std::uint8_t>(i * 7);
  return {{"index.htm", bytes("<html></html>")},
          {"image/close/normal.png", binary},
          {"empty.css", {}},
          {"页面/说明.txt", bytes("中文")}};
}

TEST(Archive, YieldsEveryItemByteExact) {
  const auto items = sampleItems();
  const auto block = packArchive(items);
  const auto archive = Archive::open(block);
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->size(), items.size());
  for (const auto& item : items) {
    const auto found = archive->item(item.path);
    ASSERT_TRUE(found) << item.path;
    EXPECT_EQ(std::vector<std::uint8_t>(found->begin(), found->end()), item.data) << item.path;
  }
  EXPECT_FALSE(archive->item("missing.htm"));
  EXPECT_FALSE(archive->item("/index.htm"));
  EXPECT_FALSE(archive->item("INDEX.HTM"));
}

TEST(Archive, RefusesMalformedBlocks) {
  const auto good = packArchive(sampleItems());
  auto badMagic = good;
  badMagic[0] = 'X';
  auto badVersion = good;
  badVersion[4] = 2;
  auto hugeCount = good;
  hugeCount[11] = 0x7f;
  auto offsetOutside = good;
  offsetOutside[16] = 0xff, offsetOutside[17] = 0xff, offsetOutside[18] = 0xff;
  std::vector<std::uint8_t> truncated(good.begin(), good.begin() + 20);
  std::vector<std::uint8_t> dataCut(good.begin(), good.end() - 1);
  for (const auto* block : {&badMagic, &badVersion, &hugeCount, &offsetOutside, &truncated, &dataCut})
    EXPECT_FALSE(Archive::open(*block));
  EXPECT_FALSE(Archive::open({}));
}

TEST(Archive, OpensAnEmptyArchive) {
  const auto block = packArchive({});
  const auto archive = Archive::open(block);
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->size(), 0u);
}

TEST(Archive, PackerRefusesBadPaths) {
  EXPECT_THROW(packArchive({{"", {}}}), std::invalid_argument);
  EXPECT_THROW(packArchive({{"/abs.htm", {}}}), std::invalid_argument);
  EXPECT_THROW(packArchive({{"a.htm", {}}, {"a.htm", {}}}), std::invalid_argument);
}

}  // namespace
}  // namespace kx::uiengine
