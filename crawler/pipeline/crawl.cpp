#include "crawler/pipeline/crawl.h"

namespace theme_search {

Crawl::Crawl(const EngineConfig& config, IndexConnection& downloadConnection,
             IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages,
             std::ostream* parseTimings) {
  download.emplace(config, &downloadConnection, urls, pages, known, log, messages);
  try {
    registry.emplace();
    parse.emplace(config, *registry, indexerConnection, urls, pages, known, log, messages,
                  parseTimings);
  } catch (...) {
    stop();
    throw;
  }
}

Crawl::~Crawl() {
  stop();
}

void Crawl::addStartUrl(const std::string& url) {
  urls.push(CrawlItem(url, 0));
}

void Crawl::stop() {
  urls.close();
  pages.close();
  download.reset();
  parse.reset();
}

}  // namespace theme_search
