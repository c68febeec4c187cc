#pragma once
// A started program that this process keeps an eye on and ends with itself.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kx::platform {

class OwnedProcess {
 public:
  // Starts `program` (an absolute path) with `arguments` in a process group
  // of its own, its standard streams on the null device and no other open
  // descriptor of ours. It is sent SIGTERM should this process die first.
  // Null when it cannot be started.
  static std::unique_ptr<OwnedProcess> start(const std::string& program, const std::vector<std::string>& arguments);

  ~OwnedProcess();  // terminate()
  OwnedProcess(const OwnedProcess&) = delete;
  OwnedProcess& operator=(const OwnedProcess&) = delete;

  // False once the program has ended (and then it is reaped).
  bool running();

  // Asks the whole process group to end, waits up to `grace`, then kills it.
  void terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

  int pid() const { return pid_; }

 private:
  explicit OwnedProcess(int pid) : pid_(pid) {}
  int pid_;
  bool ended_ = false;
};

}  // namespace kx::platform
