#pragma once

#include <deque>
#include <iosfwd>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "crawler/config/engine_config.h"
#include "crawler/fetch/politeness.h"
#include "crawler/fetch/stop_signal.h"
#include "crawler/pipeline/index_outage.h"
#include "crawler/pipeline/known_urls.h"
#include "crawler/pipeline/stage_queues.h"
#include "crawler/sitemap/sitemap_reader.h"
#include "index/index_connection.h"

namespace theme_search {

// The download stage: its thread takes the highest-priority URL, fetches it
// if it is in the site and unknown to the index (asked only when `known`
// does not already hold it), records it in `known`, and hands
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
// although the index knows it, with the validators of its last visit
// (If-None-Match, If-Modified-Since): a "304" answer ends it notModified, as
// does a sitemap whose lastmod for it is not after its last visit (then it
// is not fetched at all). A fetched page gets its Url row from the parse
// stage, in the transaction that writes its record.
//
// Sitemaps: before it takes each URL, the stage reads the sitemaps waiting,
// each once a run: those of the configuration (the --sitemap option) and
// those that the robots.txt files read under the politeness option name.
// Each counts as work in flight in the URL queue (UrlQueue::hold) from the
// moment it is known, so the crawl is not idle before its pages are queued. A
// sitemap's pages inside the site and unknown to the index are queued with
// priority 0; an index's sitemaps are read in turn (at most
// kMaxIndexedSitemaps of them, none that is an index itself). Each sitemap
// gets one line, "SITEMAP" or, when it cannot be fetched or read or is
// refused (sitemap_reader.h), "ERROR SITEMAP"; the crawl goes on either way.
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
  [[nodiscard]] std::vector<std::string> revisitConditions(const std::string& url);
  void readSitemaps();
  void takeRobotsSitemaps();
  void followSitemap(const std::string& url, bool listedByIndex);
  [[nodiscard]] std::optional<SitemapReading> fetchSitemap(const std::string& url);
  void seedFrom(const std::string& sitemapUrl, const std::vector<SitemapEntry>& entries);
  void noteUnchanged(const std::vector<std::string>& pages,
                     const std::vector<std::int64_t>& lastModified);
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
  // Sitemaps waiting to be read, each held in the URL queue until read, and
  // every sitemap met this run.
  std::deque<std::string> sitemapsToRead;
  std::unordered_set<std::string> sitemapsMet;
  // Pages of the index whose sitemap lastmod is not after their last visit.
  std::unordered_set<std::string> unchangedPages;
  std::thread thread;
};

// Runs database work through the outages of the index, waking at a stop;
// false when a stop came first.
template <class Work>
bool DownloadStage::throughOutages(Work&& work) {
  if (!outage) {
    work();
    return true;
  }
  return outage->run(
      *connection, [this](auto deadline) { return stop.waitUntil(deadline); }, work);
}

// What the HTTP client is given for a URL: the URL without its first seven
// characters when they are exactly "http://", otherwise the whole URL (an
// "https://" URL is fetched over TLS).
[[nodiscard]] std::string downloadTarget(const std::string& url);

}  // namespace theme_search
