#include "download/verification.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>

#include "tests/support/tools.h"
#include "tests/support/test_server.h"

namespace kx {
namespace {

using namespace kx::test;

TEST(VerifyFileMd5, MatchesRfc1321VectorsInEitherCase) {
  TempDir dir;
  struct Case {
    std::string content, digest;
  };
  for (const Case& c : {Case{"", "d41d8cd98f00b204e9800998ecf8427e"}, Case{"abc", "900150983cd24fb0d6963f7d28e17f72"},
                        Case{"message digest", "f96b697d7cb7938d525a2f31aaf161d0"}}) {
    const std::string path = dir.file("f");
    writeWholeFile(path, c.content);
    EXPECT_TRUE(VerifyFileMd5(wide(path), c.digest)) << c.content;
    std::string upper = c.digest;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(VerifyFileMd5(wide(path), upper)) << c.content;
    EXPECT_FALSE(VerifyFileMd5(wide(path), "")) << c.content;
    EXPECT_FALSE(VerifyFileMd5(wide(path), "00000000000000000000000000000000")) << c.content;
  }
  EXPECT_FALSE(VerifyFileMd5(wide(dir.file("missing")), "d41d8cd98f00b204e9800998ecf8427e"));
}

// Sizes around whole read blocks (the last read then returns nothing) are read completely.
TEST(VerifyFileMd5, ReadsFilesOfWholeBlocksCompletely) {
  TempDir dir;
  for (const std::uint64_t size : {4096ull, 2ull << 20, (2ull << 20) + 1, (1ull << 20) - 1}) {
    const std::string path = dir.file("f");
    writeRandomFile(path, size, static_cast<unsigned>(size));
    const std::string content = readWholeFile(path);
    unsigned char digest[16];
    unsigned int length = 0;
    EVP_Digest(content.data(), content.size(), digest, &length, EVP_md5(), nullptr);
    char text[33];
    for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    EXPECT_EQ(FileMd5(wide(path)), std::string(text)) << size;
  }
}

TEST(RemoveDownloadedFile, RemovesPackageAndRecordAndToleratesMissingOnes) {
  TempDir dir;
  const std::string package = dir.file("pkg.zip");
  writeWholeFile(package, "data");
  RemoveDownloadedFile(wide(package));  // no record file ever existed
  EXPECT_FALSE(std::filesystem::exists(package));

  writeWholeFile(package, "data");
  writeWholeFile(package + ".cfg", "{}");
  writeWholeFile(package + ".cfg.tmp", "{");
  writeWholeFile(package + ".cfg.tmp-Ab12Cd", "{\"size\"");  // a save killed halfway
  RemoveDownloadedFile(wide(package));
  EXPECT_FALSE(std::filesystem::exists(package));
  EXPECT_FALSE(std::filesystem::exists(package + ".cfg"));
  EXPECT_FALSE(std::filesystem::exists(package + ".cfg.tmp"));
  EXPECT_FALSE(std::filesystem::exists(package + ".cfg.tmp-Ab12Cd"));

  std::filesystem::create_directories(package + "/inside");  // a folder cannot be removed as a file
  EXPECT_THROW(RemoveDownloadedFile(wide(package)), std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace kx
