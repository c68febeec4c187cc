// kxbench md5 FILE: prints the file's MD5 digest as the package check computes it, then its figures.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "bench/kxbench/command.h"
#include "download/verification.h"
#include "platform/codepage.h"

namespace kx::bench {

namespace {

int runMd5(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: kxbench md5 FILE\n");
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  const std::optional<std::string> digest = FileMd5(platform::fileSystemToWide(args[0]));
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  if (!digest) {
    std::fprintf(stderr, "kxbench md5: cannot read %s\n", args[0].c_str());
    return 1;
  }
  std::printf("%s  %s\n", digest->c_str(), args[0].c_str());
  std::error_code ec;
  printFigures(std::filesystem::file_size(args[0], ec), seconds.count());
  return 0;
}

const Registration registration({"md5", "FILE", runMd5});

}  // namespace

}  // namespace kx::bench
