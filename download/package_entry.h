#pragma once
// One downloadable item: the platform setup program or an editor package.

#include <cstdint>
#include <string>

namespace kx {

struct PackageEntry {
  std::string fileName;  // last segment of the download URL's path
  bool isPackage = false;  // editor packages are extracted; the platform setup is run
  bool isDownloaded = false;  // downloaded and verified; counts as fully done in progress sums
  std::uint64_t size = 0;
  std::wstring localPath;
  std::string url;
  std::string md5;  // lower-case hex
  std::string bigVersion;  // package generation ("1.0", "2.0"); names the installation folder
  bool selected = true;  // takes part in download, size sums and installation
  bool isPlatformInstaller = false;
  bool isAlternate = false;
};

}  // namespace kx
