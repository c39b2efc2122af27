// The configuration's lookups: site scope, accepted types, theme weights.
#include "crawler/config/engine_config.h"

#include "common/text.h"
#include "crawler/fetch/url_rules.h"

namespace theme_search {

namespace {

// "http://", assumed without looking.
const std::size_t kSchemeLength = kHttpPrefix.size();

// The URL without its scheme: "https://" when it starts with that (so the
// http:// and https:// URLs of a host are one site), otherwise its first
// seven characters; empty for a shorter URL.
std::string afterScheme(const std::string& url) {
  if (startsWith(url, kHttpsPrefix)) return url.substr(kHttpsPrefix.size());
  return url.size() < kSchemeLength ? std::string() : url.substr(kSchemeLength);
}

std::string hostOf(const std::string& rest) {
  return rest.substr(0, rest.find('/'));
}

std::string pathOf(const std::string& rest) {
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos || slash + 1 == rest.size()) return std::string();
  return rest.substr(slash + 1);
}

// A configured site shorter than the scheme is padded so that none of its
// own characters is dropped with the scheme; an http(s) site is put in the
// canonical form its URLs are compared in.
std::string padded(const std::string& siteUrl) {
  return siteUrl.size() < kSchemeLength ? "XXXXXXX" + siteUrl : canonicalUrl(siteUrl);
}

// siteHost matches the host's tail, starting at a label boundary.
bool hostMatches(const std::string& siteHost, const std::string& host) {
  std::size_t site = siteHost.size();
  std::size_t own = host.size();
  while (site > 0 && own > 0 && siteHost[site - 1] == host[own - 1]) {
    --site;
    --own;
  }
  return site == 0 && (own == 0 || host[own - 1] == '.' || host[own - 1] == '/');
}

// sitePath is the whole path, or a directory ("docs/") the path lies in.
bool pathMatches(const std::string& sitePath, const std::string& path) {
  if (path.compare(0, sitePath.size(), sitePath) != 0) return false;
  return path.size() == sitePath.size() || sitePath.back() == '/';
}

}  // namespace

std::string hostPart(const std::string& siteUrl) {
  return hostOf(afterScheme(padded(siteUrl)));
}

std::string pathPart(const std::string& siteUrl) {
  return pathOf(afterScheme(padded(siteUrl)));
}

bool EngineConfig::inScope(const std::string& url) const {
  // A URL shorter than the scheme has neither host nor path.
  const std::string rest = afterScheme(url);
  if (!siteHost.empty() && !hostMatches(siteHost, hostOf(rest))) return false;
  return sitePath.empty() || pathMatches(sitePath, pathOf(rest));
}

bool EngineConfig::isAcceptedType(const std::string& type) const {
  const std::string wanted = lowered(type);
  for (const std::string& accepted : acceptedTypes)
    if (lowered(accepted) == wanted) return true;
  return false;
}

std::uint32_t EngineConfig::themeWeight(const std::string& word) const {
  auto found = themeWords.find(word);
  return found == themeWords.end() ? 0 : found->second;
}

}  // namespace theme_search
