#include "ui/program_start.h"

#include <cerrno>
#include <cstdio>

#include "platform/path_case.h"
#include "platform/subprocess.h"

namespace kx::ui {

std::wstring launchCommandLine(const std::wstring& exe, const std::wstring& arguments) {
  return L"\"" + exe + L"\" " + arguments;
}

int startProgram(const std::wstring& exe, const std::wstring& arguments) {
  // Installed files may differ in letter case from the names we know them by,
  // which Windows would not notice.
  const std::wstring program = platform::findIgnoringCase(exe).value_or(exe);
  errno = 0;
  const int pid = platform::startDetached(program, launchCommandLine(exe, arguments));
  if (pid != 0)
    std::printf("[          ] Successfully launched child process\n");
  else
    std::printf("CreateProcess failed (%d).\n", errno);
  std::fflush(stdout);
  return pid;
}

}  // namespace kx::ui
