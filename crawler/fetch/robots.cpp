// robots.txt: groups, rules and the longest-match decision.
#include "crawler/fetch/robots.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/text.h"

namespace theme_search {

namespace {

struct Group {
  std::vector<std::string> agents;  // lower-cased
  std::vector<RobotsRules::Rule> rules;
  std::optional<std::chrono::milliseconds> crawlDelay;
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Bytes outside printable ASCII, and blanks, are compared percent-encoded;
// existing escapes are compared with upper-case hex digits.
std::string encodedForMatching(std::string_view text) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '%' && i + 2 < text.size()) {
      out += '%';
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1])));
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 2])));
      i += 2;
    } else if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0xF];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

// The product token at the start of a user-agent value ("Name/1.0" gives
// "name"), lower-cased.
std::string agentToken(std::string_view value) {
  std::size_t end = 0;
  while (end < value.size() &&
         (isAsciiLetter(value[end]) || value[end] == '_' || value[end] == '-' || value[end] == '*'))
    ++end;
  return lowered(std::string(value.substr(0, end)));
}

std::optional<std::chrono::milliseconds> delayValue(std::string_view value) {
  const std::string text(value);
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !(seconds >= 0)) return std::nullopt;
  return std::chrono::milliseconds(static_cast<long long>(std::min(seconds, 1e6) * 1000));
}

std::vector<Group> readGroups(std::string_view text, std::vector<std::string>& sitemaps) {
  std::vector<Group> groups;
  bool lastWasAgent = false;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    line = line.substr(0, std::min(line.find('#'), line.size()));
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string key = lowered(std::string(trimmed(line.substr(0, colon))));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (key == "sitemap") {
      if (!value.empty() && sitemaps.size() < RobotsRules::kMaxSitemapLines)
        sitemaps.emplace_back(value);
      continue;
    }
    if (key == "user-agent") {
      if (!lastWasAgent) groups.emplace_back();
      groups.back().agents.push_back(agentToken(value));
      lastWasAgent = true;
      continue;
    }
    lastWasAgent = false;
    if (groups.empty()) continue;  // rules before any user-agent line
    if ((key == "allow" || key == "disallow") && !value.empty())
      groups.back().rules.push_back({key == "allow", encodedForMatching(value)});
    else if (key == "crawl-delay" && !groups.back().crawlDelay)
      groups.back().crawlDelay = delayValue(value);
  }
  return groups;
}

bool names(const Group& group, const std::string& agent) {
  return std::find(group.agents.begin(), group.agents.end(), agent) != group.agents.end();
}

}  // namespace

bool robotsPatternMatches(std::string_view pattern, std::string_view path) {
  const bool anchored = !pattern.empty() && pattern.back() == '$';
  if (anchored) pattern.remove_suffix(1);
  // Wildcard matching with backtracking to the last '*'.
  std::size_t p = 0, s = 0, star = std::string_view::npos, resume = 0;
  while (p < pattern.size() || (anchored && s < path.size())) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = s;
    } else if (p < pattern.size() && s < path.size() && pattern[p] == path[s]) {
      ++p;
      ++s;
    } else if (star != std::string_view::npos && resume < path.size()) {
      p = star + 1;
      s = ++resume;
    } else {
      return false;
    }
  }
  return true;
}

bool RobotsRules::allows(const std::string& pathAndQuery) const {
  if (pathAndQuery == "/robots.txt") return true;
  if (disallowAll) return false;
  const std::string path = encodedForMatching(pathAndQuery);
  const Rule* best = nullptr;
  for (const Rule& rule : rules) {
    if (!robotsPatternMatches(rule.pattern, path)) continue;
    if (best == nullptr || rule.pattern.size() > best->pattern.size() ||
        (rule.pattern.size() == best->pattern.size() && rule.allow))
      best = &rule;
  }
  return best == nullptr || best->allow;
}

RobotsRules parseRobots(std::string_view text, std::string_view productToken) {
  RobotsRules result;
  const std::vector<Group> groups = readGroups(text, result.sitemaps);
  const std::string own = lowered(std::string(productToken));
  const bool named = std::any_of(groups.begin(), groups.end(),
                                 [&](const Group& group) { return names(group, own); });
  const std::string wanted = named ? own : "*";
  for (const Group& group : groups) {
    if (!names(group, wanted)) continue;
    result.rules.insert(result.rules.end(), group.rules.begin(), group.rules.end());
    if (!result.crawlDelay) result.crawlDelay = group.crawlDelay;
  }
  return result;
}

}  // namespace theme_search
