#pragma once
// kxbench subcommands register themselves here; each lives in a file of its own.

#include <cstdint>
#include <string>
#include <vector>

namespace kx::bench {

struct Command {
  const char* name;
  const char* usage;  // arguments after the name
  int (*run)(const std::vector<std::string>& args);
};

// Adds a subcommand; used through a static Registration in the command's file.
void addCommand(const Command& command);

struct Registration {
  explicit Registration(const Command& command) { addCommand(command); }
};

// Prints the final line every subcommand ends with:
// "bytes=N seconds=S MiBps=R peak_rss_kib=K".
void printFigures(std::uint64_t bytes, double seconds);

}  // namespace kx::bench
