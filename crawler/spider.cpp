// The Spider's life cycle and the parse thread's loop.
#include "spider.h"

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
    // A database error costs this one page, never the stage.
    try {
      handlePage(page);
    } catch (const mysqlpp::Exception& error) {
      writeLog(log, databaseErrorLine(page.url, error.what()));
    }
    loader.popPage();
  }
}

void Spider::queueLinks(const std::vector<std::string>& links, int themeWordCount,
                        std::int32_t priority) {
  if (themeWordCount != 0) {
    for (const std::string& link : links)
      if (!connection.isKnown(link)) loader.pushUrl(CrawlItem(link, themeWordCount));
  } else if (priority < -config->maxDepth) {
    for (const std::string& link : links) {
      connection.markInvalid(link);
      writeLog(log, "LIMITE ATTEINTE: " + link + "\n");
    }
  } else {
    for (const std::string& link : links)
      if (!connection.isKnown(link)) loader.pushUrl(CrawlItem(link, priority - 1));
  }
}
