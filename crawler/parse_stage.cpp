// The parse stage's handling of one fetched entry.
#include "log_write.h"
#include "page.h"
#include "spider.h"

void Spider::handlePage(FetchedPage& page) {
  if (page.content.empty()) {
    connection.markInvalid(page.url);
    return;
  }
  writeLog(log, parseLine(page.priority, page.url));
  Page analysed(page.url, page.content, *config, *indexerConnection, messages);
  queueLinks(analysed.links(), analysed.themeWordCount(), page.priority);
}
