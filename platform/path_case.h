#pragma once
// Windows file names ignore case; this file system's do not. Lookups of paths
// that another spelling may have created go through here.

#include <string>

namespace kx::platform {

// Whether something exists at `path` when each component may differ in case
// (ASCII letters) from the name on disk. An error counts as "does not exist".
bool existsIgnoringCase(const std::wstring& path);

}  // namespace kx::platform
