#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "engine_config.h"
#include "index_connection.h"
#include "load_file.h"
#include "thread.h"

// The crawl: the download stage (its LoadFile, started first) and the parse
// stage, which runs in this object's own thread. The parse stage takes the
// fetched pages in fetch order, has each analysed and indexed, and queues
// the page's links that the index does not know, best-first: with the
// page's theme-word count when it is on theme, otherwise with the page's own
// priority minus one; an off-theme page below -maxDepth has its links
// refused instead.
//
// The configuration, both connections and the two streams (`log` for the
// stage lines, `messages` for the indexer's messages) must outlive the
// object. The parse thread alone uses the Spider's own connection (the URL
// registry) and the indexer's connection; the download connection belongs
// to the download thread. The destructor stops the download thread, then
// the parse thread, and drops whatever is still queued.
class Spider : public Thread {
 public:
  // Starts the download thread, opens the registry connection (throws
  // mysqlpp::ConnectionFailed when that fails, after stopping the download
  // thread), then starts the parse thread. Throws ThreadError when a thread
  // cannot be created.
  Spider(const EngineConfig& config, IndexConnection& downloadConnection,
         IndexConnection& indexerConnection, std::ostream& log, std::ostream& messages);
  ~Spider() override;

 protected:
  void run() override;

 private:
  friend void readConsole(Spider& spider, std::istream& in);

  void handlePage(FetchedPage& page);
  void queueLinks(const std::vector<std::string>& links, int themeWordCount, std::int32_t priority);

  std::atomic<bool> stopRequested{false};
  LoadFile loader;
  IndexConnection connection;
  const EngineConfig* config;
  IndexConnection* indexerConnection;
  std::ostream& log;
  std::ostream& messages;
};

// The log line written before a page is analysed: "PARSE", the priority
// glued to it, a blank and the URL.
[[nodiscard]] std::string parseLine(std::int32_t priority, const std::string& url);

// The priority with which the links of an analysed page are queued: its
// theme-word count when that is not 0, otherwise the page's own priority
// minus one; none (the links are refused) for an off-theme page whose
// priority is below -maxDepth. Compared in 64 bits, so every maxDepth the
// configuration can hold is safe.
[[nodiscard]] std::optional<std::int32_t> linkPriority(int themeWordCount,
                                                       std::int32_t pagePriority,
                                                       std::int32_t maxDepth);
