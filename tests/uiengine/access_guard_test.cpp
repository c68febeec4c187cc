#include "uiengine/access_guard.h"

#include <gtest/gtest.h>

namespace kx::uiengine {
namespace {

using Verdict = AccessGuard::Verdict;

std::string cookieValue(const std::string& setCookie) { return setCookie.substr(0, setCookie.find(';')); }

class AccessGuardTest : public testing::Test {
 protected:
  AccessGuard guard{41234};
  std::string cookie = cookieValue(guard.sessionCookie());
  RequestFacts ownPage(std::string_view target = "/index.htm") {
    return {"GET", target, "127.0.0.1:41234", "", "same-origin", cookie, false};
  }
};

TEST_F(AccessGuardTest, SecretIsLongAndFresh) {
  const std::string secret = cookie.substr(cookie.find('=') + 1);
  EXPECT_GE(secret.size() * 4, 128u);
  EXPECT_NE(cookieValue(AccessGuard(41234).sessionCookie()), cookie);
  EXPECT_NE(guard.sessionCookie().find("HttpOnly"), std::string::npos);
  EXPECT_NE(guard.sessionCookie().find("SameSite=Strict"), std::string::npos);
}

TEST_F(AccessGuardTest, AdmitsOnlyTheWindowsOwnRequests) {
  const std::string otherSecret = "kx41234=" + std::string(64, '0');
  const std::string amongOthers = "a=b; " + cookie + "; c=d";
  const std::string otherPort = "kx41235" + cookie.substr(7);
  struct Case {
    const char* what;
    RequestFacts facts;
    Verdict verdict;
  };
  const Case cases[] = {
      {"own page", ownPage(), Verdict::Allow},
      {"own page among other cookies", {"GET", "/a.css", "127.0.0.1:41234", "", "", amongOthers, false}, Verdict::Allow},
      {"own origin", {"GET", "/a.js", "127.0.0.1:41234", "http://127.0.0.1:41234", "same-origin", cookie, false}, Verdict::Allow},
      {"channel", {"GET", "/__kx/channel", "127.0.0.1:41234", "http://127.0.0.1:41234", "same-origin", cookie, true}, Verdict::Allow},
      {"no cookie", {"GET", "/index.htm", "127.0.0.1:41234", "", "", "", false}, Verdict::Refuse},
      {"wrong secret", {"GET", "/index.htm", "127.0.0.1:41234", "", "", otherSecret, false}, Verdict::Refuse},
      {"secret of another port", {"GET", "/index.htm", "127.0.0.1:41234", "", "", otherPort, false}, Verdict::Refuse},
      {"foreign origin", {"GET", "/index.htm", "127.0.0.1:41234", "http://evil.example", "", cookie, false}, Verdict::Refuse},
      {"other local port", {"GET", "/index.htm", "127.0.0.1:41234", "http://127.0.0.1:8080", "same-site", cookie, false}, Verdict::Refuse},
      {"cross-site fetch", {"GET", "/index.htm", "127.0.0.1:41234", "", "cross-site", cookie, false}, Verdict::Refuse},
      {"rebound host name", {"GET", "/index.htm", "evil.example:41234", "", "", cookie, false}, Verdict::Refuse},
      {"localhost name", {"GET", "/index.htm", "localhost:41234", "", "", cookie, false}, Verdict::Refuse},
      {"other port in host", {"GET", "/index.htm", "127.0.0.1:41235", "", "", cookie, false}, Verdict::Refuse},
      {"no host", {"GET", "/index.htm", "", "", "", cookie, false}, Verdict::Refuse},
      {"post", {"POST", "/index.htm", "127.0.0.1:41234", "", "", cookie, false}, Verdict::Refuse},
      {"channel without origin", {"GET", "/__kx/channel", "127.0.0.1:41234", "", "", cookie, true}, Verdict::Refuse},
      {"channel from foreign origin", {"GET", "/__kx/channel", "127.0.0.1:41234", "http://127.0.0.1:9", "", cookie, true}, Verdict::Refuse},
      {"channel without cookie", {"GET", "/__kx/channel", "127.0.0.1:41234", "http://127.0.0.1:41234", "", "", true}, Verdict::Refuse},
  };
  for (const auto& c : cases) EXPECT_EQ(guard.check(c.facts).verdict, c.verdict) << c.what;
}

TEST_F(AccessGuardTest, StartAddressWorksOnceAndLeadsToItsPage) {
  const std::string url = guard.issueStartUrl("/index.htm");
  ASSERT_TRUE(url.starts_with("http://127.0.0.1:41234/__kx/start?token="));
  const std::string target = url.substr(std::string("http://127.0.0.1:41234").size());
  const RequestFacts start{"GET", target, "127.0.0.1:41234", "", "none", "", false};
  const auto first = guard.check(start);
  EXPECT_EQ(first.verdict, Verdict::StartSession);
  EXPECT_EQ(first.landing, "/index.htm");
  EXPECT_EQ(guard.check(start).verdict, Verdict::Refuse);
}

TEST_F(AccessGuardTest, StartAddressNeedsItsExactTokenAndHost) {
  const std::string url = guard.issueStartUrl("/index.htm");
  const std::string target = url.substr(std::string("http://127.0.0.1:41234").size());
  const std::string truncated = target.substr(0, target.size() - 1);
  EXPECT_EQ(guard.check({"GET", truncated, "127.0.0.1:41234", "", "", "", false}).verdict, Verdict::Refuse);
  EXPECT_EQ(guard.check({"GET", "/__kx/start?token=", "127.0.0.1:41234", "", "", "", false}).verdict, Verdict::Refuse);
  EXPECT_EQ(guard.check({"GET", "/__kx/start", "127.0.0.1:41234", "", "", "", false}).verdict, Verdict::Refuse);
  EXPECT_EQ(guard.check({"GET", target, "localhost:41234", "", "", "", false}).verdict, Verdict::Refuse);
  EXPECT_EQ(guard.check({"GET", target, "127.0.0.1:41234", "http://evil.example", "", "", false}).verdict, Verdict::Refuse);
  // Refused attempts spend nothing: the right request still works.
  EXPECT_EQ(guard.check({"GET", target, "127.0.0.1:41234", "", "", "", false}).verdict, Verdict::StartSession);
}

}  // namespace
}  // namespace kx::uiengine
