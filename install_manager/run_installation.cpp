// Interim installation thread: the download phase ends by handing over here,
// and until the installation sequence exists it only completes the bar.
#include "install_manager/install_man.h"

namespace kx {

void InstallMan::runInstallation(std::wstring, std::wstring) {
  if (ITaskCallback* window = windowTaskCallback) {
    window->OnInstallProgress(100);
    window->OnInstallFinished();
  }
}

}  // namespace kx
