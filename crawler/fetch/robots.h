#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// What one host's robots.txt asks of this crawler, read as RFC 9309 says:
// the groups naming the crawler's product token (compared without regard
// to letter case) or, when none does, the groups for "*"; the longest
// matching allow or disallow pattern decides ('*' matches any run of
// characters, a final '$' anchors the end), an allow wins a tie, and
// "/robots.txt" itself is always allowed. Its "Sitemap:" lines, which belong
// to no group, name the site's sitemaps. A plain copyable value.
struct RobotsRules {
  struct Rule {
    bool allow = false;
    std::string pattern;
  };
  std::vector<Rule> rules;
  bool disallowAll = false;
  // The group's "Crawl-delay", when it has a valid one.
  std::optional<std::chrono::milliseconds> crawlDelay;
  // The values of the first kMaxSitemapLines "Sitemap:" lines, in order.
  std::vector<std::string> sitemaps;
  static constexpr std::size_t kMaxSitemapLines = 20;

  // True when the crawler may fetch the path (with its query) of a URL.
  [[nodiscard]] bool allows(const std::string& pathAndQuery) const;
};

// The rules for `productToken` in the text of a robots.txt.
[[nodiscard]] RobotsRules parseRobots(std::string_view text, std::string_view productToken);

// Whether a pattern matches the start of a path (both already in the same
// percent-encoded form); the whole path when the pattern ends in '$'.
[[nodiscard]] bool robotsPatternMatches(std::string_view pattern, std::string_view path);

}  // namespace theme_search
