#pragma once
// What the engine reads from and adds to the documents it serves.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx::uiengine {

// The media type of a served file, by its extension.
std::string contentTypeFor(std::string_view path);

// Puts the engine runtime (import map, window configuration, bootstrap) in
// front of a document's own scripts: right after its doctype, else first.
std::string withRuntime(std::string_view html);

// Headers of every file served to the window at `origin`: no caching, no
// framing by other origins, and scripts limited by the runtime features.
std::vector<std::pair<std::string, std::string>> servedPageHeaders(const std::string& origin, unsigned features);

// The window attributes of a document's root element.
struct WindowAttributes {
  int width = 800;
  int height = 600;
  std::string title;
};
WindowAttributes readWindowAttributes(std::string_view html);

// The path of a request target, percent-decoded, without its query and
// leading '/'; nullopt when the encoding is broken.
std::optional<std::string> decodedPath(std::string_view target);

}  // namespace kx::uiengine
