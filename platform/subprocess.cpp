#include "platform/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>
#include <utility>

#include "platform/codepage.h"

namespace kx::platform {

namespace {

// Windows argument rules for one stretch of text.
void splitWindowsStyle(std::wstring_view text, std::vector<std::wstring>& out) {
  std::wstring current;
  bool inArgument = false;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\\') {
      std::size_t backslashes = 0;
      while (i < text.size() && text[i] == L'\\') ++backslashes, ++i;
      if (i < text.size() && text[i] == L'"') {
        current.append(backslashes / 2, L'\\');
        if (backslashes % 2 == 1) {
          current += L'"';
        } else {
          quoted = !quoted;
        }
      } else {
        current.append(backslashes, L'\\');
        --i;
      }
      inArgument = true;
    } else if (c == L'"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
        current += L'"';
        ++i;
      } else {
        quoted = !quoted;
      }
      inArgument = true;
    } else if ((c == L' ' || c == L'\t') && !quoted) {
      if (inArgument) out.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) out.push_back(current);
}

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  Descriptor() = default;
  // Kept above the standard streams, so that setting up the child's streams
  // never overwrites it, even when the installer runs with one of them closed.
  explicit Descriptor(int fd) : fd_(fd) {
    if (fd_ >= 0 && fd_ <= 2) {
      const int lifted = ::fcntl(fd_, F_DUPFD_CLOEXEC, 3);
      ::close(fd_);
      fd_ = lifted;
    }
  }
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&& other) noexcept {
    reset();
    fd_ = other.release();
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

bool makePipe(Descriptor& readEnd, Descriptor& writeEnd) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  readEnd = Descriptor(ends[0]);
  writeEnd = Descriptor(ends[1]);
  return readEnd.get() >= 0 && writeEnd.get() >= 0;
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Where a program lives: a path is taken as given; a bare name is searched in
// the current folder first (as Windows does), then on PATH.
std::string resolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  if (isExecutableFile(name)) return "./" + name;
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "/usr/bin:/bin";
  while (!folders.empty()) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
    if (isExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return {};
}

void grantExecutePermission(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const mode_t readable = info.st_mode & 0444;
  const mode_t wanted = info.st_mode | (readable >> 2);
  if (wanted != info.st_mode) ::chmod(path.c_str(), wanted & 07777);
}

std::vector<std::string> argumentVector(const std::string& program, const Arguments& arguments) {
  std::vector<std::string> argv;
  if (const auto* list = std::get_if<ArgumentList>(&arguments)) {
    argv.push_back(program);
    argv.insert(argv.end(), list->begin(), list->end());
    return argv;
  }
  std::vector<std::wstring> wide;
  if (const auto* line = std::get_if<CommandLine>(&arguments)) {
    wide = splitWindowsArguments(line->text);  // names the program itself
  } else {
    argv.push_back(program);
    wide = splitArgumentText(std::get<ParameterText>(arguments).text);
  }
  for (const auto& argument : wide) argv.push_back(wideToFileSystem(argument));
  if (argv.empty()) argv.push_back(program);
  return argv;
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int openProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  return fd < 0 ? -1 : static_cast<int>(fd);
#else
  (void)pid;
  return -1;
#endif
}

void collectExited(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// What the child side reports through the status pipe, which closes without
// data once exec has succeeded. Each message is one write below PIPE_BUF, so
// the messages of a detached start's two processes never mix.
struct StatusMessage {
  enum Kind : int { Started, Failed } kind;
  int value;  // Started: the detached program's process id; Failed: errno
};

void sendStatus(int fd, StatusMessage::Kind kind, int value) {
  const StatusMessage message{kind, value};
  [[maybe_unused]] const ssize_t ignored = ::write(fd, &message, sizeof message);
}

struct StatusReport {
  bool failed = false;
  int error = 0;
  pid_t started = 0;
};

StatusReport readStatus(int fd) {
  StatusReport report;
  StatusMessage message{};
  std::size_t got = 0;
  for (;;) {
    const ssize_t n = ::read(fd, reinterpret_cast<char*>(&message) + got, sizeof message - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
    if (got < sizeof message) continue;
    got = 0;
    if (message.kind == StatusMessage::Started) report.started = message.value;
    else report.failed = true, report.error = message.value;
  }
  return report;
}

// Everything the child side needs, prepared before fork: between fork and
// exec a multi-threaded parent's child may only make async-signal-safe calls.
struct ChildPlan {
  const char* path;
  char* const* argv;
  Subprocess::Output output;
  int nullDevice;
  int outputPipe;
  int status;
  bool newSession;
  int deathSignal;  // 0: none
  pid_t parent;
};

[[noreturn]] void becomeProgram(const ChildPlan& plan) {
  if (plan.newSession) ::setsid();
  if (plan.deathSignal != 0) {
    // The death signal follows the thread that forked; a killed installer
    // takes every thread with it.
    ::prctl(PR_SET_PDEATHSIG, plan.deathSignal);
    if (::getppid() != plan.parent) ::_exit(127);  // the installer died before the line above
  }
  if (plan.output != Subprocess::Output::Inherit) {
    ::dup2(plan.nullDevice, 0);
    const int out = plan.output == Subprocess::Output::Pipe ? plan.outputPipe : plan.nullDevice;
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
  // No descriptor of the installer's stays open in the program; the status
  // pipe closes with the exec that succeeds.
  ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  ::execv(plan.path, plan.argv);
  sendStatus(plan.status, StatusMessage::Failed, errno);
  ::_exit(127);
}

}  // namespace

std::vector<std::wstring> splitWindowsArguments(std::wstring_view text) {
  std::vector<std::wstring> arguments;
  splitWindowsStyle(text, arguments);
  return arguments;
}

std::vector<std::wstring> splitArgumentText(const std::wstring& text) {
  std::vector<std::wstring> arguments;
  std::size_t folderSwitch = std::wstring::npos;
  if (text.starts_with(L"/D="))
    folderSwitch = 0;
  else if (const auto at = text.find(L" /D="); at != std::wstring::npos)
    folderSwitch = at + 1;
  splitWindowsStyle(std::wstring_view(text).substr(0, folderSwitch == std::wstring::npos ? text.size() : folderSwitch),
                    arguments);
  if (folderSwitch != std::wstring::npos) arguments.push_back(text.substr(folderSwitch));
  return arguments;
}

std::unique_ptr<Subprocess> Subprocess::start(const std::wstring& program, const Arguments& arguments,
                                              const Options& options) {
  const bool detached = options.lifetime == Lifetime::Detached;
  if (program.empty() || (detached && options.output == Output::Pipe)) return nullptr;
  const std::string path = resolveProgram(wideToFileSystem(program));
  if (path.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  if (options.makeExecutable) grantExecutePermission(path);
  std::vector<std::string> args = argumentVector(path, arguments);
  std::vector<char*> argv;
  for (auto& argument : args) argv.push_back(argument.data());
  argv.push_back(nullptr);

  Descriptor statusRead, statusWrite, outputRead, outputWrite, nullDevice;
  if (!makePipe(statusRead, statusWrite)) return nullptr;
  if (options.output == Output::Pipe && !makePipe(outputRead, outputWrite)) return nullptr;
  if (options.output != Output::Inherit) {
    nullDevice = Descriptor(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (nullDevice.get() < 0) return nullptr;
  }
  int deathSignal = 0;
  if (options.lifetime == Lifetime::EndsWithInstaller) deathSignal = options.askedToEnd ? SIGTERM : SIGKILL;
  const ChildPlan plan{.path = path.c_str(),
                       .argv = argv.data(),
                       .output = options.output,
                       .nullDevice = nullDevice.get(),
                       .outputPipe = outputWrite.get(),
                       .status = statusWrite.get(),
                       .newSession = detached || options.ownProcessGroup,
                       .deathSignal = deathSignal,
                       .parent = ::getpid()};

  const pid_t child = ::fork();
  if (child == 0) {
    if (!detached) becomeProgram(plan);
    // The intermediate process of a detached start: the program becomes its
    // child and is handed to init when it leaves, so that the installer never
    // has to collect it. _Fork, unlike fork, may be called here.
    const pid_t program = ::_Fork();
    if (program == 0) becomeProgram(plan);
    if (program < 0) sendStatus(plan.status, StatusMessage::Failed, errno);
    else sendStatus(plan.status, StatusMessage::Started, program);
    ::_exit(0);
  }
  statusWrite.reset();
  outputWrite.reset();
  nullDevice.reset();
  if (child < 0) return nullptr;
  const StatusReport report = readStatus(statusRead.get());
  if (detached || report.failed) collectExited(child);
  if (report.failed || (detached && report.started <= 0)) {
    errno = report.failed ? report.error : ECHILD;
    return nullptr;
  }

  std::unique_ptr<Subprocess> process(new Subprocess(detached ? report.started : child, options, outputRead.release()));
  if (!detached) process->pidFd_ = openProcessDescriptor(child);
  return process;
}

Subprocess::Subprocess(int pid, const Options& options, int output)
    : pid_(pid),
      lifetime_(options.lifetime),
      ownGroup_(options.ownProcessGroup),
      output_(output),
      reaped_(options.lifetime == Lifetime::Detached) {}

Subprocess::~Subprocess() {
  if (lifetime_ == Lifetime::EndsWithInstaller) {
    kill();
    wait();
  }
  if (output_ >= 0) ::close(output_);
  if (pidFd_ >= 0) ::close(pidFd_);
}

std::size_t Subprocess::read(char* buffer, std::size_t capacity) {
  if (output_ < 0) return 0;
  ssize_t n;
  do n = ::read(output_, buffer, capacity);
  while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool Subprocess::wait(std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const bool forever = limit == std::chrono::milliseconds::max();
  const auto deadline = forever ? Clock::time_point::max() : Clock::now() + limit;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(reapLock_);
      if (reaped_) return true;
      int status = 0;
      pid_t done;
      do done = ::waitpid(pid_, &status, WNOHANG);
      while (done < 0 && errno == EINTR);
      if (done != 0) {  // ended, or collected elsewhere: nothing left to wait for
        reaped_ = true;
        if (done == pid_) code_ = exitCodeOf(status);
        return true;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (!forever && left.count() <= 0) return false;
    if (pidFd_ >= 0) {
      pollfd descriptor{pidFd_, POLLIN, 0};
      ::poll(&descriptor, 1, forever ? -1 : static_cast<int>(std::min<long long>(left.count(), 60'000)));
    } else {
      std::this_thread::sleep_for(forever ? std::chrono::milliseconds(10) : std::min(left, std::chrono::milliseconds(10)));
    }
  }
}

int Subprocess::wait() {
  wait(std::chrono::milliseconds::max());
  return code_;
}

void Subprocess::signal(int number) {
  // Until wait() has collected it the process id cannot be reused, so the
  // signal reaches this program and no other.
  std::lock_guard<std::mutex> lock(reapLock_);
  if (!reaped_) ::kill(ownGroup_ ? -pid_ : pid_, number);
}

void Subprocess::kill() { signal(SIGKILL); }

void Subprocess::terminate(std::chrono::milliseconds grace) {
  signal(SIGTERM);
  wait(grace);
  signal(SIGKILL);
  wait();
  // The group outlives its leader while helpers of the program still run.
  if (ownGroup_ && lifetime_ != Lifetime::Detached) ::kill(-pid_, SIGKILL);
}

int startDetached(const std::wstring& executable, const std::wstring& commandLine) {
  const auto program = Subprocess::start(executable, CommandLine{commandLine},
                                         {.output = Subprocess::Output::Discard, .lifetime = Subprocess::Lifetime::Detached});
  return program ? program->pid() : 0;
}

}  // namespace kx::platform
