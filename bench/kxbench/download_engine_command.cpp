// kxbench download-engine ENGINE URL DEST SIZE: one file through the aria2 or
// the library engine, timed from Download to the final report.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "bench/kxbench/command.h"
#include "bench/kxbench/engines.h"
#include "platform/codepage.h"
#include "platform/current_directory.h"
#include "platform/process.h"

namespace kx::bench {

namespace {

int run(const std::vector<std::string>& args) {
  if (args.size() != 4) return 2;
  const std::wstring destination = platform::fileSystemToWide(std::filesystem::absolute(args[2]).string());
  const std::uint64_t size = std::stoull(args[3]);
  // Helper files are looked up beside the program, as the installer does.
  platform::setCurrentDirectory(std::filesystem::path(platform::executablePath()).parent_path().wstring());
  TransferWatch watch;
  auto engine = makeEngine(args[0], &watch, &watch);
  if (!engine) {
    std::fprintf(stderr, "unknown engine %s (aria2, library)\n", args[0].c_str());
    return 2;
  }
  const auto began = std::chrono::steady_clock::now();
  const bool complete = runTransfer(*engine, watch, args[1], destination, size, 3);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  engine.reset();
  if (!complete) {
    std::fprintf(stderr, "download failed\n");
    return 1;
  }
  printFigures(size, seconds);
  return 0;
}

const Registration registration({"download-engine", "aria2|library URL DEST SIZE", run});

}  // namespace
}  // namespace kx::bench
