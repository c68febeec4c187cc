#pragma once
// Starting programs: the one way the installer starts another program, be it
// the platform setup it waits for, the download helper whose output it reads,
// the browser that shows its window or the installed product it hands over to.

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kx::platform {

// Splits a command line as a Windows program's start-up code does: blanks
// separate arguments outside double quotes; 2n backslashes before a quote give
// n and the quote delimits, 2n+1 give n and a literal quote; "" inside quotes
// is a literal quote; other backslashes are literal.
std::vector<std::wstring> splitWindowsArguments(std::wstring_view text);

// Splits a setup program's parameter text by the rules above, with the rule
// NSIS setup programs follow: everything after " /D=" (or a leading "/D=")
// is the target folder and stays one argument, spaces included.
std::vector<std::wstring> splitArgumentText(const std::wstring& text);

// How the arguments are given.
// A whole command line, the program's own name first, split by
// splitWindowsArguments: what a Windows program receives as its command line.
struct CommandLine {
  std::wstring text;
};
// The parameters after the program's name, split by splitArgumentText: what a
// setup program is handed.
struct ParameterText {
  std::wstring text;
};
// The arguments after the program's name, one string each (in the file-system
// encoding), passed as they are.
using ArgumentList = std::vector<std::string>;
using Arguments = std::variant<CommandLine, ParameterText, ArgumentList>;

class Subprocess {
 public:
  enum class Output {
    Inherit,  // the installer's own standard streams
    Pipe,     // standard output and error into one pipe that read() drains; no input
    Discard,  // every standard stream on the null device
  };

  enum class Lifetime {
    // A child that is waited for, and that keeps running should the installer
    // end first: a setup interrupted halfway would leave a broken installation.
    OutlivesInstaller,
    // A child that ends when the installer ends, however it ends (even when it
    // is killed), and when this object is destroyed.
    EndsWithInstaller,
    // Not a child at all: a session of its own, no tie to the installer's end
    // or its streams, never waited for and never left behind as a zombie.
    // wait() answers at once and kill() does nothing.
    Detached,
  };

  struct Options {
    Output output = Output::Inherit;
    Lifetime lifetime = Lifetime::OutlivesInstaller;
    // With EndsWithInstaller: the installer's end asks the program to end, so
    // that it can take its own helpers with it, rather than killing it.
    bool askedToEnd = false;
    // A session and process group of its own, without a controlling terminal:
    // kill() and terminate() then reach every helper the program started.
    bool ownProcessGroup = false;
    // A downloaded program lacks execute permission here; it is granted first
    // to whoever may read the file.
    bool makeExecutable = false;
  };

  // Starts `program` with `arguments`, in the installer's current folder and
  // environment and with no other descriptor of the installer's open. A
  // program name without a folder is looked up in the current folder first
  // (as Windows does), then on PATH. Null when the program cannot be started
  // (it is missing, cannot be executed, or Pipe was asked for a detached
  // program), with errno saying why; a program that cannot be executed never runs.
  static std::unique_ptr<Subprocess> start(const std::wstring& program, const Arguments& arguments,
                                           const Options& options);

  // A program that ends with the installer is killed and collected.
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  int pid() const { return pid_; }

  // Output::Pipe: blocks until output is available and reads at most
  // `capacity` bytes; 0 once the program's end of the pipe is closed (it has
  // ended), on error, or without a pipe.
  std::size_t read(char* buffer, std::size_t capacity);

  // Waits up to `limit` for the program to end; true once it has (it is then
  // collected and exitCode() holds its code). One thread waits at a time.
  bool wait(std::chrono::milliseconds limit);
  // Waits without a limit; the exit code.
  int wait();
  // False once the program has ended.
  bool running() { return !wait(std::chrono::milliseconds(0)); }

  // The program's exit status, or 128 plus the signal number when a signal
  // ended it; -1 before it has ended, when it was collected elsewhere, or for
  // a detached program.
  int exitCode() const { return code_; }

  // Ends the program (its group, with ownProcessGroup) at once, without
  // waiting; safe from any thread while another waits in read() or wait().
  void kill();
  // Asks the program (its group, with ownProcessGroup) to end, waits up to
  // `grace`, then kills it and waits for it.
  void terminate(std::chrono::milliseconds grace);

 private:
  Subprocess(int pid, const Options& options, int output);
  void signal(int number);

  const int pid_;
  const Lifetime lifetime_;
  const bool ownGroup_;
  int output_;      // read end of the pipe, or -1
  int pidFd_ = -1;  // process descriptor to wait on; -1 when the kernel offers none
  std::mutex reapLock_;  // kill() never signals a process id that wait() has released
  bool reaped_;  // collected by wait(), or never ours to collect (detached)
  int code_ = -1;
};

// Starts `executable` detached with the whole `commandLine` (the program's
// own name first, as a Windows program receives it; split by
// splitWindowsArguments) and every standard stream on the null device. The
// program's process id, or 0 when it cannot be started.
int startDetached(const std::wstring& executable, const std::wstring& commandLine);

}  // namespace kx::platform
