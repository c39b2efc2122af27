// Any bytes as a sitemap's document, gzipped or not: the reading must end
// without fault within its bounds, a refused sitemap gives no entry, and
// every entry has a location of bounded length. The same bytes as a
// lastmod must give a time or nothing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crawler/sitemap/sitemap_reader.h"
#include "crawler/sitemap/w3c_datetime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  const theme_search::SitemapReading reading = theme_search::readSitemap(document);
  if (reading.refusal && !reading.entries.empty()) __builtin_trap();
  if (reading.entries.size() > theme_search::kMaxSitemapEntries) __builtin_trap();
  for (const theme_search::SitemapEntry& entry : reading.entries)
    if (entry.location.empty() || entry.location.size() > 8192) __builtin_trap();
  static_cast<void>(theme_search::w3cDateTime(document));
  return 0;
}
