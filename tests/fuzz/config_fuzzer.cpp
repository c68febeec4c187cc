// libFuzzer target for the parsers of everything the servers send: the platform
// descriptor, both shapes of the package configuration, and the DNS-over-HTTP
// answer and server list. Besides crashes and memory errors it traps when a
// parser hands back an entry that is not complete, or a value it promised to refuse.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "install_manager/http_dns_answer.h"
#include "install_manager/package_document.h"

namespace {

using namespace kx;

void require(bool condition) {
  if (!condition) __builtin_trap();
}

bool isLowerHexDigest(const std::string& text) {
  if (text.size() != 32) return false;
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos;
}

void checkEntry(DocumentOutcome outcome, const PackageEntry& entry, bool package) {
  if (outcome != DocumentOutcome::Entry) {
    require(entry.url.empty() && entry.fileName.empty() && entry.md5.empty() && entry.size == 0);
    return;
  }
  require(!entry.url.empty() && isPlainName(entry.fileName) && isLowerHexDigest(entry.md5));
  require(entry.size <= kMaxPackageSize);
  require(entry.isPackage == package && entry.isPlatformInstaller == !package);
  if (package) require(isPlainName(entry.bigVersion));
  require(downloadFileName(entry.url) == entry.fileName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const auto descriptor = parsePlatformDescriptor(text);
  checkEntry(descriptor.outcome, descriptor.entry, false);

  for (const std::string wanted : {"", "2.0"}) {
    const auto document = parsePackageConfig(text, wanted);
    checkEntry(document.outcome, document.entry, true);
  }

  if (const auto addresses = parseHttpDnsAnswer(text, "pkg.kx.test"))
    for (const auto& address : *addresses) require(isIpLiteral(address));
  if (const auto servers = parseHttpDnsServerList(text))
    for (const auto& server : *servers) require(!server.empty() && server.find_first_of("/?#@ ") == std::string::npos);

  const double version = leadingDecimal(text);
  require(version >= 0);
  const std::string name = downloadFileName(text);
  require(name.empty() || isPlainName(name));
  return 0;
}
