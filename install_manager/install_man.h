#pragma once
// The install manager: process-wide owner of the endpoint table, the package
// entries, the map fields and the download engine.

#include <cstdint>
#include <ctime>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "install_manager/endpoints.h"
#include "install_manager/http_transfer.h"
#include "install_manager/package_entry.h"

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

  // ---- Fetching documents: HTTP GET with a DNS-over-HTTP fallback (http_get.cpp) ----

  // One GET of at most 15 seconds; the body whatever the status, empty on failure.
  // When that yields nothing and `noFallback` is false, the URL's host is looked
  // up through the DNS-over-HTTP service and the request is made once more,
  // connecting to the address it gave.
  std::string httpGet(const std::string& url, const HttpHeaders& headers, bool noFallback);

  struct ResolvedHost {
    std::string address;  // empty when the service gave none
    std::string host;     // the URL's host name
  };
  // One address of the URL's host from the DNS-over-HTTP service (cached per URL);
  // a malformed answer makes it fetch the service's server list, once per manager.
  ResolvedHost resolveViaHttpDns(const std::string& url);

  // ---- The package configuration (package_config.cpp) ----

  // The platform descriptor's URL (command line first) or a package configuration's.
  std::string getConfigUrl(bool platform, bool alternate);
  // Loads the configuration once, then twice the selected download size (download plus extraction).
  std::uint64_t getTotalSize();
  void loadPlatformDescriptor(const std::string& text);
  void loadPackageConfig(bool alternate);
  // One complete entry for every configuration URL there is.
  bool isConfigValid();
  // Validates, assigns local paths in the folder that holds `installDir` (none
  // when it is empty), probes missing sizes and sums them into `totalBytes`.
  bool checkConfig(const std::wstring& installDir);

  // Alternate package, main package, platform setup, as far as each exists.
  std::vector<PackageEntry> entries;
  std::uint64_t totalBytes = 0;
  std::string platformVersion;
  std::wstring gameEngineVersion;

 private:
  std::vector<EndpointRow> endpointTable;

  // The DNS-over-HTTP state, shared by the UI and worker threads.
  struct HttpDnsState {
    std::mutex lock;
    std::string server;  // the service's address; the build's until the server list replaces it
    std::unordered_map<std::string, std::vector<std::string>> cache;  // URL -> addresses
    bool hdServerFallbackUsed = false;
    std::mt19937 random{static_cast<std::mt19937::result_type>(std::time(nullptr))};
  } httpDns;

  std::string httpDnsServer();
  std::string pickAddress(const std::vector<std::string>& addresses);
  ResolvedHost resolveThroughServerList(const std::string& url);
};

}  // namespace kx
