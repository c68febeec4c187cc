#include "bench/kxbench/engines.h"

#include "download/aria2_download.h"
#include "download/drift_download.h"

namespace kx::bench {

std::unique_ptr<IDownload> makeEngine(const std::string& name, IDownloadCallBack* installCallback,
                                      IDownloadStateCallBack* stateCallback) {
  if (name == "aria2") return std::make_unique<CAria2Download>(installCallback, stateCallback);
  if (name == "library") return std::make_unique<CDriftDownload>(installCallback, stateCallback);
  return nullptr;
}

}  // namespace kx::bench
