// The document parsers on their own: what they take, and everything they refuse.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "install_manager/http_dns_answer.h"
#include "install_manager/package_document.h"

namespace kx {
namespace {

using nlohmann::json;

constexpr const char* kMd5 = "0123456789abcdef0123456789abcdef";

json member(const std::string& version, std::uint64_t size = 10) {
  return {{"big_version", version},
          {"game_url", "https://dl.test/v" + version + "/pkg.zip"},
          {"game_url_nos", "https://cdn.test/pkg.zip"},
          {"md5", kMd5},
          {"size", size}};
}

TEST(PackageDocument, FlatDocumentYieldsOneCompleteEntry) {
  const auto document = parsePackageConfig(
      R"({"game_url":"https://dl.test/a/Kestrix_2.0.zip?sig=x/y","md5":"0123456789ABCDEF0123456789abcdef",
          "big_version":"2.0","size":1234})",
      "2.0");
  ASSERT_EQ(document.outcome, DocumentOutcome::Entry);
  const PackageEntry& entry = document.entry;
  EXPECT_EQ(entry.fileName, "Kestrix_2.0.zip");  // the query is not part of the name
  EXPECT_EQ(entry.url, "https://dl.test/a/Kestrix_2.0.zip?sig=x/y");
  EXPECT_EQ(entry.md5, kMd5);  // digests are kept in lower case
  EXPECT_EQ(entry.bigVersion, "2.0");
  EXPECT_EQ(entry.size, 1234u);
  EXPECT_TRUE(entry.isPackage);
  EXPECT_FALSE(entry.isPlatformInstaller);
}

TEST(PackageDocument, VersionedDocumentTakesTheWantedOrTheHighestVersion) {
  struct Case {
    json document;
    std::string wanted;
    DocumentOutcome outcome;
    std::string takenUrl;
  };
  const Case cases[] = {
      // "10.0" sorts between "1.0" and "2.0" as a key but is the highest number.
      {{{"1.0", member("1.0")}, {"2.0", member("2.0")}, {"10.0", member("10.0")}}, "", DocumentOutcome::Entry,
       "https://dl.test/v10.0/pkg.zip"},
      {{{"1.0", member("1.0")}, {"2.0", member("2.0")}, {"10.0", member("10.0")}}, "2.0", DocumentOutcome::Entry,
       "https://dl.test/v2.0/pkg.zip"},
      {{{"1.0", member("1.0")}, {"2.0", member("2.0")}}, "3.0", DocumentOutcome::NoEntry, ""},
      // Equal numbers: the member whose key sorts first wins.
      {{{"b", member("2.0")}, {"a", member("2")}}, "", DocumentOutcome::Entry, "https://dl.test/v2/pkg.zip"},
      {{{"x", member("1.10")}, {"y", member("1.9")}}, "", DocumentOutcome::Entry, "https://dl.test/v1.9/pkg.zip"},
      {json::object(), "", DocumentOutcome::NoEntry, ""},
      // A member that is not a complete record spoils the document, even when another is wanted.
      {{{"1.0", member("1.0")}, {"2.0", json{{"big_version", "2.0"}, {"game_url", "https://dl.test/p.zip"}}}},
       "1.0", DocumentOutcome::Malformed, ""},
      {{{"1.0", member("1.0")}, {"note", "text"}}, "1.0", DocumentOutcome::Malformed, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document.dump() + " wanted " + c.wanted);
    const auto document = parsePackageConfig(c.document.dump(), c.wanted);
    EXPECT_EQ(document.outcome, c.outcome);
    EXPECT_EQ(document.entry.url, c.takenUrl);
  }
}

TEST(PackageDocument, RefusesEveryBrokenDocumentWithoutAPartialEntry) {
  const auto flat = [](json changes) {
    json document = {{"game_url", "https://dl.test/pkg.zip"}, {"md5", kMd5}, {"big_version", "2.0"}, {"size", 5}};
    for (auto& [key, value] : changes.items()) {
      if (value.is_null())
        document.erase(key);
      else
        document[key] = value;
    }
    return document.dump();
  };
  const std::string cases[] = {
      "",
      "{",
      "not json at all",
      std::string("\x00\xff\xfe{\"game_url\"", 12),
      "[1,2,3]",
      "\"https://dl.test/pkg.zip\"",
      flat({{"md5", nullptr}}),
      flat({{"big_version", nullptr}}),
      flat({{"size", nullptr}}),
      flat({{"game_url", ""}}),
      flat({{"game_url", 5}}),
      flat({{"md5", "0123"}}),
      flat({{"md5", "0123456789abcdef0123456789abcdeg"}}),
      flat({{"size", -1}}),
      flat({{"size", 1.5}}),
      flat({{"size", "5"}}),
      flat({{"size", true}}),
      R"({"game_url":"https://dl.test/pkg.zip","md5":"0123456789abcdef0123456789abcdef","big_version":"2.0",
          "size":123456789012345678901234567890})",
      flat({{"size", std::uint64_t(1) << 61}}),
      flat({{"big_version", ""}}),
      flat({{"big_version", "../../outside"}}),
      flat({{"big_version", "2.0\\..\\.."}}),
      flat({{"game_url", "file:///etc/passwd"}}),
      flat({{"game_url", "https://dl.test/"}}),
      flat({{"game_url", "https://dl.test"}}),
      flat({{"game_url", "https://dl.test/a/.."}}),
      flat({{"game_url", "https://dl.test/a/b:c.zip"}}),
      flat({{"game_url", "https://dl.test/a/b\\c.zip"}}),
      std::string(R"({"game_url":"https://dl.test/a\u0000b.zip","md5":"0123456789abcdef0123456789abcdef","big_version":"2.0","size":5})"),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text);
    const auto document = parsePackageConfig(text, "");
    EXPECT_NE(document.outcome, DocumentOutcome::Entry);
    EXPECT_TRUE(document.entry.url.empty());
    EXPECT_TRUE(document.entry.fileName.empty());
  }
}

