#pragma once
// The install manager: process-wide owner of the endpoint table, the package
// entries, the map fields and the download engine.

#include <string>
#include <vector>

#include "install_manager/endpoints.h"

namespace kx {

class InstallMan {
 public:
  // The process-wide instance, created on first use.
  static InstallMan& instance();

  InstallMan() = default;
  InstallMan(const InstallMan&) = delete;
  InstallMan& operator=(const InstallMan&) = delete;

  // The first row whose flavour equals `key` byte for byte, or a row of empty strings.
  EndpointRow getEndpointRow(const std::string& key);

  // Runs the first-call parse of the command line: stores the options, derives
  // the map keys from --setup, takes --channel, and in flavour qv sends the
  // launch event. Later calls, on any instance, do nothing.
  void parseCommandLineOnce(const std::vector<std::wstring>& args);

  // Derives the map keys from the file name of the setup program the user downloaded.
  void setSetupPath(const std::wstring& path);

  // Assigned the product string before every endpoint lookup.
  std::string flavourKey;

  // Map keys from the setup program's file name.
  std::wstring mapId;
  std::wstring mapDisplayName;

 private:
  std::vector<EndpointRow> endpointTable;
};

}  // namespace kx
