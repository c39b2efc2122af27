#include "crawler/pipeline/parse_stage.h"

#include <chrono>
#include <exception>
#include <utility>

#include "common/log_line.h"
#include "crawler/analysis/page_analysis.h"
#include "crawler/pipeline/stage_log.h"
#include "index/url_registry.h"

namespace theme_search {

ParseStage::ParseStage(const EngineConfig& config, IndexConnection& registry,
                       IndexConnection& indexer, UrlQueue& urls, PageHandover& pages,
                       KnownUrls& known, std::ostream& log, std::ostream& messages,
                       std::ostream* timings, IndexOutage* outage)
    : config(config),
      registry(registry),
      indexer(indexer),
      keywords(indexer, [handover = &pages] { return handover->isClosed(); }),
      urls(urls),
      pages(pages),
      known(known),
      log(log),
      messages(messages),
      timings(timings),
      outage(outage),
      thread(&ParseStage::run, this) {}

ParseStage::~ParseStage() {
  finish();
}

void ParseStage::finish() {
  if (thread.joinable()) thread.join();
}

// Runs database work through the outages of the index; a close of the
// hand-over ends the wait. False when the close came first.
template <class Work>
bool ParseStage::throughOutages(IndexConnection& connection, Work&& work) {
  if (!outage) {
    work();
    return true;
  }
  return outage->run(
      connection, [this](auto deadline) { return !pages.waitForCloseUntil(deadline); }, work);
}

void ParseStage::run() {
  while (std::optional<FetchedPage> page = pages.pop()) {
    // Pages handed on empty come in runs: their URLs go into UrlInvalide
    // together, as soon as no page waits or a page with content comes.
    if (page->content.empty()) {
      if (page->revisit) continue;  // not fetched again: the earlier visit stays
      invalid.push_back(std::move(page->url));
      if (pages.size() == 0) writeInvalid();
      continue;
    }
    writeInvalid();
    // A database error, or any other failure such as memory running out
    // while a large page is analysed, costs this one page, never the stage.
    try {
      handlePage(*page);
    } catch (const mysqlpp::Exception& error) {
      writeLog(log, databaseErrorLine(page->url, error.what()));
    } catch (const std::exception& error) {
      writeLog(log, "ERROR PARSE " + page->url + " : " + error.what() + "\n");
    }
  }
  writeInvalid();
}

// Writes the URLs waiting for UrlInvalide in one statement; when that is
// rejected, in one statement each, so that a failure names its URL. A URL
// written is known from then on.
void ParseStage::writeInvalid() {
  if (invalid.empty()) return;
  std::vector<std::string> written = std::exchange(invalid, {});
  try {
    // Stopped while the server is away: the stop cannot save anything either.
    if (!throughOutages(registry, [&] { markAllInvalid(registry, written); })) return;
  } catch (const mysqlpp::Exception&) {
    std::vector<std::string> marked;
    for (std::string& url : written) {
      try {
        markInvalid(registry, url);
        marked.push_back(std::move(url));
      } catch (const mysqlpp::Exception& error) {
        writeLog(log, databaseErrorLine(url, error.what()));
      } catch (const std::exception& error) {
        writeLog(log, "ERROR PARSE " + url + " : " + error.what() + "\n");
      }
    }
    written.swap(marked);
  } catch (const std::exception& error) {
    for (const std::string& url : written)
      writeLog(log, "ERROR PARSE " + url + " : " + error.what() + "\n");
    return;
  }
  for (const std::string& url : written) known.add(url);
}

void ParseStage::handlePage(FetchedPage& page) {
  writeLog(log, parseLine(page.priority, page.url));
  const auto start = std::chrono::steady_clock::now();
  const auto waitedBefore = registry.statementTime() + indexer.statementTime();
  // The reply is kept until the document is in the index: a lost session
  // has the whole document analysed and sent again.
  PageAnalysis analysis;
  const bool done = throughOutages(indexer, [&] {
    analysis = analysePage(page.url, page.content, config, keywords, page.revisit);
  });
  if (!done || analysis.stopped) {
    interrupted.push_back(page);
    return;
  }
  std::string().swap(page.content);
  if (!analysis.logLines.empty()) writeLog(log, analysis.logLines);
  if (!analysis.messages.empty()) writeLog(messages, analysis.messages);
  queueLinks(analysis.links, analysis.themeWordCount, page.priority);
  if (timings)
    writeLog(*timings, timingLine(std::chrono::steady_clock::now() - start, analysis.scanTime,
                                  registry.statementTime() + indexer.statementTime() - waitedBefore,
                                  analysis.themeWordCount, page.url));
}

std::optional<std::int32_t> linkPriority(int themeWordCount, std::int32_t pagePriority,
                                         std::int32_t maxDepth) {
  if (themeWordCount != 0) return themeWordCount;
  if (std::int64_t{pagePriority} < -std::int64_t{maxDepth}) return std::nullopt;
  return pagePriority - 1;
}

void ParseStage::queueLinks(const std::vector<std::string>& links, int themeWordCount,
                            std::int32_t priority) {
  const std::optional<std::int32_t> queued =
      linkPriority(themeWordCount, priority, config.maxDepth);
  if (!queued) {
    for (const std::string& link : links)
      if (link.size() <= kMaxUrlBytes) invalid.push_back(link);
    writeInvalid();
    for (const std::string& link : links) writeLog(log, depthLimitLine(link));
    return;
  }
  std::vector<bool> isKnown;
  // Stopped while the server is away: every link is queued, and the stop
  // saves them; the next run asks the index about them before fetching.
  if (!throughOutages(registry, [&] { isKnown = known.lookUp(registry, links); }))
    isKnown.assign(links.size(), false);
  for (std::size_t i = 0; i < links.size(); ++i)
    if (!isKnown[i]) urls.push(CrawlItem(links[i], *queued));
}

std::string timingLine(std::chrono::nanoseconds total, std::chrono::nanoseconds scanning,
                       std::chrono::nanoseconds database, int themeWordCount,
                       const std::string& url) {
  using std::chrono::microseconds;
  const auto us = [](std::chrono::nanoseconds span) {
    return std::to_string(std::chrono::duration_cast<microseconds>(span).count());
  };
  return us(total) + "\t" + us(scanning) + "\t" + us(database) + "\t" +
         std::to_string(themeWordCount) + "\t" + url + "\n";
}

}  // namespace theme_search
