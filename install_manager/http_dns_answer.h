#pragma once
// Reading the DNS-over-HTTP service's answers. Pure functions of the text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The answer {domain, addrs, ttl} to a query for `host`. Nothing when the text
// is not such an answer (the caller then turns to the server list). The list
// holds only the addresses that are IP literals, and is empty when the answer
// is for another domain (compared byte for byte).
std::optional<std::vector<std::string>> parseHttpDnsAnswer(std::string_view text, const std::string& host);

// The "mainland" addresses of the server list {mainland, oversea}, keeping only
// entries that are a bare host or address with an optional port. Nothing when
// the text is not such a list.
std::optional<std::vector<std::string>> parseHttpDnsServerList(std::string_view text);

// An IPv4 dotted quad or an IPv6 literal (without brackets).
bool isIpLiteral(std::string_view text);

}  // namespace kx
