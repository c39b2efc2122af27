#pragma once

#include <cstdint>
#include <string>

namespace theme_search {

// An entry of the URL queue: a URL and its crawl priority. Items compare by
// priority only; the queue hands out the highest priority first. A revisit
// is a page of the index fetched again (the crawler's refresh option): it
// passes the known-URL check once, and its rows are replaced. A requested
// URL is one the operator typed: it is fetched again when the index holds
// it as invalid, and it is reported when the index holds it as a page.
struct CrawlItem {
  CrawlItem() = default;
  CrawlItem(std::string url, std::int32_t priority, bool revisit = false, bool requested = false)
      : url(std::move(url)), priority(priority), revisit(revisit), requested(requested) {}

  std::string url;
  std::int32_t priority = 0;
  bool revisit = false;
  bool requested = false;

  bool operator<(const CrawlItem& other) const { return priority < other.priority; }
};

// How a queue entry ended; every entry ends in exactly one of these. The
// download stage ends it in one of the first eight. Fetched pages go on to
// the parse stage, which ends a page that is not indexed under its own URL
// in one of the last three; the others stay fetched. Only failed, gone and
// outsideSite leave a trace in UrlInvalide; a fetched URL keeps its Url row
// whatever the parse stage concludes.
enum class UrlOutcome {
  fetched,          // the reply is in `content` and the URL in Url
  failed,           // no usable reply (`reason` says why)
  gone,             // the server answered that the page does not exist (404, 410)
  notModified,      // a revisit found unchanged: a 304 answer, or a sitemap's lastmod
  outsideSite,      // the URL lies outside the configured site
  alreadyKnown,     // the index holds the URL already
  refusedByRobots,  // robots.txt (or its absence) refuses it for this run
  stopped,          // the crawl stopped first; the stop saves it for the next run
  noindex,          // the page asks not to be indexed: its visit only is recorded
  canonicalOf,      // the page is indexed under the canonical URL it names
  duplicateOf,      // the page's text is that of a page indexed already: its visit only
};

// True for the outcomes recorded in UrlInvalide.
[[nodiscard]] inline bool recordsInvalid(UrlOutcome outcome) {
  return outcome == UrlOutcome::failed || outcome == UrlOutcome::gone ||
         outcome == UrlOutcome::outsideSite;
}

// What the download stage hands to the parse stage: the item taken from the
// URL queue, how its download ended and, for a fetched page, the raw reply
// (status line, headers, body).
struct FetchedPage : CrawlItem {
  FetchedPage() = default;
  explicit FetchedPage(CrawlItem item) : CrawlItem(std::move(item)) {}

  UrlOutcome outcome = UrlOutcome::stopped;
  std::string reason;  // for failed and gone: why, as the log and UrlInvalide name it
  std::string content;
};

}  // namespace theme_search
