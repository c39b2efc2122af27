// Any bytes as a page URL and its links (separated by line feeds): base
// computation and link normalisation must end, and every link they keep is
// absolute or the refused dot-link rule held.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/url_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t end; (end = input.find('\n', start)) != std::string::npos; start = end + 1)
    pieces.push_back(input.substr(start, end - start));
  pieces.push_back(input.substr(start));

  std::string url = pieces.front();
  std::string base = theme_search::computeBase(url);
  std::vector<std::string> links(pieces.begin() + 1, pieces.end());
  theme_search::normalizeLinks(base, links);
  if (links.size() > pieces.size()) __builtin_trap();
  for (const std::string& link : links) static_cast<void>(theme_search::resolveDotLink(base, link));

  theme_search::EngineConfig config;
  config.siteHost = theme_search::hostPart(pieces.front());
  config.sitePath = theme_search::pathPart(pieces.front());
  for (const std::string& link : links) static_cast<void>(config.inScope(link));
  return 0;
}
