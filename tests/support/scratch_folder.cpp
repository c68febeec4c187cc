#include "tests/support/scratch_folder.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kx::test {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "kx-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  fs::remove_all(root, ec);
}

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

std::string readWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeWholeFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace kx::test
