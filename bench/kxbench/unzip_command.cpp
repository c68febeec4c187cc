// kxbench unzip ARCHIVE DEST: extracts a package as the installer does
// (top folder "lumlum" renamed to "game") and prints the figures.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "bench/kxbench/command.h"
#include "platform/codepage.h"
#include "setup/extraction.h"

namespace kx::bench {

namespace {

int runUnzip(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: kxbench unzip ARCHIVE DEST\n");
    return 2;
  }
  std::error_code ec;
  const auto size = std::filesystem::file_size(args[0], ec);
  if (ec) {
    std::fprintf(stderr, "kxbench unzip: cannot read %s\n", args[0].c_str());
    return 1;
  }
  // Entry names would drown the figures; the installer's own output is not
  // visible either (it has no console).
  std::fflush(stdout);
  const int savedStdout = dup(STDOUT_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDOUT_FILENO);
  const auto started = std::chrono::steady_clock::now();
  const StepResult extracted = unzipPackage(platform::fileSystemToWide(args[0]), platform::fileSystemToWide(args[1]), "lumlum",
                                            "game", size, nullptr);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  std::fflush(stdout);
  dup2(savedStdout, STDOUT_FILENO);
  close(savedStdout);
  close(null);
  if (!extracted) {
    std::fprintf(stderr, "kxbench unzip: extraction failed: %s\n", extracted.reason.c_str());
    return 1;
  }
  printFigures(size, elapsed.count());
  return 0;
}

const Registration registration({"unzip", "ARCHIVE DEST", runUnzip});

}  // namespace

}  // namespace kx::bench
