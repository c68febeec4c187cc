#pragma once
// Starting an installed program the way the installer hands over to it.

#include <string>

namespace kx::ui {

// The command line a started program receives: its path in double quotes,
// one space, and the argument text (the space is there even without one).
std::wstring launchCommandLine(const std::wstring& exe, const std::wstring& arguments);

// Starts `exe` with launchCommandLine(exe, arguments), detached from the
// installer so that it keeps running after the installer has ended. Writes
// one line to standard output saying whether it started. The process id, or
// 0 when the program could not be started.
int startProgram(const std::wstring& exe, const std::wstring& arguments);

}  // namespace kx::ui
