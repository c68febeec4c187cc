#include "uiengine/value.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "common/strings.h"

namespace kx::uiengine {

Value Value::null() { return Value(Data(Null{})); }
Value Value::boolean(bool value) { return Value(Data(value)); }
Value Value::integer(std::int32_t value) { return Value(Data(value)); }
Value Value::number(double value) { return Value(Data(value)); }
Value Value::string(std::wstring text) { return Value(Data(std::move(text))); }
Value Value::array(Array items) { return Value(Data(std::move(items))); }
Value Value::object(Object members) { return Value(Data(std::move(members))); }
Value Value::error(std::wstring message) { return Value(Data(ErrorText{std::move(message)})); }

bool Value::asBool() const { return std::get<bool>(data_); }
std::int32_t Value::asInt() const { return std::get<std::int32_t>(data_); }
double Value::asDouble() const {
  if (const auto* i = std::get_if<std::int32_t>(&data_)) return *i;
  return std::get<double>(data_);
}
const std::wstring& Value::asString() const {
  if (const auto* e = std::get_if<ErrorText>(&data_)) return e->message;
  return std::get<std::wstring>(data_);
}
const Value::Array& Value::asArray() const { return std::get<Array>(data_); }
const Value::Object& Value::asObject() const { return std::get<Object>(data_); }

namespace {

// As the page's Number#toString writes it: the shortest digits that read
// back the same, in positional form for exponents from -7 to 20.
std::wstring numberText(double value) {
  if (std::isnan(value)) return L"NaN";
  if (std::isinf(value)) return value > 0 ? L"Infinity" : L"-Infinity";
  if (value == 0) return L"0";
  char buffer[40];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
  const std::string text(buffer, end);
  const std::size_t e = text.find('e');
  const bool negative = text[0] == '-';
  std::string digits = text.substr(negative ? 1 : 0, e - (negative ? 1 : 0));
  digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
  const int k = static_cast<int>(digits.size());
  const int n = std::stoi(text.substr(e + 1)) + 1;  // the decimal point sits after n digits
  std::string out = negative ? "-" : "";
  if (k <= n && n <= 21) {
    out += digits + std::string(n - k, '0');
  } else if (0 < n && n <= 21) {
    out += digits.substr(0, n) + "." + digits.substr(n);
  } else if (-6 < n && n <= 0) {
    out += "0." + std::string(-n, '0') + digits;
  } else {
    out += digits.substr(0, 1) + (k > 1 ? "." + digits.substr(1) : "") + "e" + (n - 1 >= 0 ? "+" : "-") +
           std::to_string(std::abs(n - 1));
  }
  return fromUtf8(out);
}

}  // namespace

std::wstring Value::toText() const {
  switch (type()) {
    case Type::Undefined: return L"undefined";
    case Type::Null: return L"null";
    case Type::Bool: return asBool() ? L"true" : L"false";
    case Type::Int: return std::to_wstring(asInt());
    case Type::Double: return numberText(asDouble());
    case Type::String:
    case Type::Error: return asString();
    case Type::Array: {
      std::wstring text;
      for (std::size_t i = 0; i < asArray().size(); ++i) {
        if (i) text += L',';
        const Value& item = asArray()[i];
        if (item.type() != Type::Undefined && item.type() != Type::Null) text += item.toText();
      }
      return text;
    }
    case Type::Object: return L"[object Object]";
  }
  return {};
}

bool Value::isTrueFlag() const {
  if (type() == Type::Bool) return asBool();
  if (type() == Type::Int) return asInt() != 0;
  return false;
}

nlohmann::json toJson(const Value& value) {
  switch (value.type()) {
    case Value::Type::Undefined:
    case Value::Type::Null: return nullptr;
    case Value::Type::Bool: return value.asBool();
    case Value::Type::Int: return value.asInt();
    case Value::Type::Double: {
      const double d = value.asDouble();
      return std::isfinite(d) ? nlohmann::json(d) : nlohmann::json(nullptr);
    }
    case Value::Type::String: return toUtf8(value.asString());
    case Value::Type::Array: {
      auto out = nlohmann::json::array();
      for (const auto& item : value.asArray()) out.push_back(toJson(item));
      return out;
    }
    case Value::Type::Object: {
      auto out = nlohmann::json::object();
      for (const auto& [key, item] : value.asObject()) out[toUtf8(key)] = toJson(item);
      return out;
    }
    case Value::Type::Error: return {{"$error", toUtf8(value.asString())}};
  }
  return nullptr;
}

Value fromJson(const nlohmann::json& json) {
  using limits = std::numeric_limits<std::int32_t>;
  switch (json.type()) {
    case nlohmann::json::value_t::null: return Value::null();
    case nlohmann::json::value_t::boolean: return Value::boolean(json.get<bool>());
    case nlohmann::json::value_t::number_integer: {
      const auto i = json.get<std::int64_t>();
      return i >= limits::min() && i <= limits::max() ? Value::integer(static_cast<std::int32_t>(i))
                                                       : Value::number(static_cast<double>(i));
    }
    case nlohmann::json::value_t::number_unsigned: {
      const auto u = json.get<std::uint64_t>();
      return u <= static_cast<std::uint64_t>(limits::max()) ? Value::integer(static_cast<std::int32_t>(u))
                                                             : Value::number(static_cast<double>(u));
    }
    case nlohmann::json::value_t::number_float: return Value::number(json.get<double>());
    case nlohmann::json::value_t::string: return Value::string(fromUtf8(json.get<std::string>()));
    case nlohmann::json::value_t::array: {
      Value::Array items;
      for (const auto& item : json) items.push_back(fromJson(item));
      return Value::array(std::move(items));
    }
    case nlohmann::json::value_t::object: {
      if (json.size() == 1 && json.contains("$error") && json["$error"].is_string())
        return Value::error(fromUtf8(json["$error"].get<std::string>()));
      Value::Object members;
      for (const auto& [key, item] : json.items()) members.emplace(fromUtf8(key), fromJson(item));
      return Value::object(std::move(members));
    }
    default: return Value();
  }
}

}  // namespace kx::uiengine
