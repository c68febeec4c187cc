#pragma once
// The user's recycle bin: on this platform the freedesktop.org trash
// (Trash/files and Trash/info/*.trashinfo in the user's data folder), which
// file managers list and restore from.

#include <string>

namespace kx::platform {

// Moves a file or folder into the trash. Returns 0 on success, otherwise an
// error number (ENOENT when nothing is at `path`).
int moveToTrash(const std::wstring& path);

}  // namespace kx::platform
