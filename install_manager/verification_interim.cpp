// Interim file check until the package verification lands; replaced then.
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "install_manager/install_man.h"

namespace kx {

bool InstallMan::VerifyFileMd5(const std::wstring& path, const std::string& expected) const {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return false;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_md5(), nullptr);
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) EVP_DigestUpdate(context, buffer, in.gcount());
  unsigned char digest[16];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  EVP_MD_CTX_free(context);
  char text[33];
  for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
  if (expected.size() != 32) return false;
  for (int i = 0; i < 32; ++i)
    if (std::tolower(static_cast<unsigned char>(expected[i])) != text[i]) return false;
  return true;
}

void InstallMan::RemoveDownloadedFile(const PackageEntry& entry) const {
  std::filesystem::path file(entry.localPath);
  std::filesystem::remove(file);
  std::filesystem::remove(file.wstring() + L".cfg");
}

}  // namespace kx
