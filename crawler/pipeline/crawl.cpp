#include "crawler/pipeline/crawl.h"

namespace theme_search {

Crawl::Crawl(const EngineConfig& config, IndexConnection& downloadConnection,
             IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages) {
  download.emplace(config, &downloadConnection, urls, pages, log, messages);
  try {
    registry.emplace();
    parse.emplace(config, *registry, indexerConnection, urls, pages, log, messages);
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
