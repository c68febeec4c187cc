// Engine selection: the aria2 helper when it ships beside the installer, the
// downloader library for index 1, and the segmented downloader otherwise.
#include <filesystem>
#include <system_error>

#include "download/aria2_download.h"
#include "download/downloader.h"
#include "download/drift_download.h"
#include "install_manager/install_man.h"

namespace kx {

namespace {

// Helper files are looked up in the current directory, which start-up makes
// the program's folder.
bool presentInCurrentDirectory(const char* name) {
  std::error_code error;
  return std::filesystem::exists(name, error);
}

}  // namespace

std::unique_ptr<IDownload> buildEngine(EngineKind kind, IDownloadCallBack* progress, IDownloadStateCallBack* state) {
  switch (kind) {
    case EngineKind::Aria2:
      return std::make_unique<CAria2Download>(progress, state);
    case EngineKind::Library:
      return std::make_unique<CDriftDownload>(progress, state);
    case EngineKind::Segmented:
      break;
  }
  return std::make_unique<Downloader>(progress, state);
}

void InstallMan::createEngine() {
  EngineKind kind = EngineKind::Segmented;
  if (engineIndex == 0 && presentInCurrentDirectory(kAria2HelperFile))
    kind = EngineKind::Aria2;
  else if (engineIndex == 1 && presentInCurrentDirectory(kDriftLibraryFile))
    kind = EngineKind::Library;
  std::unique_ptr<IDownload> previous = std::move(engine);
  engine = engineBuilder(kind, this, this);
  engineKind = kind;
  previous.reset();
}

}  // namespace kx
