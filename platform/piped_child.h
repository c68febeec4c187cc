#pragma once
// A hidden child process whose standard output and standard error both go to
// one pipe that the installer reads. The child is bound to the installer's
// lifetime: it is killed when the installer ends, even when the installer
// itself is killed, so no helper keeps downloading behind a dead installer.

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace kx::platform {

class PipedChild {
 public:
  PipedChild() = default;
  // Kills a child that is still running and collects it.
  ~PipedChild();
  PipedChild(const PipedChild&) = delete;
  PipedChild& operator=(const PipedChild&) = delete;

  // Starts the program named by the first argument of `commandLine` (split by
  // splitWindowsArguments, platform/child_process.h), with the
  // installer's current folder and environment and no standard input. A bare
  // program name is looked up in the current folder first, then on PATH.
  // False when the program cannot be started.
  bool start(std::wstring_view commandLine);

  // Blocks until output is available and reads at most `capacity` bytes;
  // 0 once the child's end of the pipe is closed (it has exited) or on error.
  std::size_t read(char* buffer, std::size_t capacity);

  // Ends the child at once (as with a kill signal); safe from any thread
  // while another waits in read() or wait().
  void terminate();

  // Waits, without a time limit, for the child to end; its exit code, or 128
  // plus the signal number when a signal ended it; -1 without a child.
  int wait();

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::mutex reapLock_;  // terminate() never signals a process id that wait() has released
  bool reaped_ = true;
  int output_ = -1;
};

}  // namespace kx::platform
