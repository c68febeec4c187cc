#include "install_manager/install_man.h"

#include "flavour/flavour.h"

namespace kx {

InstallMan& InstallMan::instance() {
  static InstallMan manager;
  return manager;
}

InstallMan::InstallMan(EngineBuilder builder) : autoRun(!isKestrix), engineBuilder(std::move(builder)) {
  createEngine();
}

InstallMan::~InstallMan() {
  if (workerThread.joinable()) {
    cancelAndWake();
    workerThread.join();
  }
}

EndpointRow InstallMan::getEndpointRow(const std::string& key) {
  // Built once: the first lookup happens on the UI thread before any worker
  // starts, and every later access only reads.
  if (endpointTable.empty()) endpointTable = buildEndpointTable();
  for (const auto& row : endpointTable)
    if (row.flavour == key) return row;
  return {};
}

}  // namespace kx
