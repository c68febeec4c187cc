#pragma once
// Shell links: .lnk files in the Shell Link binary format that the Windows
// shell reads (header with the ShellLink class id, link info with the target
// path, Unicode string data), so the same files serve both platforms.

#include <string>

namespace kx::platform {

struct ShellLink {
  std::wstring target;       // required
  std::wstring description;  // empty: none
  std::wstring arguments;    // empty: none
  std::wstring iconPath;     // empty: the target's own icon
  int iconIndex = 0;
};

// Writes (or replaces) the link file. Fails when the target or the link path
// is empty, when the link's folder does not exist, or when the link's file
// name holds a character that Windows forbids in file names, so that callers
// see the same failures on every platform.
bool writeShellLink(const std::wstring& linkPath, const ShellLink& link);

// Whether `name` can be one file-name component on Windows: not empty, none of
// \ / : * ? " < > | and no control characters.
bool isPortableFileName(const std::wstring& name);

}  // namespace kx::platform
