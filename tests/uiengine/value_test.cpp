#include "uiengine/value.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace kx::uiengine {
namespace {

using json = nlohmann::json;

TEST(Value, NumbersFromThePageAreIntWhenIntegralWithin32Bits) {
  struct Case {
    const char* wire;
    Value::Type type;
  } cases[] = {
      {"0", Value::Type::Int},           {"-2147483648", Value::Type::Int}, {"2147483647", Value::Type::Int},
      {"2147483648", Value::Type::Double}, {"-2147483649", Value::Type::Double}, {"1.5", Value::Type::Double},
      {"5368709120", Value::Type::Double},
  };
  for (const auto& c : cases) EXPECT_EQ(fromJson(json::parse(c.wire)).type(), c.type) << c.wire;
  EXPECT_DOUBLE_EQ(fromJson(json::parse("5368709120")).asDouble(), 5368709120.0);
}

TEST(Value, WireFormRoundTrips) {
  const Value nested = Value::object({{L"name", Value::string(L"目录 \"x\"")},
                                      {L"list", Value::array({Value::integer(-3), Value::number(0.25),
                                                              Value::boolean(true), Value::null()})},
                                      {L"failure", Value::error(L"boom")}});
  EXPECT_EQ(fromJson(json::parse(toJson(nested).dump())), nested);
  // Undefined has no JSON form: inside a list it becomes null.
  EXPECT_EQ(fromJson(toJson(Value::array({Value()}))), Value::array({Value::null()}));
}

TEST(Value, TextFormAsThePageWritesIt) {
  struct Case {
    Value value;
    const wchar_t* text;
  } cases[] = {
      {Value(), L"undefined"},
      {Value::null(), L"null"},
      {Value::boolean(false), L"false"},
      {Value::integer(-42), L"-42"},
      {Value::number(1.5), L"1.5"},
      {Value::number(1e21), L"1e+21"},
      {Value::number(3e9), L"3000000000"},
      {Value::number(123456789012345680000.0), L"123456789012345680000"},
      {Value::number(-0.000001), L"-0.000001"},
      {Value::number(1e-7), L"1e-7"},
      {Value::number(2.5e-10), L"2.5e-10"},
      {Value::number(0.1 + 0.2), L"0.30000000000000004"},
      {Value::string(L"C:\\Games"), L"C:\\Games"},
      {Value::array({Value::integer(1), Value::null(), Value::string(L"b")}), L"1,,b"},
      {Value::object({}), L"[object Object]"},
      {Value::error(L"bad"), L"bad"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.toText(), c.text);
}

TEST(Value, TrueFlagOnlyForTrueAndNonZeroIntegers) {
  struct Case {
    Value value;
    bool flag;
  } cases[] = {
      {Value::boolean(true), true},  {Value::integer(2), true},       {Value::integer(-1), true},
      {Value::boolean(false), false}, {Value::integer(0), false},     {Value::number(1.0), false},
      {Value::string(L"true"), false}, {Value::string(L"1"), false},  {Value(), false},
      {Value::null(), false},         {Value::array({}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.isTrueFlag(), c.flag) << toJson(c.value).dump();
}

}  // namespace
}  // namespace kx::uiengine
