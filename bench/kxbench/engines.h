#pragma once
// The aria2 and library engines by name, for benchmark commands that run one
// transfer through either.

#include <memory>
#include <string>

#include "download/interfaces.h"

namespace kx::bench {

// "aria2" or "library"; null for any other name. The aria2 engine needs
// InstallerHelper.exe in the current folder, as in the installer.
std::unique_ptr<IDownload> makeEngine(const std::string& name, IDownloadCallBack* installCallback,
                                      IDownloadStateCallBack* stateCallback);

}  // namespace kx::bench
