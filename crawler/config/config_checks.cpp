#include "crawler/config/config_checks.h"

#include <cctype>
#include <cstdint>

#include "common/text.h"
#include "crawler/config/engine_config.h"
#include "crawler/fetch/url_rules.h"

namespace theme_search {

bool isWholeNumberLine(const std::string& line) {
  std::size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos) return false;
  if (line[at] == '+' || line[at] == '-') ++at;
  const std::size_t digits = at;
  std::int64_t value = 0;
  for (; at < line.size() && std::isdigit(static_cast<unsigned char>(line[at])); ++at) {
    value = value * 10 + (line[at] - '0');
    if (value > INT32_MAX) return false;
  }
  return at != digits && (at == line.size() || isAsciiSpace(line[at]));
}

std::optional<std::string> siteLineProblem(const std::string& line) {
  const std::size_t closing =
      line.empty() || line[0] != '"' ? std::string::npos : line.find('"', 1);
  if (closing == std::string::npos)
    return std::string("the site between double quotes, such as \"http://srv.lan/docs/\"");
  const std::string site = line.substr(1, closing - 1);
  if (site.empty()) return std::nullopt;
  const std::string scheme = lowered(site.substr(0, kHttpsPrefix.size()));
  if (!startsWith(scheme, kHttpPrefix) && !startsWith(scheme, kHttpsPrefix))
    return std::string("the site to begin with http:// or https://");
  if (hostPart(site).empty()) return std::string("a host after the site's http:// or https://");
  return std::nullopt;
}

std::string configMistake(const std::string& fileName, unsigned line, const std::string& problem) {
  const std::string where = line == 0 ? "" : ", line " + std::to_string(line);
  return "configuration file " + fileName + where + ": " + problem + "\n";
}

std::string unexpectedLine(const std::string& expected, const std::string& line) {
  const bool blank = line.find_first_not_of(" \t\r") == std::string::npos;
  return "expected " + expected + (blank ? "; found an empty line" : "; found: " + line);
}

std::string noThemeWordMessage(const std::string& fileName) {
  return "theme word file " + fileName +
         ": holds no theme word; expected pairs of a word and its weight, such as \"abeille 2\"\n";
}

}  // namespace theme_search
