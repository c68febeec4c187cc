#include "platform/child_process.h"

#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/codepage.h"

extern char** environ;

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

void grantExecutePermission(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const mode_t readable = info.st_mode & 0444;
  const mode_t wanted = info.st_mode | (readable >> 2);
  if (wanted != info.st_mode) ::chmod(path.c_str(), wanted & 07777);
}

int openProcessDescriptor(int pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  return fd < 0 ? -1 : static_cast<int>(fd);
#else
  (void)pid;
  return -1;
#endif
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

std::optional<ChildProcess> ChildProcess::start(const std::wstring& program, const std::wstring& argumentText) {
  if (program.empty()) return std::nullopt;
  const std::string path = wideToFileSystem(program);
  grantExecutePermission(path);

  std::vector<std::string> arguments{path};
  for (const auto& argument : splitArgumentText(argumentText)) arguments.push_back(wideToFileSystem(argument));
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return std::nullopt;
  return ChildProcess(pid, openProcessDescriptor(pid));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid(other.pid), pidFd(other.pidFd), ended(other.ended), code(other.code) {
  other.pid = -1;
  other.pidFd = -1;
}

ChildProcess::~ChildProcess() {
  if (pidFd >= 0) ::close(pidFd);
}

bool ChildProcess::wait(std::uint32_t milliseconds) {
  if (ended || pid < 0) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      ended = true;
      code = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 0;
      return true;
    }
    if (done < 0 && errno != EINTR) {  // reaped elsewhere: nothing left to wait for
      ended = true;
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (pidFd >= 0) {
      pollfd descriptor{pidFd, POLLIN, 0};
      ::poll(&descriptor, 1, static_cast<int>(left.count()));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
}

}  // namespace kx::platform
