#include "crawler/pipeline/crawl.h"

#include <unordered_set>

#include "common/log_line.h"
#include "crawler/fetch/url_rules.h"
#include "crawler/pipeline/saved_queue.h"
#include "crawler/pipeline/stage_log.h"

namespace theme_search {

std::string unanalysedRemovedLine(std::uint64_t pages) {
  return "pages fetched but never analysed, removed to be fetched again: " + std::to_string(pages) +
         "\n";
}

std::string queueResumedLine(std::size_t urls) {
  return "URLs queued again from the last run: " + std::to_string(urls) + "\n";
}

std::string refreshLine(std::size_t pages) {
  return "pages queued again to refresh them: " + std::to_string(pages) + "\n";
}

std::string queueSavedLine(std::size_t urls) {
  return "URLs saved for the next run: " + std::to_string(urls) + "\n";
}

std::string queueNotSavedLine(const std::string& reason) {
  return "the queue could not be saved for the next run: " + reason + "\n";
}

Crawl::Crawl(const EngineConfig& config, IndexConnection& downloadConnection,
             IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages,
             std::ostream* parseTimings, std::optional<unsigned> refreshDays)
    : config(config), downloadConnection(downloadConnection), log(log), outage(log) {
  try {
    resume(refreshDays);
  } catch (...) {
    // The saved queue taken before the failure goes back for the next run.
    saveLeftovers();
    throw;
  }
  download.emplace(config, &downloadConnection, urls, pages, known, log, messages, &outage);
  try {
    registry.emplace();
    parse.emplace(config, *registry, indexerConnection, urls, pages, known, log, messages,
                  parseTimings, &outage);
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
  const std::vector<CrawlItem> saved = takeSavedQueue(downloadConnection, config);
  for (const CrawlItem& item : saved) {
    queued.insert(item.url);
    urls.push(item);
  }
  if (!saved.empty()) writeLog(log, queueResumedLine(saved.size()));
  if (!refreshDays) return;
  std::size_t refreshed = 0;
  for (CrawlItem& item : pagesToRefresh(downloadConnection, config, *refreshDays)) {
    if (!queued.insert(item.url).second) continue;
    urls.push(std::move(item));
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

void Crawl::stop() {
  if (stopped) return;
  stopped = true;
  urls.close();
  pages.close();
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
  std::vector<CrawlItem> left = urls.drain();
  for (FetchedPage& page : pages.drain())
    left.emplace_back(std::move(page.url), page.priority, page.revisit);
  if (parse)
    for (const CrawlItem& item : parse->unfinished()) left.push_back(item);
  if (left.empty()) return;
  try {
    std::size_t saved = 0;
    try {
      saved = saveQueue(downloadConnection, config, left);
    } catch (const mysqlpp::Exception& failure) {
      if (!isConnectionLoss(failure)) throw;
      downloadConnection.reconnect();
      saved = saveQueue(downloadConnection, config, left);
    }
    if (saved != 0) writeLog(log, queueSavedLine(saved));
  } catch (const mysqlpp::Exception& failure) {
    writeLog(log, queueNotSavedLine(failure.what()));
  }
}

}  // namespace theme_search
