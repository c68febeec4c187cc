#pragma once
// The endpoint table: per flavour, the URLs of the documents the installer reads.

#include <string>
#include <vector>

namespace kx {

struct EndpointRow {
  std::string flavour;
  std::string platformDescriptorUrl;
  std::string packageConfigUrl;
  std::string mapInfoUrl;
  std::string altPackageConfigUrl;
};

// All ten rows in their fixed order, with the build's host names.
std::vector<EndpointRow> buildEndpointTable();

}  // namespace kx
