#pragma once

#include <cstdint>
#include <string>

namespace theme_search {

// An entry of the URL queue: a URL and its crawl priority. Items compare by
// priority only; the queue hands out the highest priority first.
struct CrawlItem {
  CrawlItem() = default;
  CrawlItem(std::string url, std::int32_t priority) : url(std::move(url)), priority(priority) {}

  std::string url;
  std::int32_t priority = 0;

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
