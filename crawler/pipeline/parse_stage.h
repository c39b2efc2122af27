#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "crawler/analysis/page_analysis.h"
#include "crawler/config/engine_config.h"
#include "crawler/pipeline/index_outage.h"
#include "crawler/pipeline/known_urls.h"
#include "crawler/pipeline/progress_report.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/index_connection.h"
#include "index/page_writer.h"
#include "index/url_registry.h"

namespace theme_search {

// The parse stage: its analysis thread takes the fetched pages in fetch
// order and has each analysed (analysePage); its writing thread, in the same
// order, has each written (PageWriter) and queues the
// page's links that the index does not know, best-first (see linkPriority);
// the links of one page are looked up together, in one statement for those
// `known` does not hold. An off-theme page past the depth limit has its
// links refused instead, except those queued, being fetched or known. A
// page that ends noindex, canonical-of or duplicate-of (UrlOutcome) gets a
// line saying so, and one whose links are not followed (nofollow) too. A URL
// whose download failed or that lies outside the site is recorded as
// invalid with its reason (a run of them in one statement); one that is
// already known or refused by robots.txt is recorded nowhere. A revisit
// that failed keeps its earlier rows, unless the server says it is gone:
// it then leaves the index (removePage). A revisit found unchanged
// (notModified) keeps its rows and gets its visit (lastVisit) and a "NOT
// MODIFIED" line. Once a page is dealt with, its item
// is handled() in the URL queue, so the queue sees the crawl idle only after
// the last page's links are queued. The stage counts the pages it takes in
// tally(): fetched, on theme and indexed (not a noindex page nor one whose
// text repeats another's), and errors.
//
// Analysed pages are written in groups, one transaction a group
// (PageWriter::writeGroup), so that the server flushes its log once a group
// rather than once a page: a group is written as soon as no page waits in
// the hand-over, when it reaches maxGroupPages or maxGroupEntries (which
// bound the memory it holds), and before the stage writes
// anything through the registry connection (which must never wait for the
// group's locks). A page's links are queued, and its item handled, once its
// group is committed. A rejection that ends the group's transaction (a
// deadlock) has each of its pages written again in a transaction of its
// own, so that a failure costs its own page only. The stage ends when the
// hand-over is closed; a group being written then is rolled back, and its
// pages, with those analysed and not yet written, are kept in unfinished().
//
// With `outage` given, work whose index connection was lost is sent again
// on a new session (a group's whole transaction), and while the server is
// away the stage waits (see IndexOutage); a close ends that wait, and the
// pages waiting for the server are kept in unfinished().
//
// The threads start in the constructor; the destructor joins them, so the
// owner closes the hand-over first. The analysis thread uses no database;
// the registry connection (URL lookups and invalid URLs) and the indexer's
// connection are used by the writing thread only, so the analysis of the
// next pages goes on while the server writes a group.
// Stage lines go to `log`, the indexer's messages to `messages`, and, when
// `timings` is given, one line a parsed page: microseconds in all, in the
// scanner or converter, and waiting for the database, then the theme-word
// count and the URL, separated by tabs. Everything passed in must outlive
// the object.
class ParseStage {
 public:
  // The most pages written in one transaction, and the most keywords and
  // links they may hold together (a group that reaches either is written);
  // the same bounds hold the analysed pages waiting for the writing thread.
  static constexpr std::size_t maxGroupPages = 128;
  static constexpr std::size_t maxGroupEntries = 250000;

  ParseStage(const EngineConfig& config, IndexConnection& registry, IndexConnection& indexer,
             UrlQueue& urls, PageHandover& pages, KnownUrls& known, std::ostream& log,
             std::ostream& messages, std::ostream* timings = nullptr,
             IndexOutage* outage = nullptr);
  ~ParseStage();
  ParseStage(const ParseStage&) = delete;
  ParseStage& operator=(const ParseStage&) = delete;

  // The pages taken from the hand-over but not analysed because the stage
  // was stopped first. Read only after the stage has ended (destruction of
  // the thread: call once the hand-over is closed and the owner has joined
  // it through finish()).
  [[nodiscard]] std::vector<CrawlItem> unfinished() const { return interrupted; }
  // Waits for the thread to end; the owner closes the hand-over first.
  // Idempotent.
  void finish();
  // What the stage has counted; read from any thread.
  [[nodiscard]] const CrawlTally& tally() const { return counts; }

 private:
  // A page on its way from the analysis thread to the writing thread: the
  // fetched ones analysed (or why that failed).
  struct AnalysedPage {
    FetchedPage page;
    std::optional<PageAnalysis> analysis;
    std::string analysisError;
    std::chrono::nanoseconds analysisTime{0};
    // Whether the page replaces rows of the index (set when taken).
    bool replacing = false;
    // Its keywords and links, which most of the memory it holds goes to.
    [[nodiscard]] std::size_t entries() const {
      return analysis ? analysis->record.keywords.size() + analysis->links.size() : 0;
    }
  };

  void analyseAll();
  void analyseEach();
  void run();
  bool take(AnalysedPage& entry);
  template <class Work>
  bool throughOutages(IndexConnection& connection, Work&& work);
  void writeGroup();
  std::vector<PageWriteResult> writeEachAlone(const std::vector<PageToWrite>& writes);
  void settleWritten(AnalysedPage& entry, const PageWriteResult& written, bool looked,
                     std::chrono::nanoseconds lookUpTime);
  void writeInvalid();
  void settleRevisit(const FetchedPage& page);
  void settleUnchanged(const FetchedPage& page);
  void refuseLinks(const std::vector<std::string>& links);
  void queueLinks(const std::vector<std::string>& links, int themeWordCount, std::int32_t priority,
                  bool looked);

  const EngineConfig& config;
  IndexConnection& registry;
  IndexConnection& indexer;
  PageWriter writer;
  UrlQueue& urls;
  PageHandover& pages;
  KnownUrls& known;
  std::ostream& log;
  std::ostream& messages;
  std::ostream* timings;
  IndexOutage* outage;
  std::vector<CrawlItem> interrupted;
  // Pages from the analysis thread to the writing thread, in fetch order,
  // weighed by their keywords and links (AnalysedPage::entries).
  BoundedQueue<AnalysedPage> analysed{maxGroupPages, maxGroupEntries};
  // Analysed pages to be written together (one transaction) once no page
  // waits in `analysed`, maxGroupPages are taken or they hold
  // maxGroupEntries keywords and links (groupEntries).
  std::vector<AnalysedPage> group;
  std::size_t groupEntries = 0;
  // URLs that failed or lie outside the site, and refused links, with their
  // reasons, not yet written to UrlInvalide.
  std::vector<InvalidUrl> invalid;
  CrawlTally counts;
  // The canonical URLs that pages were written under in this run: fetched
  // itself later, such a page replaces those rows.
  std::unordered_set<std::string> canonicalTargets;
  std::thread analysisThread;
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

// A line of the parse stage's timing report (see ParseStage).
[[nodiscard]] std::string timingLine(std::chrono::nanoseconds total,
                                     std::chrono::nanoseconds scanning,
                                     std::chrono::nanoseconds database, int themeWordCount,
                                     const std::string& url);

}  // namespace theme_search
