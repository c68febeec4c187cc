// Built once per flavour: the download command names the project and the
// overseas switch the flavour selects (KX_EXPECT_* come from CMake).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "download/drift_download.h"

namespace kx {
namespace {

TEST(DriftCommandFlavour, ProjectAndOverseasSwitch) {
  const auto command = nlohmann::json::parse(driftDownloadCommand("https://h/p", L"/p", 1, "", 1));
  EXPECT_EQ(command["projectid"], KX_EXPECT_PROJECT);
  EXPECT_EQ(command["oversea"], KX_EXPECT_OVERSEA);
}

}  // namespace
}  // namespace kx
