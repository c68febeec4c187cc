#pragma once
// Replacing a file so that a crash or a power loss leaves either the old or
// the new content, never a mix: the one way the installer replaces a file.

#include <filesystem>
#include <string_view>

namespace kx::platform {

// Writes `content` to a temporary file beside `path` (named `path` +
// ".tmp-" and six letters or digits, and locked by this writer while it is in
// use), flushes it to the disk, renames it over `path` and flushes the folder.
// Temporaries that writers killed during earlier replacements of `path` left
// behind are removed first, so they never pile up. Returns false (and leaves
// `path` untouched) on any error.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view content);

// Removes the temporaries of `path` that no writer holds any more: those of
// writers killed during a replacement. Errors are passed over.
void removeAbandonedReplacements(const std::filesystem::path& path);

}  // namespace kx::platform
