#pragma once
// Starting programs and waiting for them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx::platform {

// Splits a command line as a Windows program's start-up code does: blanks
// separate arguments outside double quotes; 2n backslashes before a quote give
// n and the quote delimits, 2n+1 give n and a literal quote; "" inside quotes
// is a literal quote; other backslashes are literal.
std::vector<std::wstring> splitWindowsArguments(std::wstring_view text);

// Splits an argument text as a Windows program's start-up code does (spaces
// separate, double quotes group, backslashes escape only before quotes), with
// the rule NSIS setup programs follow: everything after " /D=" (or a leading
// "/D=") is the target folder and stays one argument, spaces included.
std::vector<std::wstring> splitArgumentText(const std::wstring& text);

class ChildProcess {
 public:
  // Starts `program` with the arguments of `argumentText`. A downloaded program
  // lacks execute permission here, so it is granted first (to whoever may read
  // the file). Returns nothing when the program cannot be started.
  static std::optional<ChildProcess> start(const std::wstring& program, const std::wstring& argumentText);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ~ChildProcess();

  // Waits up to `milliseconds` for the program to end; true once it has.
  bool wait(std::uint32_t milliseconds);

  // The exit code once wait() has answered true: the program's status, or
  // 128 + the signal number when a signal ended it.
  int exitCode() const { return code; }

 private:
  ChildProcess(int pid, int pidFd) : pid(pid), pidFd(pidFd) {}
  int pid;
  int pidFd;  // -1 when the kernel offers no process descriptors
  bool ended = false;
  int code = 0;
};

}  // namespace kx::platform
