#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/http_client_detail.h"
#include "crawler/pipeline/download_stage.h"
#include "crawler/pipeline/index_outage.h"
#include "crawler/pipeline/parse_stage.h"
#include "crawler/pipeline/progress_report.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/index_connection.h"

namespace theme_search {

// One crawl: the URL queue, the hand-over of fetched pages, the download
// stage and the parse stage with its registry connection, the URLs known to
// be in the index, and the handling of index outages shared by both stages.
//
// The constructor first takes up what earlier runs left, on the download
// connection: it deletes the pages fetched and never analysed, queues again
// the URLs that an orderly stop saved and, with `refreshDays`, the pages
// analysed that many days ago or more. Then it opens the registry
// connection, so that nothing is fetched when the index cannot be reached,
// starts the download stage, the parse stage and the progress report (a
// line on `log` every 5 s while there is work, see ProgressReport). stop()
// (or the destructor) ends both stages in order, a document being indexed
// rolled back, and saves for the next run the URLs still queued and the
// pages not analysed (saveQueue), so a later run resumes the crawl.
//
// The configuration, both connections and the streams must outlive the
// object; `parseTimings`, when given, receives the parse stage's timing
// lines. The download connection belongs to the download thread (and to
// the caller's thread before it starts and after it ends), the indexer's
// connection to the parse thread.
class Crawl {
 public:
  // Fetched pages that may wait for the parse stage before the download
  // stage pauses.
  static constexpr std::size_t maxPendingPages = 50;
  // The most fetched content that may wait for the parse stage: the
  // download stage pauses once a further page of the largest size could
  // pass it.
  static constexpr std::size_t maxPendingBytes = std::size_t{256} << 20;

  // Throws mysqlpp::Exception when the index cannot be read at start or the
  // registry connection cannot be opened (the download stage is stopped
  // first), and std::system_error when a thread cannot be started.
  Crawl(const EngineConfig& config, IndexConnection& downloadConnection,
        IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages,
        std::ostream* parseTimings = nullptr, std::optional<unsigned> refreshDays = std::nullopt);
  ~Crawl();
  Crawl(const Crawl&) = delete;
  Crawl& operator=(const Crawl&) = delete;

  // Queues a URL the operator typed, in canonical form, with priority 0; a
  // URL outside the site is not queued and a line of the log says so. Any
  // thread.
  void addStartUrl(const std::string& url);
  // Blocks until no URL is queued and none is in flight (taken by the
  // download stage and not yet through the parse stage, its links queued),
  // or until the crawl stops (interrupt() or stop()). True when idle. The
  // saved queue and the pages to refresh are queued by the constructor, so
  // they count from the start.
  [[nodiscard]] bool waitUntilIdle();
  // Begins the stop: the download stage takes no more URLs and
  // waitUntilIdle() returns; stop() must still follow. Any thread.
  void interrupt();
  // Ends both stages, waits for them and saves what is left. Idempotent.
  // Blocks while a document in progress is rolled back and while the
  // queue is written.
  void stop();

 private:
  void resume(std::optional<unsigned> refreshDays);
  void saveLeftovers();

  const EngineConfig& config;
  IndexConnection& downloadConnection;
  std::ostream& log;
  IndexOutage outage;
  UrlQueue urls;
  PageHandover pages{maxPendingPages, maxPendingBytes - http_detail::kMaxReplySize};
  KnownUrls known;
  std::optional<DownloadStage> download;
  std::optional<IndexConnection> registry;
  std::optional<ParseStage> parse;
  std::optional<ProgressReport> progress;
  bool stopped = false;
};

}  // namespace theme_search
