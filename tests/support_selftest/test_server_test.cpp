// The scripted test server is what every network test stands on: check the
// behaviours those tests rely on, through a client that is not ours (libcurl).
#include <curl/curl.h>
#include <gtest/gtest.h>

#include "tests/support/test_server.h"

namespace kx::test {
namespace {

struct Reply {
  CURLcode code;
  long status;
  std::string body;
  std::string headers;
};

std::size_t append(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

Reply fetch(const TestServer& server, const std::string& path, const std::string& range = "") {
  Reply reply{};
  CURL* curl = curl_easy_init();
  const std::string url = server.url(path);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, server.caFile().c_str());
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  if (!range.empty()) curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.headers);
  reply.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_easy_cleanup(curl);
  return reply;
}

TEST(TestServer, ServesRangesDropsAndRecordsOverVerifiedTls) {
  TestServer server;
  server.routes({{"/doc", {{"body", "0123456789"}}},
                 {"/cut", {{"body", std::string(4000, 'x')}, {"drop_after", 1000}}},
                 {"/flaky", {{"responses", {{{"status", 500}}, {{"body", "fine"}}}}}}});

  const Reply whole = fetch(server, "/doc");
  EXPECT_EQ(whole.code, CURLE_OK);
  EXPECT_EQ(whole.body, "0123456789");

  const Reply part = fetch(server, "/doc", "2-4");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.body, "234");
  EXPECT_NE(part.headers.find("Content-Range: bytes 2-4/10"), std::string::npos);

  const Reply cut = fetch(server, "/cut");
  EXPECT_NE(cut.code, CURLE_OK);
  // The connection is reset after 1000 bytes; a reset may discard some of them unread.
  EXPECT_LE(cut.body.size(), 1000u);

  const Reply first = fetch(server, "/flaky"), second = fetch(server, "/flaky");
  EXPECT_EQ(first.status, 500);
  EXPECT_NE(first.body.find("<html>"), std::string::npos);
  EXPECT_EQ(second.body, "fine");

  EXPECT_EQ(fetch(server, "/missing").status, 404);
  const auto recorded = server.requestsFor("/doc");
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[1]["range"], "bytes=2-4");
  EXPECT_EQ(server.requests().size(), 6u);
}

TEST(TestServer, AnswersDnsOverHttpOnlyWithItsHeaders) {
  TestServer server;
  server.route("/v2/", {{"httpdns", {{"answers", {{"pkg.kx.test", {"127.0.0.1"}}}}}},
                        {"require_headers", {{"AUTH-TOKEN", "Zr7pKm4x"}}}});
  EXPECT_EQ(fetch(server, "/v2/?domain=pkg.kx.test").status, 403);
  EXPECT_EQ(server.requestsFor("/v2/").at(0)["query"], "domain=pkg.kx.test");
}

}  // namespace
}  // namespace kx::test
