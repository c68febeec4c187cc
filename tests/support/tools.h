#pragma once
// Small helpers for running reference tools (Python, lnkinfo, localedef)
// from tests and for whole-file reads and writes.

#include <filesystem>
#include <optional>
#include <string>

namespace kx::test {

struct CommandResult {
  int exitCode = -1;
  std::string output;  // standard output only
};

// Runs a shell command line, bounded to `timeoutSeconds`, and captures its standard output.
CommandResult runCommand(const std::string& commandLine, int timeoutSeconds = 60);

// Runs a Python program with Debian's interpreter; `arguments` are passed
// as they are (already quoted for the shell).
CommandResult runPython(const std::string& program, const std::string& arguments = "", int timeoutSeconds = 60);

// The whole file as bytes; empty when it cannot be read.
std::string readWholeFile(const std::filesystem::path& path);
void writeWholeFile(const std::filesystem::path& path, const std::string& content);

// Test paths are ASCII, so a byte-wise widening is exact.
inline std::wstring wide(const std::string& path) { return std::wstring(path.begin(), path.end()); }

// A field of Debian's `lnkinfo` listing of a .lnk file ("Local path",
// "Description", "Command line arguments", "Icon location"); nothing when the
// listing has no such line or lnkinfo cannot read the file.
std::optional<std::string> lnkInfoField(const std::filesystem::path& link, const std::string& field);

// Single quotes for the shell.
std::string shellQuote(const std::string& text);

}  // namespace kx::test
