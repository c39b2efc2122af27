#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/http_client_detail.h"
#include "crawler/pipeline/download_stage.h"
#include "crawler/pipeline/parse_stage.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/index_connection.h"

namespace theme_search {

// One crawl: the URL queue, the hand-over of fetched pages, the download
// stage and the parse stage with its registry connection, and the URLs
// known to be in the index. The constructor
// starts the download stage, opens the registry connection, then starts the
// parse stage; stop() (or the destructor) closes both queues, which ends
// both stages, and joins them, download stage first. URLs still queued and
// pages still waiting are dropped: only the index survives a run.
//
// The configuration, both connections and the streams must outlive the
// object; `parseTimings`, when given, receives the parse stage's timing
// lines. The download connection belongs to the download thread, the
// indexer's connection to the parse thread.
class Crawl {
 public:
  // Fetched pages that may wait for the parse stage before the download
  // stage pauses.
  static constexpr std::size_t maxPendingPages = 50;
  // The most fetched content that may wait for the parse stage: the
  // download stage pauses once a further page of the largest size could
  // pass it.
  static constexpr std::size_t maxPendingBytes = std::size_t{256} << 20;

  // Throws mysqlpp::ConnectionFailed when the registry connection cannot be
  // opened (the download stage is stopped first), and std::system_error
  // when a thread cannot be started.
  Crawl(const EngineConfig& config, IndexConnection& downloadConnection,
        IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages,
        std::ostream* parseTimings = nullptr);
  ~Crawl();
  Crawl(const Crawl&) = delete;
  Crawl& operator=(const Crawl&) = delete;

  // Queues a start URL with priority 0. Any thread.
  void addStartUrl(const std::string& url);
  // Ends both stages and waits for them. Idempotent.
  void stop();

 private:
  UrlQueue urls;
  PageHandover pages{maxPendingPages, maxPendingBytes - http_detail::kMaxReplySize};
  KnownUrls known;
  std::optional<DownloadStage> download;
  std::optional<IndexConnection> registry;
  std::optional<ParseStage> parse;
};

}  // namespace theme_search
