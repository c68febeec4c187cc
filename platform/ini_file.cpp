#include "platform/ini_file.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

#include "common/strings.h"
#include "platform/codepage.h"

namespace kx::platform {

namespace {

// The whole file as wide text, by its byte-order mark.
std::wstring readText(const std::wstring& path) {
  std::ifstream file(wideToFileSystem(path), std::ios::binary);
  if (!file) return {};
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.starts_with("\xFF\xFE")) {
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return fromUtf16(units);
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) return fromUtf8(std::string_view(bytes).substr(3));
  return fileSystemToWide(bytes);
}

std::wstring_view trimmed(std::wstring_view text) {
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool sameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::wstring readIniString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                           const std::wstring& fallback, std::size_t capacity) {
  std::wistringstream lines(readText(path));
  bool inSection = false;
  for (std::wstring line; std::getline(lines, line);) {
    const std::wstring_view text = trimmed(line);
    if (text.starts_with(L'[')) {
      const auto close = text.find(L']');
      inSection = close != std::wstring_view::npos && sameName(trimmed(text.substr(1, close - 1)), section);
      continue;
    }
    const auto equals = text.find(L'=');
    if (!inSection || equals == std::wstring_view::npos || !sameName(trimmed(text.substr(0, equals)), key)) continue;
    std::wstring_view value = trimmed(text.substr(equals + 1));
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == L'"' || value.front() == L'\''))
      value = value.substr(1, value.size() - 2);
    return std::wstring(value.substr(0, capacity == 0 ? 0 : capacity - 1));
  }
  return fallback;
}

}  // namespace kx::platform
