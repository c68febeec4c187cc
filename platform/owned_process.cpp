#include "platform/owned_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <thread>

namespace kx::platform {

std::unique_ptr<OwnedProcess> OwnedProcess::start(const std::string& program, const std::vector<std::string>& arguments) {
  // Everything the child needs is prepared before fork: between fork and exec
  // only system calls run, as the parent has other threads.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) return nullptr;
  if (pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    syscall(SYS_close_range, 3U, UINT_MAX, 0U);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(pid, pid);  // also from here, so a kill right after start reaches the group
  return std::unique_ptr<OwnedProcess>(new OwnedProcess(pid));
}

OwnedProcess::~OwnedProcess() { terminate(); }

bool OwnedProcess::running() {
  if (ended_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) ended_ = true;
  return !ended_;
}

void OwnedProcess::terminate(std::chrono::milliseconds grace) {
  // The group outlives its leader while helpers of the program still run.
  kill(-pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(-pid_, SIGKILL);
  if (!ended_) {
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
  }
}

}  // namespace kx::platform
