// Stands in for the installer in the lifetime test: runs the aria2 engine on
// URL DEST, prints the helper's process id once the transfer is under way and
// then waits to be killed.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "download/aria2_download.h"
#include "tests/support/recording_callbacks.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  kx::test::RecordingCallbacks callbacks;
  kx::CAria2Download engine(&callbacks, &callbacks);
  const std::string destination = argv[2];
  engine.Download(argv[1], std::wstring(destination.begin(), destination.end()), 0, "");
  if (!callbacks.awaitKind(kx::test::Report::Progress, std::chrono::seconds(15))) return 1;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream children(task.path() / "children");
    pid_t helper = 0;
    if (children >> helper) {
      std::printf("%d\n", static_cast<int>(helper));
      std::fflush(stdout);
      sleep(60);
    }
  }
  return 1;
}
