#pragma once
// A script value as it crosses between page and native code.
//
// Numbers: a page number that is an integer within the signed 32-bit range
// arrives as Int, any other as Double. An Error is what a native method
// returns to make the page's call throw, and what a page function that threw
// yields on the native side.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace kx::uiengine {

class Value {
 public:
  enum class Type { Undefined, Null, Bool, Int, Double, String, Array, Object, Error };
  using Array = std::vector<Value>;
  using Object = std::map<std::wstring, Value>;

  Value() = default;  // undefined
  static Value null();
  static Value boolean(bool value);
  static Value integer(std::int32_t value);
  static Value number(double value);
  static Value string(std::wstring text);
  static Value array(Array items);
  static Value object(Object members);
  static Value error(std::wstring message);

  Type type() const { return static_cast<Type>(data_.index()); }
  bool isUndefined() const { return type() == Type::Undefined; }
  bool isError() const { return type() == Type::Error; }

  // Accessors of the stored alternative; std::bad_variant_access for another.
  bool asBool() const;
  std::int32_t asInt() const;
  double asDouble() const;            // Int widens
  const std::wstring& asString() const;  // String or Error message
  const Array& asArray() const;
  const Object& asObject() const;

  // The simple text form, as the page's String(value) would give it.
  std::wstring toText() const;
  // True for true and for a non-zero Int; false for everything else.
  bool isTrueFlag() const;

  bool operator==(const Value& other) const = default;

 private:
  struct ErrorText {
    std::wstring message;
    bool operator==(const ErrorText&) const = default;
  };
  struct Null {
    bool operator==(const Null&) const = default;
  };
  struct Undefined {
    bool operator==(const Undefined&) const = default;
  };
  using Data = std::variant<Undefined, Null, bool, std::int32_t, double, std::wstring, Array, Object, ErrorText>;
  explicit Value(Data data) : data_(std::move(data)) {}
  Data data_;
};

// Wire form (JSON). Undefined has no JSON form: it becomes null inside
// arrays and objects; callers leave a top-level undefined out. An Error
// becomes {"$error": message}.
nlohmann::json toJson(const Value& value);
Value fromJson(const nlohmann::json& json);

}  // namespace kx::uiengine
