#pragma once
// One downloadable item: the platform setup program or an editor package.

#include <cstdint>
#include <string>

namespace kx {

struct PackageEntry {
  std::string fileName;  // last path segment of the download URL
  bool isPackage = false;
  bool isDownloaded = false;
  std::uint64_t size = 0;
  std::wstring localPath;
  std::string url;
  std::string md5;
  std::string bigVersion;
  bool selected = true;
  bool isPlatformInstaller = false;
  bool isAlternate = false;
};

}  // namespace kx
