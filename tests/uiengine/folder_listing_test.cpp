// What the folder picker is told of a folder.

#include "uiengine/folder_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/strings.h"
#include "platform/desktop.h"

namespace kx::uiengine {
namespace {

namespace fs = std::filesystem;

TEST(FolderListing, ListsNamesInAnyScriptSortedWithTheirKind) {
  const fs::path root = platform::createPrivateTempFolder("kx-listing-");
  fs::create_directory(root / "游戏 盘");
  fs::create_directory(root / "b");
  std::ofstream(root / "说明.txt") << "x";
  const Value listing = listFolder(fromUtf8(root.string()));
  EXPECT_EQ(toUtf8(listing.asObject().at(L"path").asString()), root.string());
  EXPECT_EQ(toUtf8(listing.asObject().at(L"parent").asString()), root.parent_path().string());
  std::string seen;
  for (const Value& entry : listing.asObject().at(L"entries").asArray())
    seen += toUtf8(entry.asObject().at(L"name").asString()) + (entry.asObject().at(L"folder").asBool() ? "/" : "") + "|";
  EXPECT_EQ(seen, "b/|游戏 盘/|说明.txt|");
  EXPECT_EQ(toUtf8(listFolder(fromUtf8((root / "游戏 盘").string())).asObject().at(L"path").asString()), (root / "游戏 盘").string());
  EXPECT_THROW(listFolder(fromUtf8((root / "说明.txt").string())), std::runtime_error);
  fs::remove_all(root);
}

}  // namespace
}  // namespace kx::uiengine
