// The Spider's life cycle and the parse thread's loop.
#include "spider.h"

#include <exception>

#include "log_write.h"

Spider::Spider(const EngineConfig& config, IndexConnection& downloadConnection,
               IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages)
    : loader(config, &downloadConnection, log, messages),
      config(&config),
      indexerConnection(&indexerConnection),
      log(log),
      messages(messages) {
  start();
}

Spider::~Spider() {
  stopRequested = true;
  loader.stop();
  join();
  // The registry connection closes next, then the LoadFile drops its queues.
}

std::string parseLine(std::int32_t priority, const std::string& url) {
  return "PARSE" + std::to_string(priority) + " " + url + "\n";
}

void Spider::run() {
  while (!stopRequested) {
    loader.waitPage();
    if (stopRequested) return;
    FetchedPage& page = loader.frontPage();
    // A database error, or any other failure such as memory running out
    // while a large page is analysed, costs this one page, never the stage.
    try {
      handlePage(page);
    } catch (const mysqlpp::Exception& error) {
      writeLog(log, databaseErrorLine(page.url, error.what()));
    } catch (const std::exception& error) {
      writeLog(log, "ERROR PARSE " + page.url + " : " + error.what() + "\n");
    }
    loader.popPage();
  }
}

std::optional<std::int32_t> linkPriority(int themeWordCount, std::int32_t pagePriority,
                                         std::int32_t maxDepth) {
  if (themeWordCount != 0) return themeWordCount;
  if (std::int64_t{pagePriority} < -std::int64_t{maxDepth}) return std::nullopt;
  return pagePriority - 1;
}

void Spider::queueLinks(const std::vector<std::string>& links, int themeWordCount,
                        std::int32_t priority) {
  const std::optional<std::int32_t> queued =
      linkPriority(themeWordCount, priority, config->maxDepth);
  if (!queued) {
    for (const std::string& link : links) {
      connection.markInvalid(link);
      writeLog(log, "LIMITE ATTEINTE: " + link + "\n");
    }
    return;
  }
  for (const std::string& link : links)
    if (!connection.isKnown(link)) loader.pushUrl(CrawlItem(link, *queued));
}
