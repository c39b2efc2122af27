// Base URLs and link normalisation.
#include "crawler/fetch/url_rules.h"

#include <algorithm>

#include "common/text.h"

namespace theme_search {

namespace {

const std::size_t npos = std::string::npos;
const std::size_t kSchemeLength = kHttpPrefix.size();
const std::size_t kMaxLinkLength = 200;

std::string lastSegment(const std::string& text) {
  const std::size_t slash = text.rfind('/');
  return slash == npos ? text : text.substr(slash + 1);
}

void removeLineBreaksAndTabs(std::string& link) {
  link.erase(std::remove_if(link.begin(), link.end(),
                            [](char c) { return c == '\n' || c == '\t' || c == '\r'; }),
             link.end());
}

// A redirector link ("http://a/cgi?u=http://b/x") stands for the last
// absolute URL inside it.
void cutToEmbeddedUrl(std::string& link) {
  if (link.size() < kSchemeLength) return;
  const std::string lower = lowered(link);
  for (std::size_t start = link.size() - kSchemeLength + 1; start-- > 0;) {
    if (lower.compare(start, kHttpPrefix.size(), kHttpPrefix) == 0 ||
        lower.compare(start, kHttpsPrefix.size(), kHttpsPrefix) == 0 ||
        lower.compare(start, 6, "file:/") == 0) {
      link.erase(0, start);
      return;
    }
  }
}

// Trailing spaces and slashes go, except the slash of a final "./" or "../"
// and the link's first character.
void trimEnd(std::string& link) {
  while (link.size() > 1) {
    const char last = link.back();
    if (last != ' ' && last != '/') return;
    if (last == '/' && link[link.size() - 2] == '.') return;
    link.pop_back();
  }
}

// The absolute form of a link stripped of its leading spaces and slashes;
// false when the link is not to be followed.
bool absoluteLink(const std::string& baseUrl, const std::string& link, std::string& absolute) {
  const std::string lower = lowered(link);
  if (startsWith(lower, kHttpPrefix) || startsWith(lower, kHttpsPrefix) ||
      startsWith(lower, "file:/")) {
    absolute = link;
  } else if (startsWith(lower, "www")) {
    absolute = std::string(kHttpPrefix) + link;
  } else if (startsWith(lower, "ftp://") || startsWith(lower, "mailto:") ||
             startsWith(lower, "javascript:")) {
    return false;
  } else if (startsWith(link, ".")) {
    std::optional<std::string> resolved = resolveDotLink(baseUrl, link);
    if (!resolved) return false;
    absolute = std::move(*resolved);
  } else {
    absolute = baseUrl + "/" + link;
  }
  return true;
}

// A URL that names a directory, or has no path at all, ends in '/'.
bool needsDirectorySlash(const std::string& url) {
  const std::size_t slash = url.rfind('/');
  if (slash == npos) return true;
  if (slash > 0 && url[slash - 1] == '/') return true;
  return url.find('.', slash + 1) == npos;
}

// A link written from the server's root ("/x", `proper` being "x") or
// from the scheme ("//host/x"); false when it climbs above the host.
bool serverLink(const std::string& origin, bool networkPath, const std::string& proper,
                std::string& absolute) {
  if (networkPath) {
    absolute = origin.substr(0, origin.find("//")) + "//" + proper;
  } else if (startsWith(proper, ".")) {
    std::optional<std::string> resolved = resolveDotLink(origin, proper);
    if (!resolved) return false;
    absolute = std::move(*resolved);
  } else {
    absolute = origin + "/" + proper;
  }
  return true;
}

// Rewrites one link in place; false when it is to be dropped.
bool normalizeLink(const std::string& baseUrl, std::string& link) {
  removeLineBreaksAndTabs(link);
  cutToEmbeddedUrl(link);
  trimEnd(link);
  if (lastSegment(link).find('#') != npos) return false;
  const std::size_t start = std::min(link.find_first_not_of(' '), link.size());
  const std::string proper = link.substr(std::min(link.find_first_not_of(" /"), link.size()));
  if (proper.size() > kMaxLinkLength) return false;
  const std::string origin = originOf(baseUrl);
  std::string absolute;
  if (start < link.size() && link[start] == '/' && !origin.empty()) {
    const bool networkPath = link.compare(start, 2, "//") == 0;
    if (!serverLink(origin, networkPath, proper, absolute)) return false;
    // The root itself: "/" gives "http://srv/".
    if (!networkPath && proper.empty()) {
      link = canonicalUrl(std::move(absolute));
      return true;
    }
  } else if (!absoluteLink(baseUrl, proper, absolute)) {
    return false;
  }
  if (needsDirectorySlash(absolute)) absolute += '/';
  link = canonicalUrl(std::move(absolute));
  return true;
}

// Length of "http://" or "https://" at the start of the URL, any letter
// case; 0 for any other scheme.
std::size_t webSchemeLength(const std::string& url) {
  const std::string start = lowered(url.substr(0, 8));
  if (startsWith(start, kHttpPrefix)) return kHttpPrefix.size();
  if (startsWith(start, kHttpsPrefix)) return kHttpsPrefix.size();
  return 0;
}

}  // namespace

std::string computeBase(std::string& url) {
  url.erase(0, url.find_first_not_of(' '));
  const std::size_t last = url.rfind('/');
  if (last == npos) return url;
  if (last == 0) return "/";
  std::string text = url;
  if (text[last - 1] == '/') {
    // "//" ending the scheme: the URL has no path and is its own base.
    if (last >= 6) toLower(text);
    const std::string_view scheme = std::string_view(text).substr(0, last + 1);
    if (last == 1 || endsWith(scheme, kHttpPrefix) || endsWith(scheme, kHttpsPrefix))
      return text.substr(0, text.find(' ', last));
  }
  std::size_t runStart = last;
  while (runStart > 0 && text[runStart - 1] == '/') --runStart;
  const std::size_t segmentEnd = std::min(text.find(' ', last + 1), text.size());
  if (segmentEnd == last + 1 && segmentEnd < text.size()) return text.substr(0, runStart);
  // A last segment with a '.' is a file name; without one, a directory.
  if (text.find('.', last + 1) < segmentEnd) return text.substr(0, runStart);
  return text.substr(0, segmentEnd);
}

void normalizeLinks(std::string& baseUrl, std::vector<std::string>& links) {
  while (baseUrl.size() > 1 && (baseUrl.back() == ' ' || baseUrl.back() == '/')) baseUrl.pop_back();
  std::size_t kept = 0;
  for (std::size_t i = 0; i < links.size(); ++i) {
    if (!normalizeLink(baseUrl, links[i])) continue;
    if (i != kept) links[kept] = std::move(links[i]);
    ++kept;
  }
  links.resize(kept);
}

std::optional<std::string> resolveDotLink(const std::string& baseUrl, const std::string& link) {
  std::size_t consumed = 0;
  int levelsUp = 0;
  for (;;) {
    if (link.compare(consumed, 3, "../") == 0) {
      consumed += 3;
      ++levelsUp;
    } else if (link.compare(consumed, 2, "./") == 0) {
      consumed += 2;
    } else {
      break;
    }
  }
  std::size_t end = baseUrl.size();
  while (end > 0 && baseUrl[end - 1] == '/') --end;
  for (; levelsUp > 0; --levelsUp) {
    while (end > 0 && baseUrl[end - 1] != '/') --end;
    while (end > 0 && baseUrl[end - 1] == '/') --end;
  }
  const std::string remaining = baseUrl.substr(0, end);
  const std::string lower = lowered(remaining);
  if (remaining.empty() || lower == "http:" || lower == "file:") return std::nullopt;
  return remaining + "/" + link.substr(consumed);
}

std::string canonicalUrl(std::string url) {
  const std::size_t schemeLength = webSchemeLength(url);
  if (schemeLength == 0) return url;
  const std::size_t hostEnd = std::min(url.find('/', schemeLength), url.size());
  for (std::size_t i = 0; i < hostEnd; ++i)
    if (url[i] >= 'A' && url[i] <= 'Z') url[i] = static_cast<char>(url[i] + 32);
  const std::string defaultPort = schemeLength == 7 ? ":80" : ":443";
  if (hostEnd >= schemeLength + defaultPort.size() &&
      url.compare(hostEnd - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
    url.erase(hostEnd - defaultPort.size(), defaultPort.size());
  return url;
}

std::string originOf(const std::string& url) {
  const std::size_t schemeLength = webSchemeLength(url);
  if (schemeLength == 0) return std::string();
  return url.substr(0, url.find('/', schemeLength));
}

std::string resolveRedirect(const std::string& baseUrl, const std::string& target) {
  if (webSchemeLength(target) != 0) return canonicalUrl(target);
  const std::string origin = originOf(baseUrl);
  if (!origin.empty() && startsWith(target, "//"))
    return canonicalUrl(origin.substr(0, origin.find("//")) + target);
  if (!origin.empty() && startsWith(target, "/")) return canonicalUrl(origin + target);
  if (startsWith(target, "/")) return baseUrl + target;
  return canonicalUrl(baseUrl + "/" + target);
}

}  // namespace theme_search
