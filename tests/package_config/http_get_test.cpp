// httpGet and its DNS-over-HTTP fallback against a scripted loopback server.
// Built once per flavour: the telemetry events appear only in flavour qv.
#include <gtest/gtest.h>

#include <thread>

#include "flavour/flavour.h"
#include "tests/package_config/fixture.h"

namespace kx::test {
namespace {

using nlohmann::json;

// What the flavour sends: the events in qv, nothing elsewhere.
std::vector<std::wstring> inQv(std::vector<std::wstring> events) { return isQv ? events : std::vector<std::wstring>{}; }

const json kDropped = {{"body", "never arrives whole"}, {"drop_after", 0}};

class HttpGet : public ServerFixture {
 protected:
  json dnsAnswer(const std::string& host) {
    return {{"httpdns", {{"answers", {{host, {"127.0.0.1"}}}}}},
            {"require_headers", {{"AUTH-TOKEN", "Zr7pKm4x"}, {"AUTH-PROJECT", "up5"}}}};
  }
};

TEST_F(HttpGet, ErrorPageIsReturnedAsTheBodyWithoutFallback) {
  for (const int status : {404, 500}) {
    SCOPED_TRACE(status);
    server.reset();
    server.route("/doc", {{"status", status}});
    const std::string body = manager.httpGet(server.url("/doc"), {}, false);
    EXPECT_NE(body.find("<html>"), std::string::npos);
    EXPECT_EQ(requestedPaths(), std::vector<std::string>{"/doc"});
  }
  EXPECT_TRUE(trackedEvents().empty());
}

TEST_F(HttpGet, SendsTheGivenHeaders) {
  server.route("/doc", {{"body", "ok"}, {"require_headers", {{"X-One", "1"}, {"X-Two", "two words"}}}});
  EXPECT_EQ(manager.httpGet(server.url("/doc"), {{"X-One", "1"}, {"X-Two", "two words"}}, true), "ok");
}

TEST_F(HttpGet, RetryConnectsToTheResolvedAddressButSpeaksToTheHostName) {
  const std::string host = unresolvableHost();
  const std::string authority = host + ":" + std::to_string(server.port());
  server.routes({{"/doc", {{"body", "payload"}}}, {"/v2/", dnsAnswer(host)}});

  // The host also appears in the query; it must reach the server unchanged.
  EXPECT_EQ(manager.httpGet("https://" + authority + "/doc?mirror=" + host, {}, false), "payload");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["path"], "/v2/");
  EXPECT_EQ(requests[0]["query"], "domain=" + host);
  EXPECT_EQ(requests[1]["path"], "/doc");
  EXPECT_EQ(requests[1]["query"], "mirror=" + host);
  EXPECT_EQ(requests[1]["sni"], host);
  EXPECT_EQ(requests[1]["headers"]["host"], authority);
  EXPECT_EQ(trackedEvents(), inQv({L"use_http_dns", L"retry_download_info_http_dns"}));
}

TEST_F(HttpGet, FailingFetchReusesTheCachedAddressesWithoutAnotherQuery) {
  server.routes({{"/doc", kDropped}, {"/v2/", dnsAnswer("127.0.0.1")}});
  for (int call = 0; call < 2; ++call) EXPECT_EQ(manager.httpGet(server.url("/doc"), {}, false), "");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/doc", "/v2/", "/doc", "/doc", "/doc"}));
  EXPECT_EQ(trackedEvents(), inQv({L"use_http_dns", L"retry_download_info_http_dns", L"use_http_dns",
                                   L"retry_download_info_http_dns"}));
}

TEST_F(HttpGet, AnswerForADomainDifferingInCaseIsRefusedAndNotCached) {
  const std::string host = unresolvableHost();
  std::string upper = host;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  server.route("/v2/", {{"body", json{{"domain", upper}, {"addrs", {"127.0.0.1"}}, {"ttl", 60}}.dump()}});
  const std::string url = "https://" + host + ":" + std::to_string(server.port()) + "/doc";
  for (int call = 0; call < 2; ++call) EXPECT_EQ(manager.httpGet(url, {}, false), "");
  // Well-formed but useless answers do not send the manager to the server list.
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/v2/", "/v2/"}));
}

TEST_F(HttpGet, NetworkDownMakesExactlyTheListedRequests) {
  server.routes({{"/doc", kDropped}, {"/v2/", kDropped}, {"/hdserver", kDropped}});
  EXPECT_EQ(manager.httpGet(server.url("/doc"), {}, false), "");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/doc", "/v2/", "/hdserver"}));
  EXPECT_EQ(trackedEvents(), inQv({L"use_http_dns", L"patch_http_dns_hd_server"}));

  // Later: its own request and one query, never the server list again.
  EXPECT_EQ(manager.httpGet(server.url("/doc"), {}, false), "");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/doc", "/v2/", "/hdserver", "/doc", "/v2/"}));
  EXPECT_EQ(trackedEvents(), inQv({L"use_http_dns", L"patch_http_dns_hd_server", L"use_http_dns"}));
}

TEST_F(HttpGet, ServerListMovesTheServiceForTheRestOfTheRun) {
  TestServer moved;
  moved.route("/v2/", dnsAnswer("127.0.0.1"));
  server.routes({{"/doc", {{"responses", {kDropped, {{"body", "payload"}}}}}},
                 {"/other", kDropped},
                 {"/v2/", {{"body", "{\"domain\": 12"}}},
                 {"/hdserver", {{"body", json{{"mainland", {moved.hostAndPort()}}, {"oversea", json::array()}}.dump()}}}});

  EXPECT_EQ(manager.httpGet(server.url("/doc"), {}, false), "payload");
  EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/doc", "/v2/", "/hdserver", "/doc"}));
  EXPECT_EQ(requestedPaths(moved), std::vector<std::string>{"/v2/"});
  EXPECT_EQ(trackedEvents(), inQv({L"use_http_dns", L"patch_http_dns_hd_server", L"use_http_dns",
                                   L"retry_download_info_http_dns"}));

  manager.httpGet(server.url("/other"), {}, false);
  EXPECT_EQ(requestedPaths(moved), (std::vector<std::string>{"/v2/", "/v2/"}));
}

TEST_F(HttpGet, ConcurrentFailuresFetchTheServerListOnce) {
  server.routes({{"/doc", kDropped}, {"/v2/", {{"body", "not json"}}}, {"/hdserver", kDropped}});
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { EXPECT_EQ(manager.httpGet(server.url("/doc"), {}, false), ""); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(server.requestsFor("/hdserver").size(), 1u);
  EXPECT_EQ(server.requestsFor("/v2/").size(), 4u);
}

TEST_F(HttpGet, MalformedServerListsEndTheFallback) {
  for (const char* list : {"", "{]", R"({"mainland":[]})", R"({"mainland":["a/b?"]})", R"({"oversea":["1.1.1.1"]})"}) {
    SCOPED_TRACE(list);
    InstallMan fresh;
    server.reset();
    server.routes({{"/doc", kDropped}, {"/v2/", {{"body", "<html>busy</html>"}}}, {"/hdserver", {{"body", list}}}});
    EXPECT_EQ(fresh.httpGet(server.url("/doc"), {}, false), "");
    EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/doc", "/v2/", "/hdserver"}));
  }
}

TEST_F(HttpGet, CertificatesAreCheckedOnEveryRequestIncludingTheRetry) {
  server.routes({{"/doc", {{"body", "payload"}}}, {"/v2/", dnsAnswer("kx.localhost")}});
  // libcurl resolves *.localhost to the loopback itself; the certificate does not name kx.localhost.
  EXPECT_EQ(manager.httpGet("https://kx.localhost:" + std::to_string(server.port()) + "/doc", {}, false), "");
  EXPECT_EQ(requestedPaths(), std::vector<std::string>{"/v2/"});

  // A server signed by a CA the installer does not trust gets no request at all.
  InstallMan fresh;
  setExtraCaFile("");
  server.reset();
  server.route("/doc", {{"body", "payload"}});
  EXPECT_EQ(fresh.httpGet(server.url("/doc"), {}, false), "");
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(HttpGet, OversizedBodiesAreRefused) {
  TempDir folder;
  const std::pair<std::uint64_t, bool> cases[] = {{1 << 20, true}, {50ull << 20, false}};
  for (const auto& [size, kept] : cases) {
    SCOPED_TRACE(size);
    writeRandomFile(folder.file("body"), size);
    server.route("/doc", {{"file", folder.file("body")}});
    EXPECT_EQ(manager.httpGet(server.url("/doc"), {}, true).size(), kept ? size : 0);
  }
}

}  // namespace
}  // namespace kx::test
