#include "install_manager/default_package_config.h"

#include <nlohmann/json.hpp>

#include "common/build_config.h"

namespace kx {

namespace {

// The editor packages published with this release.
struct PublishedPackage {
  const char* version;
  const char* path;
  const char* md5;
  std::uint64_t size;
};

constexpr PublishedPackage kPublished[] = {
    {"1.0", "/kestrix/editor/1.0/KestrixEditor_1.0.zip", "3f1c9a6e2b7d4058a1e9c0d2b4f6a813", 3221225472ull},
    {"2.0", "/kestrix/editor/2.0/KestrixEditor_2.0.zip", "9b2e4d7a1c6f3805e2d1a9b7c4f0e562", 4294967296ull},
};

}  // namespace

std::string defaultPackageConfig() {
  nlohmann::json document = nlohmann::json::object();
  for (const auto& package : kPublished) {
    document[package.version] = {
        {"big_version", package.version},
        {"game_url", "https://" + hostName(HostRole::DOWNLOAD) + package.path},
        {"game_url_nos", "https://" + hostName(HostRole::C) + package.path},
        {"md5", package.md5},
        {"size", package.size},
    };
  }
  return document.dump();
}

}  // namespace kx
