#include "crawler/pipeline/parse_stage.h"

#include <exception>
#include <utility>

#include "common/log_line.h"
#include "crawler/analysis/page_analysis.h"
#include "crawler/pipeline/stage_log.h"
#include "index/url_registry.h"

namespace theme_search {

ParseStage::ParseStage(const EngineConfig& config, IndexConnection& registry,
                       IndexConnection& indexer, UrlQueue& urls, PageHandover& pages,
                       std::ostream& log, std::ostream& messages)
    : config(config),
      registry(registry),
      indexer(indexer),
      urls(urls),
      pages(pages),
      log(log),
      messages(messages),
      thread(&ParseStage::run, this) {}

ParseStage::~ParseStage() {
  thread.join();
}

void ParseStage::run() {
  while (std::optional<FetchedPage> page = pages.pop()) {
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
}

void ParseStage::handlePage(FetchedPage& page) {
  if (page.content.empty()) {
    markInvalid(registry, page.url);
    return;
  }
  writeLog(log, parseLine(page.priority, page.url));
  const PageAnalysis analysis =
      analysePage(page.url, std::exchange(page.content, std::string()), config, indexer);
  if (!analysis.messages.empty()) writeLog(messages, analysis.messages);
  queueLinks(analysis.links, analysis.themeWordCount, page.priority);
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
    for (const std::string& link : links) {
      markInvalid(registry, link);
      writeLog(log, depthLimitLine(link));
    }
    return;
  }
  for (const std::string& link : links)
    if (!isKnown(registry, link)) urls.push(CrawlItem(link, *queued));
}

}  // namespace theme_search
