#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "index/index_connection.h"

// The URL registry: which URLs the index already knows, fetched into Url or
// given up into UrlInvalide (with the reason and the time in
// UrlInvalideRaison), and the moves of a URL between the two. A URL is never
// in both tables: recording a fetch takes the URL out of UrlInvalide, and
// recording a URL invalid skips one that is in Url. Each call sends its
// statements through the caller's connection, on the caller's thread, and
// blocks until answered; a rejected statement throws MysqlBadQuery.

namespace theme_search {

// The longest URL the index holds (Url.url, UrlInvalide.url). A longer URL
// would be stored cut short, and then fetched again each time it is met.
inline constexpr std::size_t kMaxUrlBytes = 3000;

// The longest reason UrlInvalideRaison holds; a longer one is cut.
inline constexpr std::size_t kMaxReasonBytes = 255;

// A URL given up, and why ("status 404", "depth limit", "outside the site").
struct InvalidUrl {
  std::string url;
  std::string reason;
};

// True when the URL is in Url or, looked up only then, in UrlInvalide.
// URLs compare byte for byte.
[[nodiscard]] bool isKnown(IndexConnection& connection, const std::string& url);

// True when the URL is in Url: a page fetched, analysed or not.
[[nodiscard]] bool isFetched(IndexConnection& connection, const std::string& url);

// The URLs among `urls` that are in Url or UrlInvalide, each once, in no
// particular order: one statement for up to about a megabyte of URLs, none
// for an empty list. URLs compare byte for byte.
[[nodiscard]] std::vector<std::string> knownAmong(IndexConnection& connection,
                                                  const std::vector<std::string>& urls);

// The statement knownAmong sends for one list of quoted URLs ("\"a\",\"b\"").
[[nodiscard]] std::string knownAmongStatement(const std::string& quotedUrls);

// Records a fetched URL, not analysed yet (lastVisit NULL; the page's own
// transaction sets it), and takes it out of UrlInvalide with its reason: a
// URL the operator asked for again may have failed before. One transaction.
void recordFetched(IndexConnection& connection, const std::string& url);

// recordFetched's statements, without a transaction of their own: run them
// inside one, as the page writer does for a page's canonical URL. A URL
// already in Url keeps its row.
void addFetched(IndexConnection& connection, const std::string& url);

// Records the URLs in UrlInvalide with their reasons and the time, except
// those in Url; a URL already invalid keeps its row and gets the new reason.
// One statement per table for up to about a megabyte of URLs. Not a
// transaction of its own: run it inside one to keep the two tables together.
void markAllInvalid(IndexConnection& connection, const std::vector<InvalidUrl>& urls);

// markAllInvalid for one URL.
void markInvalid(IndexConnection& connection, const std::string& url, const std::string& reason);

// Takes a page out of the index, its keyword rows, Document row, ranking
// rows (DocumentMesure, MotChamp), validators (UrlValidateurs) and Url
// row, and records it invalid with the reason: a page the server says is
// gone. One transaction.
void removePage(IndexConnection& connection, const std::string& url, const std::string& reason);

// The statements of markAllInvalid, given the derived table of (url, raison)
// rows that invalidUrlsTable makes of selects joined by " UNION ALL "
// ("SELECT \"u\", \"r\"").
[[nodiscard]] std::string invalidUrlsTable(const std::string& rows);
[[nodiscard]] std::string invalidInsertStatement(const std::string& table);
[[nodiscard]] std::string reasonInsertStatement(const std::string& table);

}  // namespace theme_search
