#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// The reading of a sitemap: a list of a site's pages (<urlset>, each <url>
// with its <loc> and an optional <lastmod>) or an index of sitemaps
// (<sitemapindex>, each <sitemap> with its <loc>). Pure: bytes in, entries
// or the reason for a refusal out; any thread.

// The bounds of one sitemap: its entries, and its bytes once decompressed.
inline constexpr std::size_t kMaxSitemapEntries = 50000;
inline constexpr std::size_t kMaxSitemapBytes = std::size_t{50} << 20;
// The sitemaps of one index that are read; the others are passed over.
inline constexpr std::size_t kMaxIndexedSitemaps = 20;

// A page (or, in an index, a sitemap) the sitemap lists: its location as the
// crawler spells URLs (Latin-1, blanks around it dropped), and the time its
// <lastmod> names, in seconds since 1970 (UTC), when it has a valid one.
struct SitemapEntry {
  std::string location;
  std::optional<std::int64_t> lastModified;
};

struct SitemapReading {
  enum class Kind { pages, index };
  Kind kind = Kind::pages;
  // In document order; entries without a <loc>, or with one over 8 KiB, are
  // left out.
  std::vector<SitemapEntry> entries;
  // Why the sitemap is refused whole (then `entries` is empty): "over 50 MiB",
  // "over 50 MiB once decompressed", "more than 50000 entries", "document
  // type declaration refused", "not well-formed XML (line 3: mismatched
  // tag)", "not a sitemap (root element <rss>)", a gzip fault.
  std::optional<std::string> refusal;
};

// Reads a sitemap's document: gzip data (known by its first two bytes) is
// inflated first, piece by piece. The XML is read with expat, which never
// loads anything from outside; a document type declaration is refused as
// soon as it starts, so no entity is ever declared, let alone expanded (a
// sitemap needs none: the five predefined entities and character references
// still read). Elements count when they stand where the protocol puts them
// and share the root element's namespace (so an extension's <image:loc> is
// not a page); anything else is passed over.
[[nodiscard]] SitemapReading readSitemap(std::string_view document);

}  // namespace theme_search
