#include "uiengine/access_guard.h"

#include <vector>

#include "platform/random.h"

namespace kx::uiengine {

namespace {

constexpr std::size_t kSecretBytes = 32;

bool equalInConstantTime(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view pathOf(std::string_view target) { return target.substr(0, target.find('?')); }

}  // namespace

std::string randomHex(std::size_t bytes) {
  std::vector<std::uint8_t> raw(bytes);
  platform::secureRandomBytes(raw);
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (const auto byte : raw) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

AccessGuard::AccessGuard(std::uint16_t port)
    : host_("127.0.0.1:" + std::to_string(port)),
      origin_("http://" + host_),
      // Cookies do not tell ports apart: two engines on one browser keep theirs apart by name.
      cookieName_("kx" + std::to_string(port)),
      secret_(randomHex(kSecretBytes)) {}

std::string AccessGuard::sessionCookie() const {
  return cookieName_ + "=" + secret_ + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string AccessGuard::issueStartUrl(const std::string& landing) {
  const std::string token = randomHex(kSecretBytes);
  std::lock_guard guard(lock_);
  startTokens_.emplace(token, landing);
  return origin_ + std::string(kStartPath) + "?token=" + token;
}

std::string AccessGuard::queryToken(std::string_view target) {
  const auto query = target.find('?');
  if (query == std::string_view::npos) return {};
  std::string_view rest = target.substr(query + 1);
  while (!rest.empty()) {
    const auto end = rest.find('&');
    const std::string_view pair = rest.substr(0, end);
    if (pair.starts_with("token=")) return std::string(pair.substr(6));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return {};
}

bool AccessGuard::carriesSecret(std::string_view header) const {
  bool found = false;
  while (!header.empty()) {
    const auto end = header.find(';');
    const std::string_view pair = trim(header.substr(0, end));
    const auto equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == cookieName_)
      found = equalInConstantTime(pair.substr(equals + 1), secret_) || found;
    if (end == std::string_view::npos) break;
    header.remove_prefix(end + 1);
  }
  return found;
}

AccessGuard::Decision AccessGuard::check(const RequestFacts& request) {
  if (request.host != host_) return {};
  if (!request.origin.empty() && request.origin != origin_) return {};
  if (request.upgrade && request.origin.empty()) return {};
  if (!request.fetchSite.empty() && request.fetchSite != "same-origin" && request.fetchSite != "none") return {};
  if (request.method != "GET") return {};
  if (pathOf(request.target) == kStartPath && !request.upgrade) {
    std::lock_guard guard(lock_);
    const auto it = startTokens_.find(queryToken(request.target));
    if (it == startTokens_.end()) return {};
    Decision decision{Verdict::StartSession, std::move(it->second)};
    startTokens_.erase(it);
    return decision;
  }
  return {carriesSecret(request.cookieHeader) ? Verdict::Allow : Verdict::Refuse, {}};
}

}  // namespace kx::uiengine
