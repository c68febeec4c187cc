#pragma once
// What the folder picker and "@sys" fs.readdir show of a folder.

#include <string>

#include "uiengine/value.h"

namespace kx::uiengine {

// {path, parent, entries: [{name, folder}]} for the folder at `path` (the
// user's home folder when empty), entries sorted by name; parent is empty at
// a root. Throws std::runtime_error when the folder cannot be read.
Value listFolder(const std::wstring& path);

}  // namespace kx::uiengine
