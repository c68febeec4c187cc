#pragma once
// Diagnostic text for a developer's debugger: the installer keeps no log, but
// a few lines (the helper's command line and output) help when one watches it.

#include <string_view>

namespace kx::platform {

// Written to standard error while a debugger is attached to the process; dropped otherwise.
void debugOutput(std::string_view text);

}  // namespace kx::platform
