#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "index/index_connection.h"

// The URL registry: which URLs the index already knows, fetched into Url or
// given up into UrlInvalide. Each call sends its statements through the
// caller's connection, on the caller's thread, and blocks until answered;
// a rejected statement throws MysqlBadQuery.

namespace theme_search {

// The longest URL the index holds (Url.url, UrlInvalide.url). A longer URL
// would be stored cut short, and then fetched again each time it is met.
inline constexpr std::size_t kMaxUrlBytes = 3000;

// True when the URL is in Url or, looked up only then, in UrlInvalide.
// URLs compare byte for byte.
[[nodiscard]] bool isKnown(IndexConnection& connection, const std::string& url);

// The URLs among `urls` that are in Url or UrlInvalide, each once, in no
// particular order: one statement for up to about a megabyte of URLs, none
// for an empty list. URLs compare byte for byte.
[[nodiscard]] std::vector<std::string> knownAmong(IndexConnection& connection,
                                                  const std::vector<std::string>& urls);

// The statement knownAmong sends for one list of quoted URLs ("\"a\",\"b\"").
[[nodiscard]] std::string knownAmongStatement(const std::string& quotedUrls);

// Records the URL in UrlInvalide; a URL already there is left alone.
void markInvalid(IndexConnection& connection, const std::string& url);

// Records every URL of the list in UrlInvalide, as markInvalid does, in one
// statement for up to about a megabyte of URLs.
void markAllInvalid(IndexConnection& connection, const std::vector<std::string>& urls);

}  // namespace theme_search
