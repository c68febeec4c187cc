// kxbench: runs one piece of the installer on real data and prints its figures,
// so bench/run can compare it with a reference tool in the same run.
#include <sys/resource.h>

#include <clocale>
#include <cstdio>
#include <map>
#include <string>

#include "bench/kxbench/command.h"

namespace kx::bench {

namespace {
std::map<std::string, Command>& commands() {
  static std::map<std::string, Command> all;
  return all;
}
}  // namespace

void addCommand(const Command& command) { commands()[command.name] = command; }

void printFigures(std::uint64_t bytes, double seconds) {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::printf("bytes=%llu seconds=%.3f MiBps=%.1f peak_rss_kib=%ld\n", static_cast<unsigned long long>(bytes),
              seconds, seconds > 0 ? mib / seconds : 0.0, usage.ru_maxrss);
}

}  // namespace kx::bench

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  using kx::bench::commands;
  if (argc < 2 || !commands().count(argv[1])) {
    std::fprintf(stderr, "usage:\n");
    for (const auto& [name, command] : commands()) std::fprintf(stderr, "  kxbench %s %s\n", name.c_str(), command.usage);
    return 2;
  }
  return commands().at(argv[1]).run(std::vector<std::string>(argv + 2, argv + argc));
}
