#include "crawler/pipeline/crawl.h"

#include <unordered_set>

#include "common/log_line.h"
#include "crawler/fetch/url_rules.h"
#include "crawler/pipeline/crawl_log.h"
#include "index/saved_queue.h"

namespace theme_search {

Crawl::Crawl(const EngineConfig& config, IndexConnection& downloadConnection,
             IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages,
             std::ostream* parseTimings, std::optional<unsigned> refreshDays)
    : config(config), downloadConnection(downloadConnection), log(log), outage(log) {
  try {
    resume(refreshDays);
    registry.emplace();
  } catch (...) {
    // The saved queue taken before the failure goes back for the next run.
    saveLeftovers();
    throw;
  }
  download.emplace(config, &downloadConnection, urls, pages, known, log, messages, &outage);
  try {
    parse.emplace(config, *registry, indexerConnection, urls, pages, known, log, messages,
                  parseTimings, &outage);
    progress.emplace(urls, parse->tally(), log);
  } catch (...) {
    stop();
    throw;
  }
}

Crawl::~Crawl() {
  stop();
}

// Runs on the caller's thread before the stages start.
void Crawl::resume(std::optional<unsigned> refreshDays) {
  if (const std::uint64_t removed = removeUnanalysedPages(downloadConnection))
    writeLog(log, unanalysedRemovedLine(removed));
  std::unordered_set<std::string> queued;
  const auto inSite = [this](const std::string& url) { return config.inScope(url); };
  std::vector<SavedUrl> saved = takeSavedQueue(downloadConnection, inSite);
  for (SavedUrl& entry : saved) {
    queued.insert(entry.url);
    urls.push(CrawlItem(std::move(entry.url), entry.priority, entry.revisit));
  }
  if (!saved.empty()) writeLog(log, queueResumedLine(saved.size()));
  if (!refreshDays) return;
  std::size_t refreshed = 0;
  for (std::string& url : pagesAnalysedBefore(downloadConnection, *refreshDays)) {
    if (!inSite(url) || !queued.insert(url).second) continue;
    urls.push(CrawlItem(std::move(url), 0, true));
    ++refreshed;
  }
  writeLog(log, refreshLine(refreshed));
}

void Crawl::addStartUrl(const std::string& typed) {
  std::string url = canonicalUrl(typed);
  if (!config.inScope(url)) {
    writeLog(log, startOutsideSiteLine(url));
    return;
  }
  urls.push(CrawlItem(std::move(url), 0, false, true));
}

bool Crawl::waitUntilIdle() {
  return urls.waitUntilIdle();
}

void Crawl::interrupt() {
  urls.close();
}

void Crawl::stop() {
  if (stopped) return;
  stopped = true;
  urls.close();
  pages.close();
  progress.reset();
  download.reset();
  if (parse) parse->finish();
  saveLeftovers();
  parse.reset();
}

// What neither stage finished: the URLs still queued (links the parse stage
// queued while it stopped included), the pages waiting in the hand-over and
// the page the parse stage gave up. Written on the download connection,
// whose thread has ended; a session lost since its last use is opened
// again once.
void Crawl::saveLeftovers() {
  std::vector<CrawlItem> items = urls.drain();
  for (FetchedPage& page : pages.drain())
    items.emplace_back(std::move(page.url), page.priority, page.revisit);
  if (parse)
    for (const CrawlItem& item : parse->unfinished()) items.push_back(item);
  if (items.empty()) return;
  // The site's URLs are saved; the others are refused as the download stage
  // would have refused them.
  std::vector<SavedUrl> left;
  std::vector<InvalidUrl> refused;
  for (CrawlItem& item : items) {
    std::string url = canonicalUrl(std::move(item.url));
    if (url.size() > kMaxUrlBytes) continue;  // nothing can record it
    if (config.inScope(url))
      left.push_back(SavedUrl{std::move(url), item.priority, item.revisit});
    else
      refused.push_back(InvalidUrl{std::move(url), kOutsideSiteReason});
  }
  try {
    std::size_t saved = 0;
    try {
      saved = saveQueue(downloadConnection, left, refused);
    } catch (const mysqlpp::Exception& failure) {
      if (!isConnectionLoss(failure)) throw;
      downloadConnection.reconnect();
      saved = saveQueue(downloadConnection, left, refused);
    }
    if (saved != 0) writeLog(log, queueSavedLine(saved));
  } catch (const mysqlpp::Exception& failure) {
    writeLog(log, queueNotSavedLine(failure.what()));
  }
}

}  // namespace theme_search
