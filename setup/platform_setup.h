#pragma once
// The game platform's own setup program (an NSIS installer), run silently
// while its logged percentage drives the 90-to-95 part of the progress bar.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "download/interfaces.h"
#include "setup/step_result.h"

namespace kx {

// The setup's switches for this build flavour: "/S /NCRC /L=<language>",
// in flavour qv also "/NRUN=1" and, as chosen, "/MLNK=1" and "/MARN=1", and
// last " /D=" with `installDir` unquoted and without a trailing separator
// (NSIS takes everything after " /D=" as the folder, spaces included).
std::wstring buildPlatformSetupArguments(const std::wstring& installDir, bool createDesktopShortcut, bool autoRun);

// The setup's progress log: the temporary folder joined with the setup
// program's file name, its extension replaced by ".log". Throws the file
// system library's error when the temporary folder cannot be found.
std::filesystem::path platformSetupLogPath(const std::wstring& setupPath);

// The leading decimal integer of a log's text (leading white space, optional
// sign, digits, as the C library reads it);
// nothing when the text does not start with one.
std::optional<long long> leadingInteger(std::string_view text);

// Starts the setup program with `argumentText` and waits for it, reading its
// log once a second (at most 12 bytes) and reporting value * 0.05 + 90 to
// `progress` (may be null) for values 0 to 100; 95 when it has ended. In
// flavour qv the exit code is sent as "install_platform_success" or
// "install_platform_failed". Fails, with the reason, when the path is empty,
// the program cannot be started or it ends with an exit code other than 0:
// the platform is then not installed. An old log is deleted first; file
// system errors around it are thrown.
StepResult runPlatformSetup(const std::wstring& setupPath, const std::wstring& argumentText, ITaskCallback* progress);

}  // namespace kx
