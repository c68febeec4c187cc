#pragma once
// Replacing a file so that a crash leaves either the old or the new content.

#include <filesystem>
#include <string_view>

namespace kx::platform {

// Writes `content` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. Returns false (and leaves `path` untouched) on any error.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view content);

}  // namespace kx::platform
