#include "uiengine/page_document.h"

#include <algorithm>
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

using Attributes = std::vector<std::pair<std::string, std::string>>;

// The attributes of a start tag whose name ends just before `i`, names
// lower-cased; `i` is left on the tag's closing '>' or '/' (or the end).
Attributes tagAttributes(std::string_view html, std::size_t& i) {
  Attributes attributes;
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
        if (end == std::string_view::npos) {
          i = html.size();
          break;
        }
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

// True when `lower` has the start tag `<name` at `at` (not a longer name).
bool startTagAt(const std::string& lower, std::size_t at, std::string_view name) {
  if (lower.compare(at, name.size() + 1, "<" + std::string(name)) != 0) return false;
  const std::size_t next = at + name.size() + 1;
  return next >= lower.size() || lower[next] == '>' || lower[next] == '/' ||
         std::isspace(static_cast<unsigned char>(lower[next]));
}

// The attributes of the first <html ...> start tag.
Attributes rootAttributes(std::string_view html) {
  const std::string lower = asciiLower(html);
  std::size_t at = 0;
  while ((at = lower.find("<html", at)) != std::string::npos && !startTagAt(lower, at, "html")) at += 5;
  if (at == std::string::npos) return {};
  std::size_t i = at + 5;
  return tagAttributes(html, i);
}

// `src` of an include, as a path inside "this://app/": absolute there, or
// relative to the folder of `documentPath`. Nothing for other schemes or a
// path that climbs above the root.
std::optional<std::string> includedPath(std::string_view documentPath, std::string_view src) {
  constexpr std::string_view appPrefix = "this://app/";
  std::string joined;
  if (src.starts_with(appPrefix)) {
    joined = src.substr(appPrefix.size());
  } else if (src.find(':') != std::string_view::npos) {
    return std::nullopt;
  } else if (src.starts_with('/')) {
    joined = src;
  } else {
    const auto slash = documentPath.rfind('/');
    joined = std::string(slash == std::string_view::npos ? "" : documentPath.substr(0, slash + 1)) + std::string(src);
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    const std::size_t end = std::min(joined.find('/', start), joined.size());
    const std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  if (parts.empty()) return std::nullopt;
  std::string path = parts.front();
  for (std::size_t k = 1; k < parts.size(); ++k) path += "/" + parts[k];
  return path;
}

constexpr int kIncludeDepth = 8;

std::string expandIncludes(std::string_view html, std::string_view documentPath, const IncludeLoader& load,
                           int depth) {
  const std::string lower = asciiLower(html);
  std::string out;
  std::size_t copied = 0;
  std::size_t at = 0;
  while ((at = lower.find('<', at)) != std::string::npos) {
    // Comments, scripts and styles are text, whatever they hold.
    std::string_view closer;
    if (lower.compare(at, 4, "<!--") == 0) closer = "-->";
    else if (startTagAt(lower, at, "script")) closer = "</script";
    else if (startTagAt(lower, at, "style")) closer = "</style";
    if (!closer.empty()) {
      const std::size_t end = lower.find(closer, at + 1);
      if (end == std::string::npos) break;
      at = end + closer.size();
      continue;
    }
    if (!startTagAt(lower, at, "include")) {
      ++at;
      continue;
    }
    std::size_t i = at + 8;
    const Attributes attributes = tagAttributes(html, i);
    const std::size_t tagEnd = lower.find('>', i);
    if (tagEnd == std::string::npos) break;
    std::size_t end = tagEnd + 1;
    std::size_t next = end;
    while (next < lower.size() && std::isspace(static_cast<unsigned char>(lower[next]))) ++next;
    if (lower.compare(next, 10, "</include>") == 0) end = next + 10;

    out.append(html.substr(copied, at - copied));
    copied = at = end;
    if (depth >= kIncludeDepth) continue;
    for (const auto& [name, value] : attributes) {
      if (name != "src") continue;
      const auto path = includedPath(documentPath, value);
      const auto text = path ? load(*path) : std::nullopt;
      if (text) out += expandIncludes(*text, *path, load, depth + 1);
      break;
    }
  }
  out.append(html.substr(copied));
  return out;
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

std::string withIncludes(std::string_view html, std::string_view documentPath, const IncludeLoader& load) {
  return expandIncludes(html, documentPath, load, 0);
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
