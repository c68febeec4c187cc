// Engine selection: the aria2 helper when it ships beside the installer, the
// downloader library for index 1, and the segmented downloader otherwise.
#include <filesystem>
#include <system_error>

#include "install_manager/install_man.h"

namespace kx {

namespace {

constexpr const char* aria2HelperFile = "InstallerHelper.exe";
constexpr const char* driftLibraryFile = "VeloDrift.dll";

// Helper files are looked up in the current directory, which start-up makes
// the program's folder.
bool presentInCurrentDirectory(const char* name) {
  std::error_code error;
  return std::filesystem::exists(name, error);
}

}  // namespace

void InstallMan::createEngine() {
  EngineKind kind = EngineKind::Segmented;
  if (engineIndex == 0 && presentInCurrentDirectory(aria2HelperFile))
    kind = EngineKind::Aria2;
  else if (engineIndex == 1 && presentInCurrentDirectory(driftLibraryFile))
    kind = EngineKind::Library;
  std::unique_ptr<IDownload> previous = std::move(engine);
  engine = engineBuilder(kind, this, this);
  engineKind = kind;
  previous.reset();
}

}  // namespace kx
