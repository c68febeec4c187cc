#pragma once
// The installation folder the page asks for: where it really goes, and
// whether it can be used (creating it when it can).
//
// Two path forms meet here. Native paths use this platform's separator; a
// path in drive form ("D:\..." or "D:/...") follows the Windows rules and
// names a volume that does not exist on this platform.

#include <string>

namespace kx::ui {

// The folder `requested` stands for: separators made uniform, and a bare
// root ("/" or "D:\") given the flavour's product folder.
std::wstring installFolderFor(const std::wstring& requested);

// Whether `path` can hold the installation. Trailing separators are
// disregarded; the characters " * ? < > and a second colon after a drive
// colon make it invalid. A path that exists is valid; otherwise the folder
// and its missing parents are created. Errors of the existence test or of
// the creation are thrown as std::filesystem::filesystem_error naming the
// operation ("exists", "create_directories").
bool validateInstallPath(const std::wstring& path);

// Whether `path` is in drive form: a letter, a colon and a separator.
bool isDriveForm(const std::wstring& path);

}  // namespace kx::ui
