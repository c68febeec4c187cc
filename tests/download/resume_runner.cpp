// Test support program: downloads URL into DEST (SIZE bytes) with the segmented
// downloader, resuming after every interruption, and exits 0 once the file is
// complete. The crash test kills it at random moments and starts it again.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "download/downloader.h"
#include "tests/support/recording_callbacks.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: resume_runner URL DEST SIZE\n");
    return 2;
  }
  const std::string dest = argv[2];
  kx::test::RecordingCallbacks calls;
  kx::Downloader downloader(&calls, &calls);
  calls.onReport = [&downloader](const kx::test::Report& report) {
    if (report.kind == kx::test::Report::Interrupted) downloader.Resume(true);
  };
  downloader.Download(argv[1], std::wstring(dest.begin(), dest.end()), std::strtoull(argv[3], nullptr, 10), "");
  return calls.awaitKind(kx::test::Report::Finished, std::chrono::seconds(60)) ? 0 : 1;
}
