// INTERIM until the engines land.
#include "install_manager/install_man.h"
namespace kx {
std::unique_ptr<IDownload> buildEngine(EngineKind, IDownloadCallBack*, IDownloadStateCallBack*) { return nullptr; }
}  // namespace kx
