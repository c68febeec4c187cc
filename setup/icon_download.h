#pragma once
// Fetching the map's icon from the image service.

#include <filesystem>
#include <string>

namespace kx {

// How long an icon download may take as a whole. The icon only decorates a
// shortcut, so a slow image service must not hold up the installation.
inline constexpr long kIconConnectTimeoutSeconds = 5;
inline constexpr long kIconTransferTimeoutSeconds = 60;

// Downloads `url` (http or https, redirects followed, TLS verified) into
// `path`. False when the file cannot be opened, the transfer fails or stalls
// (less than 1 byte a second for the configured low-speed time), or the
// server answers with an error status.
bool downloadIcon(const std::string& url, const std::filesystem::path& path);

}  // namespace kx
