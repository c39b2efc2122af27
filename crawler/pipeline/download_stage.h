#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <thread>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/politeness.h"
#include "crawler/fetch/stop_signal.h"
#include "crawler/pipeline/index_outage.h"
#include "crawler/pipeline/known_urls.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/index_connection.h"

namespace theme_search {

// The download stage: its thread takes the highest-priority URL, fetches it
// if it is in the site and unknown to the index (asked only when `known`
// does not already hold it), records it in Url and in `known`, and hands
// every URL on to the parse stage with its outcome (UrlOutcome; content only
// when fetched). It tells the URL queue that a URL is finished, except those
// the parse stage records as invalid, which that stage finishes; an item it
// drops itself (a URL too long for the index) it also marks handled() in the
// queue, which the parse stage does for every other. It waits
// for room in the hand-over before it takes each URL, and ends when either
// queue is closed. A URL the operator typed (CrawlItem::requested) is
// fetched unless it is in Url, even when UrlInvalide holds it; when it is in
// Url a line says so.
//
// URLs are put in canonical form first (canonicalUrl). Under the
// configuration's politeness option each fetch goes through Politeness
// (robots.txt, delay per host). A revisit (CrawlItem::revisit) is fetched
// although the index knows it. The Url row of a fetched page is written with
// lastVisit NULL: the parse stage sets it when the page is analysed.
//
// With `outage` given, a lost index connection is opened again and the
// statement sent again; while the server is away the stage waits (see
// IndexOutage) and keeps the URL, instead of handing it on empty. A stop
// during that wait, or during a transfer, hands the page on as it is: the
// crawl's stop saves such pages for the next run.
//
// The thread starts in the constructor; the destructor aborts a transfer in
// progress and joins the thread, so the owner closes the queues first.
// Stage lines go to `log`, "ERROR TIMEOUT" to `messages`. The configuration,
// the connection, both queues, the known URLs and both streams must outlive
// the object; the connection is used by this thread
// only, and may be null only when the site refuses every URL it will see.
class DownloadStage {
 public:
  DownloadStage(const EngineConfig& config, IndexConnection* connection, UrlQueue& urls,
                PageHandover& pages, KnownUrls& known, std::ostream& log, std::ostream& messages,
                IndexOutage* outage = nullptr);
  ~DownloadStage();
  DownloadStage(const DownloadStage&) = delete;
  DownloadStage& operator=(const DownloadStage&) = delete;

 private:
  void run();
  void fetchInto(FetchedPage& page);
  void download(FetchedPage& page);
  template <class Work>
  bool throughOutages(Work&& work);

  const EngineConfig& config;
  IndexConnection* connection;
  UrlQueue& urls;
  PageHandover& pages;
  KnownUrls& known;
  std::ostream& log;
  std::ostream& messages;
  IndexOutage* outage;
  StopSignal stop;
  std::unique_ptr<Politeness> politeness;  // null without the option
  std::thread thread;
};

// What the HTTP client is given for a URL: the URL without its first seven
// characters when they are exactly "http://", otherwise the whole URL (an
// "https://" URL is fetched over TLS).
[[nodiscard]] std::string downloadTarget(const std::string& url);

}  // namespace theme_search
