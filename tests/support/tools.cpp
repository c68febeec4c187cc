#include "tests/support/tools.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

namespace kx::test {

namespace fs = std::filesystem;

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CommandResult runCommand(const std::string& commandLine, int timeoutSeconds) {
  const std::string bounded = "timeout " + std::to_string(timeoutSeconds) + " sh -c " + shellQuote(commandLine);
  CommandResult result;
  FILE* pipe = popen(bounded.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

CommandResult runPython(const std::string& program, const std::string& arguments, int timeoutSeconds) {
  return runCommand(std::string(KX_PYTHON) + " -c " + shellQuote(program) + " " + arguments, timeoutSeconds);
}

std::optional<std::string> lnkInfoField(const fs::path& link, const std::string& field) {
  const auto listing = runCommand("lnkinfo " + shellQuote(link.string()), 10);
  if (listing.exitCode != 0) return std::nullopt;
  std::size_t start = 0;
  while (start < listing.output.size()) {
    std::size_t end = listing.output.find('\n', start);
    if (end == std::string::npos) end = listing.output.size();
    const std::string line = listing.output.substr(start, end - start);
    start = end + 1;
    const auto name = line.find_first_not_of('\t');
    const auto colon = line.find(": ");
    if (name == std::string::npos || colon == std::string::npos) continue;
    std::string key = line.substr(name, colon - name);
    key.erase(key.find_last_not_of("\t ") + 1);
    if (key == field) return line.substr(colon + 2);
  }
  return std::nullopt;
}

std::string readWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeWholeFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << actual.size() << " bytes where " << expected.size() << " were expected";
  std::size_t at = 0;
  while (actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "the bytes differ from offset " << at;
}

}  // namespace kx::test
