#pragma once
// The installer's five command-line options, parsed once per process.

#include <cxxopts.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kx {

// Parses `args` (element 0 is the program) with the five options; unknown
// options are ignored. A command line that cannot be parsed is reported on
// `errors` in one line and parsed as if it had no options.
std::shared_ptr<const cxxopts::ParseResult> parseArguments(const std::vector<std::wstring>& args,
                                                           std::ostream& errors);

// The process-wide parse result: null until stored; once stored never replaced.
void storeCommandLine(std::shared_ptr<const cxxopts::ParseResult> result);
std::shared_ptr<const cxxopts::ParseResult> storedCommandLine();

// Value of option `name` when the stored command line gave it, else "".
std::string commandLineValue(const std::string& name);

// The distribution channel (UTF-8), empty unless the command line named one.
std::string channel();
void setChannel(std::string value);

}  // namespace kx
