// The robots directives of a page's metas and X-Robots-Tag headers.
#include "crawler/fetch/robots_directives.h"

#include <algorithm>

#include "common/text.h"

namespace theme_search {

namespace {

bool isSeparator(char c) {
  return c == ',' || isAsciiSpace(c);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The directives whose own value follows a colon: the text before it is
// then no user-agent name.
constexpr std::string_view kValuedDirectives[] = {"unavailable_after", "max-snippet",
                                                  "max-image-preview", "max-video-preview"};

// The user-agent name that begins a header value, or empty when the value
// begins with none (see robotsHeaderDirectives).
std::string_view userAgentOf(std::string_view value) {
  const std::size_t colon = value.find(':');
  if (colon == std::string_view::npos) return {};
  const std::string_view name = trimmed(value.substr(0, colon));
  if (name.empty() || std::any_of(name.begin(), name.end(), isSeparator)) return {};
  for (std::string_view directive : kValuedDirectives)
    if (equalsIgnoringCase(name, directive)) return {};
  return name;
}

}  // namespace

RobotsDirectives parseRobotsDirectives(std::string_view list) {
  RobotsDirectives directives;
  std::size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && isSeparator(list[at])) ++at;
    const std::size_t start = at;
    while (at < list.size() && !isSeparator(list[at])) ++at;
    const std::string_view word = list.substr(start, at - start);
    const bool none = equalsIgnoringCase(word, "none");
    directives.noindex = directives.noindex || none || equalsIgnoringCase(word, "noindex");
    directives.nofollow = directives.nofollow || none || equalsIgnoringCase(word, "nofollow");
  }
  return directives;
}

RobotsDirectives robotsHeaderDirectives(std::string_view value, std::string_view productToken) {
  const std::string_view userAgent = userAgentOf(value);
  if (userAgent.empty()) return parseRobotsDirectives(value);
  if (!equalsIgnoringCase(userAgent, productToken)) return {};
  return parseRobotsDirectives(value.substr(value.find(':') + 1));
}

}  // namespace theme_search
