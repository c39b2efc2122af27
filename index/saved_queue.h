#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "index/index_connection.h"
#include "index/url_registry.h"

// What a crawl leaves in the index for the next run, besides the index
// itself: the queue an orderly stop saved in FileAttente, and the Url rows
// whose lastVisit is NULL, pages fetched and never analysed. The crawler
// writes a page's row and its visit in one transaction now, so only an
// index written by an earlier version holds such rows. Each call sends its statements through the
// caller's connection, on the caller's thread, and blocks until answered; a
// rejected statement throws MysqlBadQuery, and a group of statements is
// then rolled back whole.

namespace theme_search {

// A URL left for the next run, with its crawl priority; a revisit is a page
// of the index to be fetched again.
struct SavedUrl {
  std::string url;
  std::int32_t priority = 0;
  bool revisit = false;
};

// Tells whether a URL belongs to the caller's site.
using SiteTest = std::function<bool(const std::string& url)>;

// Deletes the pages fetched and never analysed (Url rows whose lastVisit is
// NULL) with their CorrespMotUrl rows, in one transaction, so that they are
// fetched again. Returns the number of pages deleted.
std::uint64_t removeUnanalysedPages(IndexConnection& connection);

// Takes the saved entries of the caller's site: reads them, deletes their
// rows and returns them, in one transaction. Entries of other sites stay
// for the crawler of their site.
[[nodiscard]] std::vector<SavedUrl> takeSavedQueue(IndexConnection& connection,
                                                   const SiteTest& inSite);

// Saves what a stopping crawl had not done, for the next run, in one
// transaction: `left` (URLs still queued, pages fetched or being fetched but
// not analysed, all of the site, at most kMaxUrlBytes) go into FileAttente
// (a URL held twice keeps its highest priority, and stays a revisit if
// either was one), and the Url rows of those fetched and never analysed are
// deleted; `refused` go into UrlInvalide as the crawl would have put them.
// Returns the number of URLs saved in FileAttente.
std::size_t saveQueue(IndexConnection& connection, const std::vector<SavedUrl>& left,
                      const std::vector<InvalidUrl>& refused);

// The pages last analysed `days` days ago or more, any site.
[[nodiscard]] std::vector<std::string> pagesAnalysedBefore(IndexConnection& connection,
                                                           unsigned days);

// The analysed pages among `urls`, each with the time of its last visit in
// seconds since 1970 (UTC); URLs not in Url, or never analysed, are left
// out. One statement for up to about a megabyte of URLs, none for an empty
// list.
[[nodiscard]] std::unordered_map<std::string, std::int64_t> lastVisits(
    IndexConnection& connection, const std::vector<std::string>& urls);

// The statements, each given its list of rows (see joinedBatches): queue
// entries as ("url",priority,revisit), URLs as "url".
[[nodiscard]] std::string queueSaveStatement(const std::string& rows);
[[nodiscard]] std::string queueRemovalStatement(const std::string& quotedUrls);
[[nodiscard]] std::string unanalysedRemovalStatement(const std::string& quotedUrls);
[[nodiscard]] std::string refreshStatement(unsigned days);
[[nodiscard]] std::string lastVisitStatement(const std::string& quotedUrls);

}  // namespace theme_search
