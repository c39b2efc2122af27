#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crawler/config/engine_config.h"
#include "crawler/pipeline/crawl_item.h"
#include "index/index_connection.h"

// What a crawl leaves in the index for the next run, besides the index
// itself: the queue an orderly stop saved in FileAttente, and the Url rows
// whose lastVisit is NULL, pages fetched and never analysed (the parse
// stage sets lastVisit in the page's own transaction). Each call sends its
// statements through the caller's connection, on the caller's thread, and
// blocks until answered; a rejected statement throws MysqlBadQuery, and a
// group of statements is then rolled back whole.

namespace theme_search {

// Deletes the pages fetched and never analysed (Url rows whose lastVisit is
// NULL) with their CorrespMotUrl rows, in one transaction, so that they are
// fetched again. Returns the number of pages deleted.
std::uint64_t removeUnanalysedPages(IndexConnection& connection);

// Takes the saved queue entries that lie in the configuration's site: reads
// them, deletes their rows and returns them, in one transaction. Entries of
// other sites stay for the crawler of their site.
[[nodiscard]] std::vector<CrawlItem> takeSavedQueue(IndexConnection& connection,
                                                    const EngineConfig& config);

// Saves what a stopping crawl had not done, for the next run, in one
// transaction: the items (URLs still queued, pages fetched or being fetched
// but not analysed) that lie in the site go into FileAttente (a URL held
// twice keeps its highest priority, and stays a revisit if either was one);
// the others go into UrlInvalide, as the crawl would have put them; the Url
// rows of the saved URLs that were fetched and never analysed are deleted.
// Returns the number of URLs saved in FileAttente.
std::size_t saveQueue(IndexConnection& connection, const EngineConfig& config,
                      const std::vector<CrawlItem>& items);

// The pages of the site last analysed `days` days ago or more, as revisits
// of priority 0.
[[nodiscard]] std::vector<CrawlItem> pagesToRefresh(IndexConnection& connection,
                                                    const EngineConfig& config, unsigned days);

// The statements, each given its list of rows (see joinedBatches): queue
// entries as ("url",priority,revisit), URLs as "url".
[[nodiscard]] std::string queueSaveStatement(const std::string& rows);
[[nodiscard]] std::string queueRemovalStatement(const std::string& quotedUrls);
[[nodiscard]] std::string unanalysedRemovalStatement(const std::string& quotedUrls);
[[nodiscard]] std::string refreshStatement(unsigned days);

}  // namespace theme_search