TEST(PackageDocument, DeepNestingAndHugeDocumentsAreRefusedWithoutCrashing) {
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  EXPECT_EQ(parsePackageConfig(deep, "").outcome, DocumentOutcome::Malformed);
  std::string huge = R"({"pad":")" + std::string(50 * 1024 * 1024, 'x') + R"("})";
  EXPECT_EQ(parsePackageConfig(huge, "").outcome, DocumentOutcome::Malformed);
}

TEST(PlatformDescriptor, ReadsAllFourKeysOrNothing) {
  const auto good = parsePlatformDescriptor(
      R"({"version":"3.1.4","platform":"https://c.test/pf/LumlumSetup.exe","md5":"0123456789abcdef0123456789abcdef","size":77})");
  ASSERT_EQ(good.outcome, DocumentOutcome::Entry);
  EXPECT_EQ(good.version, "3.1.4");
  EXPECT_EQ(good.entry.fileName, "LumlumSetup.exe");
  EXPECT_EQ(good.entry.size, 77u);
  EXPECT_TRUE(good.entry.isPlatformInstaller);
  EXPECT_FALSE(good.entry.isPackage);
  EXPECT_TRUE(good.entry.selected);

  const auto noUrl = parsePlatformDescriptor(R"({"version":"3.1.4","platform":"","md5":"","size":0})");
  EXPECT_EQ(noUrl.outcome, DocumentOutcome::NoEntry);
  EXPECT_EQ(noUrl.version, "3.1.4");

  for (const char* text : {R"({"version":"3.1.4","platform":"https://c.test/a.exe","size":77})",
                           R"({"version":3,"platform":"https://c.test/a.exe","md5":"0123456789abcdef0123456789abcdef","size":77})",
                           R"({"version":"3","platform":"https://c.test/a.exe","md5":"0123456789abcdef0123456789abcdef","size":-77})",
                           "<html><body><h1>404</h1></body></html>"}) {
    SCOPED_TRACE(text);
    const auto bad = parsePlatformDescriptor(text);
    EXPECT_EQ(bad.outcome, DocumentOutcome::Malformed);
    EXPECT_TRUE(bad.version.empty());
    EXPECT_TRUE(bad.entry.url.empty());
  }
}

TEST(PackageDocument, LeadingDecimalReadsTheVersionNumber) {
  const std::pair<const char*, double> cases[] = {
      {"10.0", 10.0}, {"2.0", 2.0}, {"1.10", 1.1}, {"2.0-beta", 2.0}, {"v2", 0.0}, {"", 0.0},
      {".5", 0.5},    {"3.", 3.0},  {".", 0.0},    {"-1", 0.0},       {"1e9", 1.0}};
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(leadingDecimal(text), value) << text;
  EXPECT_GT(leadingDecimal(std::string(400, '9')), 1e300);
  EXPECT_EQ(leadingDecimal("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(HttpDnsAnswer, AcceptsOnlyAnAnswerForTheHostAskedFor) {
  struct Case {
    const char* text;
    bool wellFormed;
    std::vector<std::string> addresses;
  };
  const Case cases[] = {
      {R"({"domain":"pkg.kx.test","addrs":["127.0.0.1","::1"],"ttl":60})", true, {"127.0.0.1", "::1"}},
      {R"({"domain":"PKG.kx.test","addrs":["127.0.0.1"],"ttl":60})", true, {}},
      {R"({"domain":"pkg.kx.test","addrs":[],"ttl":60})", true, {}},
      // Anything that is not an IP literal would end up in the connection override.
      {R"({"domain":"pkg.kx.test","addrs":["1.2.3.4:80:evil","evil.test","256.1.1.1","1.2.3"],"ttl":60})", true, {}},
      {R"({"domain":"pkg.kx.test","addrs":["127.0.0.1"]})", false, {}},
      {R"({"domain":"pkg.kx.test","addrs":"127.0.0.1","ttl":60})", false, {}},
      {R"({"domain":"pkg.kx.test","addrs":[1],"ttl":60})", false, {}},
      {R"({"addrs":["127.0.0.1"],"ttl":60})", false, {}},
      {"", false, {}},
      {"<html>500</html>", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto answer = parseHttpDnsAnswer(c.text, "pkg.kx.test");
    ASSERT_EQ(answer.has_value(), c.wellFormed);
    if (answer) {
      EXPECT_EQ(*answer, c.addresses);
    }
  }
}

TEST(HttpDnsAnswer, ServerListKeepsOnlyHostsWithPorts) {
  const auto list = parseHttpDnsServerList(
      R"({"mainland":["10.0.0.1","127.0.0.1:8443","dns.kx.test","a/b","x?y","u@h"],"oversea":["10.9.9.9"]})");
  ASSERT_TRUE(list);
  EXPECT_EQ(*list, (std::vector<std::string>{"10.0.0.1", "127.0.0.1:8443", "dns.kx.test"}));
  EXPECT_FALSE(parseHttpDnsServerList(R"({"mainland":"10.0.0.1"})"));
  EXPECT_FALSE(parseHttpDnsServerList("[]"));
  const auto empty = parseHttpDnsServerList(R"({"mainland":[]})");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace kx
