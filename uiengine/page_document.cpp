#include "uiengine/page_document.h"

#include <array>
#include <cctype>
#include <charconv>
#include <utility>
#include <vector>

#include "common/strings.h"
#include "uiengine/engine.h"

namespace kx::uiengine {

namespace {

std::string_view extensionOf(std::string_view path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return path.substr(dot + 1);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && asciiLower(text.substr(0, prefix.size())) == prefix;
}

int pixels(std::string_view text, int fallback) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && value > 0 ? value : fallback;
}

// The attributes of the first <html ...> start tag, name lower-cased.
std::vector<std::pair<std::string, std::string>> rootAttributes(std::string_view html) {
  std::vector<std::pair<std::string, std::string>> attributes;
  const std::string lower = asciiLower(html);
  std::size_t at = 0;
  while ((at = lower.find("<html", at)) != std::string::npos) {
    const char next = at + 5 < lower.size() ? lower[at + 5] : '>';
    if (next == '>' || std::isspace(static_cast<unsigned char>(next)) || next == '/') break;
    at += 5;
  }
  if (at == std::string::npos) return attributes;
  std::size_t i = at + 5;
  const auto skipSpace = [&] {
    while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i]))) ++i;
  };
  for (;;) {
    skipSpace();
    if (i >= html.size() || html[i] == '>' || html[i] == '/') break;
    const std::size_t nameStart = i;
    while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '=' && html[i] != '>')
      ++i;
    std::string name = asciiLower(html.substr(nameStart, i - nameStart));
    skipSpace();
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      skipSpace();
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const std::size_t end = html.find(quote, i);
        if (end == std::string_view::npos) break;
        value = html.substr(i, end - i);
        i = end + 1;
      } else {
        const std::size_t valueStart = i;
        while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '>') ++i;
        value = html.substr(valueStart, i - valueStart);
      }
    }
    attributes.emplace_back(std::move(name), std::move(value));
  }
  return attributes;
}

}  // namespace

std::string contentTypeFor(std::string_view path) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 16> types{{
      {"htm", "text/html; charset=utf-8"},
      {"html", "text/html; charset=utf-8"},
      {"css", "text/css; charset=utf-8"},
      {"js", "text/javascript; charset=utf-8"},
      {"mjs", "text/javascript; charset=utf-8"},
      {"json", "application/json"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"svg", "image/svg+xml"},
      {"ico", "image/x-icon"},
      {"webp", "image/webp"},
      {"woff", "font/woff"},
      {"woff2", "font/woff2"},
      {"ttf", "font/ttf"},
  }};
  const std::string extension = asciiLower(extensionOf(path));
  for (const auto& [name, type] : types)
    if (extension == name) return std::string(type);
  return "application/octet-stream";
}

std::string withRuntime(std::string_view html) {
  static constexpr std::string_view runtime =
      "<script type=\"importmap\">{\"imports\":{\"@sciter\":\"/__kx/runtime/sciter.js\","
      "\"@env\":\"/__kx/runtime/env.js\",\"@sys\":\"/__kx/runtime/sys.js\"}}</script>"
      "<script src=\"/__kx/config.js\"></script><script src=\"/__kx/runtime/bootstrap.js\"></script>";
  std::size_t at = 0;
  if (html.starts_with("\xEF\xBB\xBF")) at = 3;
  while (at < html.size() && std::isspace(static_cast<unsigned char>(html[at]))) ++at;
  if (startsWithNoCase(html.substr(at), "<!doctype")) {
    const auto end = html.find('>', at);
    at = end == std::string_view::npos ? html.size() : end + 1;
  } else {
    at = 0;
  }
  std::string out;
  out.reserve(html.size() + runtime.size());
  out.append(html.substr(0, at)).append(runtime).append(html.substr(at));
  return out;
}

std::vector<std::pair<std::string, std::string>> servedPageHeaders(const std::string& origin, unsigned features) {
  std::string policy = "script-src 'self' 'unsafe-inline'";
  if (features & kFeatureEval) policy += " 'unsafe-eval'";
  policy += "; connect-src 'self' ws://" + origin.substr(origin.find("//") + 2);
  if (features & kFeatureSocketIo) policy += " *";
  policy += "; object-src 'none'; frame-ancestors 'self'";
  return {{"Content-Security-Policy", policy},
          {"Cache-Control", "no-store"},
          {"X-Content-Type-Options", "nosniff"},
          {"Referrer-Policy", "no-referrer"},
          {"Cross-Origin-Resource-Policy", "same-origin"}};
}

WindowAttributes readWindowAttributes(std::string_view html) {
  WindowAttributes window;
  for (const auto& [name, value] : rootAttributes(html)) {
    if (name == "window-width") window.width = pixels(value, window.width);
    if (name == "window-height") window.height = pixels(value, window.height);
    if (name == "window-title") window.title = value;
  }
  return window;
}

std::optional<std::string> decodedPath(std::string_view target) {
  target = target.substr(0, target.find_first_of("?#"));
  while (target.starts_with('/')) target.remove_prefix(1);
  std::string out;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] != '%') {
      out += target[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= target.size()) return std::nullopt;
    const auto [end, error] = std::from_chars(target.data() + i + 1, target.data() + i + 3, value, 16);
    if (error != std::errc() || end != target.data() + i + 3 || value == 0) return std::nullopt;
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

}  // namespace kx::uiengine
