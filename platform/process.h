#pragma once
// The process's own facts: its argument list and where its executable lives.

#include <string>
#include <vector>

namespace kx::platform {

// The process arguments as wide strings, element 0 the program as started.
// Built once on first use and kept for the life of the process; empty when
// the command line cannot be read.
const std::vector<std::wstring>& processArguments();

// Absolute path of the running executable; empty when unknown.
std::wstring executablePath();

// The ids the system gives this process and the calling thread.
unsigned currentProcessId();
unsigned currentThreadId();

}  // namespace kx::platform
