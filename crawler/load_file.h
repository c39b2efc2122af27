#pragma once

#include <atomic>
#include <iosfwd>
#include <list>
#include <queue>
#include <string>

#include "crawl_item.h"
#include "engine_config.h"
#include "posix_semaphore.h"
#include "thread.h"

class IndexConnection;

// The URL queue: a binary max-heap on priority. Equal priorities leave in
// heap order, not in the order they were pushed (four items of one priority
// pushed 1, 2, 3, 4 leave 1, 3, 2, 4).
using UrlQueue = std::priority_queue<CrawlItem>;

// The download stage and the two queues between the stages. Its thread
// (started by the constructor) takes the highest-priority URL, fetches it if
// it is in the site and unknown to the index, records it in Url, and hands
// the result to the parse stage through the fetched-page list, oldest first.
// Stage lines go to `log`; the HTTP client's time-out message to `messages`.
//
// Threads: the console and the parse thread push URLs; the download thread
// alone pops URLs and appends pages; the parse thread alone waits for, reads
// and removes pages. No operation holds both locks. The configuration, the
// download connection and both streams must outlive the object; the
// connection is used by the download thread only, and may be null only when
// the configuration's site refuses every URL the stage will see.
class LoadFile : public Thread {
 public:
  // Pages finished but not yet taken, above which the stage pauses.
  static constexpr int maxPendingPages = 50;

  // Starts the download thread, which then waits for the first URL.
  LoadFile(const EngineConfig& config, IndexConnection* downloadConnection, std::ostream& log,
           std::ostream& messages);
  // Stops and joins the thread unless stop() did already; drops whatever is
  // still queued or waiting.
  ~LoadFile() override;

  // Queues a copy of the item. Blocks only for the queue's lock.
  void pushUrl(const CrawlItem& item);
  // Takes the highest-priority item; blocks while the queue is empty. After
  // stop() it may return an empty item. Download thread only.
  CrawlItem popUrl();
  // Appends an empty entry to the page list and returns it; the reference
  // stays valid until popPage removes that entry. Download thread only.
  FetchedPage& newPage();
  // Blocks until one more entry is finished (or stop() releases it once).
  // Parse thread only.
  void waitPage();
  // The oldest entry. Parse thread only, after waitPage.
  FetchedPage& frontPage();
  // Removes the oldest entry. Parse thread only.
  void popPage();
  // Asks the download thread to end, releases one waitPage and one blocked
  // popUrl or pause, and joins the thread. Main thread only.
  void stop();

  // Counter values, read without waiting (stale as soon as read).
  [[nodiscard]] int queuedUrlCount() const { return urlCount.value(); }
  [[nodiscard]] int readyPageCount() const { return readyPages.value(); }

 protected:
  void run() override;

 private:
  void pauseWhileParserLags();
  void fetchInto(FetchedPage& page);
  void download(FetchedPage& page);

  std::atomic<bool> stopRequested{false};
  Semaphore pageListLock{1};
  Semaphore urlQueueLock{1};
  Semaphore urlCount{0};
  Semaphore readyPages{0};
  UrlQueue urlQueue;
  std::list<FetchedPage> pageList;
  const EngineConfig* config;
  IndexConnection* downloadConnection;
  std::ostream& log;
  std::ostream& messages;
};

// The statement that records a fetched URL, visited now.
[[nodiscard]] std::string urlInsertStatement(const std::string& url);

// What the HTTP client is given for a URL: the URL without its first seven
// characters when they are exactly "http://", otherwise the whole URL.
[[nodiscard]] std::string downloadTarget(const std::string& url);
