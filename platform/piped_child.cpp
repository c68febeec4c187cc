#include "platform/piped_child.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/child_process.h"
#include "platform/codepage.h"

namespace kx::platform {

namespace {

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Where the program of a command line lives: a path is taken as given; a bare
// name is searched in the current folder first (as Windows does), then on PATH.
std::string resolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  if (isExecutableFile(name)) return "./" + name;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/bin:/bin";
  while (!dirs.empty()) {
    const std::size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    const std::string candidate = (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
    if (isExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return {};
}

void closeQuietly(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

bool PipedChild::start(std::wstring_view commandLine) {
  if (pid_ > 0) return false;
  std::vector<std::string> args;
  for (const auto& argument : splitWindowsArguments(commandLine)) args.push_back(wideToFileSystem(argument));
  if (args.empty()) return false;
  const std::string program = resolveProgram(args[0]);
  if (program.empty()) return false;
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // Everything the child needs is prepared before fork: between fork and exec
  // a multi-threaded parent's child may only make async-signal-safe calls.
  int output[2], status[2];
  if (pipe2(output, O_CLOEXEC) != 0) return false;
  if (pipe2(status, O_CLOEXEC) != 0) {
    close(output[0]);
    close(output[1]);
    return false;
  }
  int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    // The death signal follows the thread that forked; the engine's worker
    // outlives the child, and a killed installer takes every thread with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the installer died before the line above
    setsid();  // no controlling terminal: the child has no console of its own
    if (nothing >= 0) dup2(nothing, 0); else close(0);
    dup2(output[1], 1);
    dup2(output[1], 2);
    execv(program.c_str(), argv.data());
    const int error = errno;
    [[maybe_unused]] ssize_t ignored = ::write(status[1], &error, sizeof error);
    _exit(127);
  }
  if (nothing >= 0) close(nothing);
  close(output[1]);
  close(status[1]);
  if (child < 0) {
    close(output[0]);
    close(status[0]);
    return false;
  }
  // The status pipe closes without data when exec succeeds.
  int error = 0;
  ssize_t n;
  do n = ::read(status[0], &error, sizeof error);
  while (n < 0 && errno == EINTR);
  close(status[0]);
  pid_ = child;
  reaped_ = false;
  output_ = output[0];
  if (n > 0) {
    wait();
    closeQuietly(output_);
    pid_ = -1;
    return false;
  }
  return true;
}

std::size_t PipedChild::read(char* buffer, std::size_t capacity) {
  if (output_ < 0) return 0;
  ssize_t n;
  do n = ::read(output_, buffer, capacity);
  while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void PipedChild::terminate() {
  // Until wait() has collected it the process id cannot be reused, so the
  // signal reaches this child and no other.
  std::lock_guard<std::mutex> lock(reapLock_);
  if (pid_ > 0 && !reaped_) kill(pid_, SIGKILL);
}

int PipedChild::wait() {
  if (pid_ <= 0) return -1;
  // Wait for the end without collecting it, then collect it under the lock
  // that terminate() takes.
  siginfo_t info {};
  int r;
  do r = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
  while (r < 0 && errno == EINTR);
  std::lock_guard<std::mutex> lock(reapLock_);
  if (reaped_) return -1;
  int status = 0;
  pid_t collected;
  do collected = waitpid(pid_, &status, 0);
  while (collected < 0 && errno == EINTR);
  reaped_ = true;
  if (collected < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

PipedChild::~PipedChild() {
  if (pid_ > 0 && !reaped_) {
    terminate();
    wait();
  }
  closeQuietly(output_);
}

}  // namespace kx::platform
