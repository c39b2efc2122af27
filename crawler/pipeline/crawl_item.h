#pragma once

#include <cstdint>
#include <string>

namespace theme_search {

// An entry of the URL queue: a URL and its crawl priority. Items compare by
// priority only; the queue hands out the highest priority first. A revisit
// is a page of the index fetched again (the crawler's refresh option): it
// passes the known-URL check once, and its rows are replaced.
struct CrawlItem {
  CrawlItem() = default;
  CrawlItem(std::string url, std::int32_t priority, bool revisit = false)
      : url(std::move(url)), priority(priority), revisit(revisit) {}

  std::string url;
  std::int32_t priority = 0;
  bool revisit = false;

  bool operator<(const CrawlItem& other) const { return priority < other.priority; }
};

// What the download stage hands to the parse stage: the item taken from the
// URL queue and the raw reply (status line, headers, body), empty when
// nothing was fetched.
struct FetchedPage : CrawlItem {
  FetchedPage() = default;
  explicit FetchedPage(CrawlItem item) : CrawlItem(std::move(item)) {}

  std::string content;
};

}  // namespace theme_search
