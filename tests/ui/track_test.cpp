// The page's telemetry methods record events in flavour qv only, with one
// attribute whose text follows the value's type.
#include <gtest/gtest.h>

#include "flavour/flavour.h"
#include "install_manager/install_man.h"
#include "tests/support/recording_telemetry.h"
#include "tests/ui/observed_window.h"

namespace kx::test {
namespace {

using uiengine::Value;

TEST(Tracking, IsForFlavourQvOnlyWithOneAttributeByValueType) {
  clearTelemetryCalls();
  InstallMan manager{[](EngineKind, IDownloadCallBack*, IDownloadStateCallBack*) { return nullptr; }};
  ObservedWindow window{manager};
  struct Case {
    Value value;
    std::wstring text;
  } cases[] = {{Value::boolean(true), L"1"},  {Value::boolean(false), L"0"}, {Value::integer(-42), L"-42"},
               {Value::string(L"abc"), L""},  {Value::number(1.5), L""},     {Value(), L""}};
  for (const auto& c : cases) window.trackEx(L"x", L"k", c.value);
  window.trackEx(L"y", L"", Value::boolean(true));
  window.track(L"z");
  const auto calls = telemetryCalls();
  if (!isQv) {
    EXPECT_TRUE(calls.empty());
    return;
  }
  ASSERT_EQ(calls.size(), std::size(cases) + 2);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(calls[i].call, "TrackEventEx");
    EXPECT_EQ(calls[i].arguments, (std::vector<std::wstring>{L"x", L"", L""}));
    EXPECT_EQ(calls[i].attributes, (TelemetryAttributes{{L"k", cases[i].text}})) << i;
  }
  EXPECT_TRUE(calls[std::size(cases)].attributes.empty()) << "an attribute without a name is left out";
  EXPECT_EQ(calls.back().arguments, (std::vector<std::wstring>{L"z", L"", L""}));
  EXPECT_TRUE(calls.back().attributes.empty());
}

}  // namespace
}  // namespace kx::test
