// The installation folder rules: a bare root gets the flavour's product
// folder, and the validation that may create the folder.
#include "ui/install_path.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "common/strings.h"
#include "flavour/flavour.h"
#include "tests/support/test_server.h"

namespace kx::ui {
namespace {

namespace fs = std::filesystem;

const std::wstring& productFolder() {
  static const std::map<std::string, std::wstring> folders = {
      {"kestrix", L"Lumlum Preview"}, {"prod", L"Emberhold"}, {"kestrixuat", L"Emberhold Preview"}, {"qv", L"zzarenahq"}};
  return folders.at(productFlavour);
}

TEST(InstallPath, ABareRootGetsTheProductFolder) {
  const std::wstring product = productFolder();
  struct Case {
    std::wstring requested, folder;
  } cases[] = {
      {L"D:/", L"D:\\" + product},
      {L"D:\\", L"D:\\" + product},
      {L"D:", L"D:\\" + product},
      {L"/", L"/" + product},
      {L"//", L"//" + product},
      {L"D:\\Games\\x", L"D:\\Games\\x"},
      {L"D:/Games/x", L"D:\\Games\\x"},
      {L"/home/me/kestrix", L"/home/me/kestrix"},
      {L"/home/me/", L"/home/me/"},
      {L"kestrix", L"kestrix"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(installFolderFor(c.requested), c.folder) << toUtf8(c.requested);
}

TEST(InstallPath, ValidationRefusesBadNamesAndCreatesTheRest) {
  test::TempDir scratch;
  const std::wstring base = fromUtf8(scratch.path());
  for (const wchar_t* bad : {L"/a?b", L"/a<b", L"/a>b", L"/a*b", L"/a\"b"})
    EXPECT_FALSE(validateInstallPath(base + bad)) << toUtf8(bad);
  EXPECT_FALSE(validateInstallPath(L"C:\\a\\b:c")) << "a colon after the drive's";
  EXPECT_TRUE(fs::is_empty(scratch.path()));

  EXPECT_TRUE(validateInstallPath(base + L"/new/nested//")) << "trailing separators are disregarded";
  EXPECT_TRUE(fs::is_directory(scratch.file("new/nested")));
  EXPECT_TRUE(validateInstallPath(base + L"/new")) << "an existing folder";
}

TEST(InstallPath, ErrorsAreThrownNamedAfterTheOperation) {
  test::TempDir scratch;
  test::writeRandomFile(scratch.file("file"), 1);
  const auto messageOf = [](const std::wstring& path) -> std::string {
    try {
      validateInstallPath(path);
    } catch (const fs::filesystem_error& error) {
      return error.what();
    }
    return "nothing thrown";
  };
  EXPECT_THAT(messageOf(fromUtf8(scratch.file("file/below"))), ::testing::HasSubstr("create_directories"));
  // A drive names a volume this platform does not have.
  EXPECT_THAT(messageOf(L"D:\\Games\\kestrix"), ::testing::HasSubstr("create_directories"));
}

}  // namespace
}  // namespace kx::ui
