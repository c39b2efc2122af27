#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "crawler/config/engine_config.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/index_connection.h"

namespace theme_search {

// The parse stage: its thread takes the fetched pages in fetch order, has
// each analysed and indexed, and queues the page's links that the index does
// not know, best-first (see linkPriority); an off-theme page past the depth
// limit has its links refused instead. A page with no content is recorded
// as invalid. It ends when the hand-over is closed.
//
// The thread starts in the constructor; the destructor joins it, so the
// owner closes the hand-over first. The registry connection (URL lookups and
// invalid URLs) and the indexer's connection are used by this thread only.
// Stage lines go to `log`, the indexer's messages to `messages`. Everything
// passed in must outlive the object.
class ParseStage {
 public:
  ParseStage(const EngineConfig& config, IndexConnection& registry, IndexConnection& indexer,
             UrlQueue& urls, PageHandover& pages, std::ostream& log, std::ostream& messages);
  ~ParseStage();
  ParseStage(const ParseStage&) = delete;
  ParseStage& operator=(const ParseStage&) = delete;

 private:
  void run();
  void handlePage(FetchedPage& page);
  void queueLinks(const std::vector<std::string>& links, int themeWordCount, std::int32_t priority);

  const EngineConfig& config;
  IndexConnection& registry;
  IndexConnection& indexer;
  UrlQueue& urls;
  PageHandover& pages;
  std::ostream& log;
  std::ostream& messages;
  std::thread thread;
};

// The priority with which the links of an analysed page are queued: its
// theme-word count when that is not 0, otherwise the page's own priority
// minus one; none (the links are refused) for an off-theme page whose
// priority is below -maxDepth. Compared in 64 bits, so every maxDepth the
// configuration can hold is safe.
[[nodiscard]] std::optional<std::int32_t> linkPriority(int themeWordCount,
                                                       std::int32_t pagePriority,
                                                       std::int32_t maxDepth);

}  // namespace theme_search
