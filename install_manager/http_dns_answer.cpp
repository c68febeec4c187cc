#include "install_manager/http_dns_answer.h"

#include <cctype>
#include <nlohmann/json.hpp>

namespace kx {

namespace {

using nlohmann::json;

bool isIpv4(std::string_view text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t digits = 0;
    unsigned value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++i, ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    if (++parts == 4) return i == text.size();
    if (i >= text.size() || text[i] != '.') return false;
    ++i;
  }
}

// Only the characters of an IPv6 literal: the address is handed to the resolver
// override as it is, so nothing else may pass; a wrong one just fails to connect.
bool isIpv6(std::string_view text) {
  if (text.size() < 2 || text.size() > 45 || text.find(':') == std::string_view::npos) return false;
  for (const char c : text)
    if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.')) return false;
  return true;
}

// A host name or address with an optional port: nothing that could leave the
// authority part of the URL it is put into.
bool isHostAndPort(std::string_view text) {
  if (text.empty() || text.size() > 261) return false;
  for (const char c : text)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']'))
      return false;
  return true;
}

std::optional<std::vector<std::string>> stringList(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_array()) return std::nullopt;
  std::vector<std::string> list;
  for (const auto& item : *it) {
    if (!item.is_string()) return std::nullopt;
    list.push_back(item.get<std::string>());
  }
  return list;
}

}  // namespace

bool isIpLiteral(std::string_view text) { return isIpv4(text) || isIpv6(text); }

std::optional<std::vector<std::string>> parseHttpDnsAnswer(std::string_view text, const std::string& host) {
  const json answer = json::parse(text.begin(), text.end(), nullptr, false);
  if (!answer.is_object()) return std::nullopt;
  const auto domain = answer.find("domain");
  const auto ttl = answer.find("ttl");
  auto addrs = stringList(answer, "addrs");
  if (domain == answer.end() || !domain->is_string() || !addrs || ttl == answer.end() || !ttl->is_number_integer())
    return std::nullopt;
  std::vector<std::string> usable;
  if (domain->get_ref<const std::string&>() != host) return usable;
  for (auto& address : *addrs)
    if (isIpLiteral(address)) usable.push_back(std::move(address));
  return usable;
}

std::optional<std::vector<std::string>> parseHttpDnsServerList(std::string_view text) {
  const json list = json::parse(text.begin(), text.end(), nullptr, false);
  if (!list.is_object()) return std::nullopt;
  auto mainland = stringList(list, "mainland");
  if (!mainland) return std::nullopt;
  std::vector<std::string> usable;
  for (auto& server : *mainland)
    if (isHostAndPort(server)) usable.push_back(std::move(server));
  return usable;
}

}  // namespace kx
