// Launch links per build flavour.
#include <gtest/gtest.h>

#include "flavour/flavour.h"
#include "install_manager/install_man.h"

namespace kx {
namespace {

struct LinkCase {
  std::wstring mapId;
  bool independent, kestrixMap;
  std::wstring qv, other;
};

TEST(LaunchArgs, LinkForEveryMapKindByteForByte) {
  const LinkCase cases[] = {
      {L"123", false, false, L"zzarenahq://viewmap?Z2FtZXR5cGU9d2FyM3JwZyZkb3dubG9hZD0xJm1hcGlkPTEyMw==",
       L"--customgame=123"},
      {L"123", false, true, L"zzarenahq://viewmap?Z2FtZXR5cGU9a2VzdHJpeCZkb3dubG9hZD0xJm1hcGlkPTEyMw==",
       L"--customgame=123"},
      {L"123", true, false, L"zzarenahq://indiegame?Z2FtZWlkPTEyMw==", L"--customgame=123"},
      // Longer than a Base64 line: no line break may appear.
      {std::wstring(80, L'9'), true, false,
       L"zzarenahq://indiegame?Z2FtZWlkPTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5"
       L"OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5OTk5",
       L"--customgame=" + std::wstring(80, L'9')},
      {L"", true, true, L"", L""},
  };
  for (const auto& c : cases) {
    InstallMan manager([](EngineKind, IDownloadCallBack*, IDownloadStateCallBack*) { return nullptr; });
    manager.mapId = c.mapId;
    manager.isIndependent = c.independent;
    manager.isKestrixMap = c.kestrixMap;
    EXPECT_EQ(manager.buildLaunchArgs(), isQv ? c.qv : c.other);
  }
}

}  // namespace
}  // namespace kx
