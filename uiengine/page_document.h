#pragma once
// What the engine reads from and adds to the documents it serves.

#include <functional>
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

// Replaces every <include src="URL"></include> (the end tag may be left
// out) with the document at URL, a path in "this://app/" or relative to the
// folder of `documentPath`, as `load` answers it; a document `load` does not
// have leaves nothing. Included documents may include others, 8 deep at
// most. Tags inside comments, scripts and styles are left alone.
using IncludeLoader = std::function<std::optional<std::string>(const std::string& path)>;
std::string withIncludes(std::string_view html, std::string_view documentPath, const IncludeLoader& load);

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
