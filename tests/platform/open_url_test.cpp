// Web pages open in the person's browser; nothing else can be opened this way.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/desktop.h"
#include "tests/support/test_server.h"
#include "tests/support/tools.h"

namespace kx::platform {
namespace {

namespace fs = std::filesystem;

TEST(OpenUrl, OnlyWebAddressesReachTheBrowser) {
  // A stand-in for the desktop's opener, first on the search path, that notes what it was asked to open.
  test::TempDir scratch;
  const fs::path opened = scratch.file("opened");
  test::writeWholeFile(scratch.file("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " + test::shellQuote(opened) + "\n");
  fs::permissions(scratch.file("xdg-open"), fs::perms::owner_all);
  const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (scratch.path() + ":" + path).c_str(), 1);

  for (const wchar_t* refused : {L"file:///etc/passwd", L"javascript:alert(1)", L"zzarenahq://viewmap?x", L"/usr/bin/xterm",
                                 L"-https://x.test/", L"https://", L"https://x.test/a b", L"http:/x.test", L""})
    EXPECT_FALSE(openInBrowser(refused));
  EXPECT_TRUE(openInBrowser(L"HTTPS://www.kestrix.test/user-agreement"));
  EXPECT_TRUE(openInBrowser(L"http://x.test/?q=1&r=2"));
  setenv("PATH", path.c_str(), 1);

  for (int wait = 0; wait < 100 && test::readWholeFile(opened).size() < 60; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string seen = test::readWholeFile(opened);
  EXPECT_NE(seen.find("HTTPS://www.kestrix.test/user-agreement\n"), std::string::npos) << seen;
  EXPECT_NE(seen.find("http://x.test/?q=1&r=2\n"), std::string::npos) << seen;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), 2) << seen;
}

}  // namespace
}  // namespace kx::platform
