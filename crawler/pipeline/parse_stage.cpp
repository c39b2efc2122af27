#include "crawler/pipeline/parse_stage.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <unordered_set>
#include <utility>

#include "common/log_line.h"
#include "crawler/pipeline/crawl_log.h"
#include "index/page_validators.h"
#include "index/url_registry.h"

namespace theme_search {

namespace {

// How a fetched page ends once analysed and written.
UrlOutcome pageOutcome(const PageAnalysis& analysis, const PageWriteResult& written) {
  if (analysis.robots.noindex) return UrlOutcome::noindex;
  if (written.duplicateOf) return UrlOutcome::duplicateOf;
  if (analysis.record.canonicalUrl) return UrlOutcome::canonicalOf;
  return UrlOutcome::fetched;
}

// The lines that say how a fetched page ended, when it did not simply get
// its own rows, and that its links are not followed; empty otherwise.
std::string outcomeLines(const std::string& url, UrlOutcome outcome, const PageAnalysis& analysis,
                         const PageWriteResult& written) {
  std::string lines;
  if (outcome == UrlOutcome::noindex) lines += noindexLine(url);
  if (outcome == UrlOutcome::duplicateOf) lines += duplicateLine(url, *written.duplicateOf);
  if (outcome == UrlOutcome::canonicalOf)
    lines += canonicalLine(url, *analysis.record.canonicalUrl);
  if (analysis.robots.nofollow) lines += nofollowLine(url);
  return lines;
}

}  // namespace

ParseStage::ParseStage(const EngineConfig& config, IndexConnection& registry,
                       IndexConnection& indexer, UrlQueue& urls, PageHandover& pages,
                       KnownUrls& known, std::ostream& log, std::ostream& messages,
                       std::ostream* timings, IndexOutage* outage)
    : config(config),
      registry(registry),
      indexer(indexer),
      writer(indexer, [handover = &pages] { return handover->isClosed(); }),
      urls(urls),
      pages(pages),
      known(known),
      log(log),
      messages(messages),
      timings(timings),
      outage(outage),
      analysisThread(&ParseStage::analyseAll, this),
      thread(&ParseStage::run, this) {}

ParseStage::~ParseStage() {
  finish();
}

void ParseStage::finish() {
  if (analysisThread.joinable()) analysisThread.join();
  if (thread.joinable()) thread.join();
}

// Runs database work through the outages of the index; a close of the
// hand-over ends the wait. False when the close came first.
template <class Work>
bool ParseStage::throughOutages(IndexConnection& connection, Work&& work) {
  if (!outage) {
    work();
    return true;
  }
  return outage->run(
      connection, [this](auto deadline) { return !pages.waitForCloseUntil(deadline); }, work);
}

// The analysis thread: every page in fetch order, the fetched ones analysed.
// It closes the queue to the writing thread when it ends, whatever ends it.
void ParseStage::analyseAll() {
  try {
    analyseEach();
  } catch (const std::exception& error) {
    // Last resort: an exception leaving a thread would end the process.
    writeLog(log, threadErrorLine(error.what()));
  }
  analysed.close();
}

void ParseStage::analyseEach() {
  while (std::optional<FetchedPage> page = pages.pop()) {
    AnalysedPage entry;
    if (page->outcome == UrlOutcome::fetched) {
      writeLog(log, parseLine(page->priority, page->url));
      const auto start = std::chrono::steady_clock::now();
      // Any failure such as memory running out while a large page is
      // analysed costs this one page, never the stage.
      try {
        entry.analysis = analysePage(page->url, std::move(page->content), config);
        if (entry.analysis->conversionFailure)
          writeLog(log, conversionErrorLine(page->url, *entry.analysis->conversionFailure));
      } catch (const std::exception& error) {
        entry.analysis.reset();
        entry.analysisError = error.what();
      }
      entry.analysisTime = std::chrono::steady_clock::now() - start;
    }
    entry.page = std::move(*page);
    const std::size_t entries = entry.entries();
    if (!analysed.push(std::move(entry), entries)) break;
  }
}

// The writing thread: the pages in the order they were fetched.
void ParseStage::run() {
  while (std::optional<AnalysedPage> entry = analysed.pop()) {
    if (!take(*entry)) urls.handled();
    if (analysed.size() == 0 || group.size() >= maxGroupPages || groupEntries >= maxGroupEntries)
      writeGroup();
  }
  // Closed: the pages analysed are not written now (the writer would stop
  // at once); they are kept for the next run.
  for (AnalysedPage& entry : group) interrupted.push_back(entry.page);
  for (AnalysedPage& entry : analysed.drain()) interrupted.push_back(entry.page);
  group.clear();
  groupEntries = 0;
  writeInvalid();
}

// Deals with one page; true when it waits, analysed, for its group to be
// written (its item is handled then), false when it is dealt with.
bool ParseStage::take(AnalysedPage& entry) {
  FetchedPage& page = entry.page;
  switch (page.outcome) {
    case UrlOutcome::fetched:
      ++counts.fetched;
      if (!entry.analysis) {
        ++counts.errors;
        writeLog(log, parseErrorLine(page.url, entry.analysisError));
        break;
      }
      // A URL that another page's record goes under holds rows already (or
      // will, once its group is written).
      entry.replacing = page.revisit || canonicalTargets.count(page.url) != 0;
      if (entry.analysis->record.canonicalUrl)
        canonicalTargets.insert(*entry.analysis->record.canonicalUrl);
      groupEntries += entry.entries();
      group.push_back(std::move(entry));
      return true;
    case UrlOutcome::failed:
    case UrlOutcome::gone:
    case UrlOutcome::outsideSite:
      if (page.outcome != UrlOutcome::outsideSite) ++counts.errors;
      if (page.revisit && page.outcome != UrlOutcome::outsideSite) {
        writeInvalid();
        settleRevisit(page);
        break;
      }
      // Such URLs come in runs: they go into UrlInvalide together, as soon
      // as no page waits or a group of pages is written.
      invalid.push_back(InvalidUrl{std::move(page.url), std::move(page.reason)});
      if (analysed.size() == 0) writeInvalid();
      break;
    case UrlOutcome::notModified:
      writeInvalid();
      settleUnchanged(page);
      break;
    case UrlOutcome::alreadyKnown:
    case UrlOutcome::refusedByRobots:
      break;
    case UrlOutcome::stopped:
      interrupted.push_back(page);
      break;
    case UrlOutcome::noindex:
    case UrlOutcome::canonicalOf:
    case UrlOutcome::duplicateOf:
      break;  // this stage's own conclusions about a fetched page (settleWritten)
  }
  return false;
}

// A page of the index fetched again that failed: one the server says is gone
// leaves the index and is recorded invalid; after any other failure the
// earlier visit stays.
void ParseStage::settleRevisit(const FetchedPage& page) {
  if (page.outcome == UrlOutcome::gone) {
    writeGroup();
    try {
      if (!throughOutages(registry, [&] { removePage(registry, page.url, page.reason); })) return;
      writeLog(log, pageRemovedLine(page.url, page.reason));
    } catch (const mysqlpp::Exception& error) {
      writeLog(log, databaseErrorLine(page.url, error.what()));
    } catch (const std::exception& error) {
      writeLog(log, parseErrorLine(page.url, error.what()));
    }
  }
  urls.finished(page.url);
}

// A page of the index found unchanged keeps its rows; its visit is recorded.
void ParseStage::settleUnchanged(const FetchedPage& page) {
  writeGroup();
  try {
    if (!throughOutages(registry, [&] { recordUnchangedVisit(registry, page.url); })) {
      interrupted.push_back(page);
      return;
    }
    writeLog(log, notModifiedLine(page.url, page.reason));
  } catch (const mysqlpp::Exception& error) {
    writeLog(log, databaseErrorLine(page.url, error.what()));
  }
}

// Writes the URLs waiting for UrlInvalide in one transaction; when that is
// rejected, in one transaction each, so that a failure names its URL. A URL
// written is known from then on, and no longer held by the URL queue.
void ParseStage::writeInvalid() {
  if (invalid.empty()) return;
  writeGroup();
  std::vector<InvalidUrl> written = std::exchange(invalid, {});
  const auto markTogether = [this](const std::vector<InvalidUrl>& urls) {
    Transaction transaction(registry);
    markAllInvalid(registry, urls);
    transaction.commit();
  };
  try {
    // Stopped while the server is away: the stop cannot save anything either.
    if (!throughOutages(registry, [&] { markTogether(written); })) return;
  } catch (const mysqlpp::Exception&) {
    std::vector<InvalidUrl> marked;
    for (InvalidUrl& url : written) {
      try {
        markTogether({url});
        marked.push_back(std::move(url));
      } catch (const mysqlpp::Exception& error) {
        writeLog(log, databaseErrorLine(url.url, error.what()));
      } catch (const std::exception& error) {
        writeLog(log, parseErrorLine(url.url, error.what()));
      }
    }
    written.swap(marked);
  } catch (const std::exception& error) {
    for (const InvalidUrl& url : written) writeLog(log, parseErrorLine(url.url, error.what()));
    return;
  }
  for (const InvalidUrl& url : written) {
    known.add(url.url);
    urls.finished(url.url);
  }
}

// Writes the group of analysed pages, then settles each: its lines, its
// links (looked up together), its item in the URL queue.
void ParseStage::writeGroup() {
  if (group.empty()) return;
  std::vector<AnalysedPage> pagesWritten = std::exchange(group, {});
  groupEntries = 0;
  std::vector<PageToWrite> writes;
  writes.reserve(pagesWritten.size());
  for (const AnalysedPage& entry : pagesWritten)
    writes.push_back(PageToWrite{entry.page.url, &entry.analysis->record, entry.replacing});
  std::vector<PageWriteResult> written;
  bool done = false;
  try {
    // A lost session has the whole group written again on a new one.
    done = throughOutages(indexer, [&] { written = writer.writeGroup(writes); });
  } catch (const std::exception&) {
    // The group's transaction ended (a deadlock, a refused commit): each
    // page alone, so that a failure is its own page's.
    written = writeEachAlone(writes);
    done = written.size() == writes.size();
  }
  if (!done ||
      std::any_of(written.begin(), written.end(), [](const auto& w) { return w.stopped; })) {
    for (AnalysedPage& entry : pagesWritten) {
      interrupted.push_back(entry.page);
      urls.handled();
    }
    return;
  }
  // The links of the whole group in one question to the index; what it
  // knows is remembered in `known`. Stopped while the server is away, every
  // link counts as unknown: queued, and saved by the stop.
  std::vector<std::string> links;
  for (std::size_t i = 0; i < pagesWritten.size(); ++i)
    if (!written[i].failure)
      links.insert(links.end(), pagesWritten[i].analysis->links.begin(),
                   pagesWritten[i].analysis->links.end());
  const auto askedBefore = registry.statementTime();
  bool looked = true;
  try {
    looked = links.empty() ||
             throughOutages(registry, [&] { static_cast<void>(known.lookUp(registry, links)); });
  } catch (const mysqlpp::Exception& error) {
    ++counts.errors;
    writeLog(log, databaseErrorLine(pagesWritten.front().page.url, error.what()));
    looked = false;
  }
  const auto asked = (registry.statementTime() - askedBefore) / pagesWritten.size();
  for (std::size_t i = 0; i < pagesWritten.size(); ++i) {
    settleWritten(pagesWritten[i], written[i], looked, asked);
    urls.handled();
  }
  writeInvalid();
}

// The pages of a group whose transaction failed, each in a transaction of
// its own; fewer results than pages when a stop came first.
std::vector<PageWriteResult> ParseStage::writeEachAlone(const std::vector<PageToWrite>& writes) {
  std::vector<PageWriteResult> results;
  for (const PageToWrite& page : writes) {
    PageWriteResult& result = results.emplace_back();
    try {
      const auto waitedBefore = indexer.statementTime();
      if (!throughOutages(indexer,
                          [&] { result = writer.write(page.url, *page.record, page.replacing); })) {
        results.pop_back();
        return results;
      }
      result.databaseTime = indexer.statementTime() - waitedBefore;
    } catch (const std::exception& error) {
      result = PageWriteResult{};
      result.failure = error.what();
    }
  }
  return results;
}

// A written page: its messages and outcome lines, its links queued or
// refused (`looked`: the index was asked about them), its timing line.
void ParseStage::settleWritten(AnalysedPage& entry, const PageWriteResult& written, bool looked,
                               std::chrono::nanoseconds lookUpTime) {
  FetchedPage& page = entry.page;
  const PageAnalysis& analysis = *entry.analysis;
  if (written.failure) {
    ++counts.errors;
    writeLog(log, databaseErrorLine(page.url, *written.failure));
    return;
  }
  if (!written.messages.empty()) writeLog(messages, written.messages);
  page.outcome = pageOutcome(analysis, written);
  if (page.outcome == UrlOutcome::canonicalOf) known.add(*analysis.record.canonicalUrl);
  // A page on theme counts once its record is in the index.
  if (analysis.record.themeWordCount != 0 && page.outcome != UrlOutcome::duplicateOf)
    ++counts.onTheme;
  const std::string lines = outcomeLines(page.url, page.outcome, analysis, written);
  if (!lines.empty()) writeLog(log, lines);
  queueLinks(analysis.links, analysis.themeWordCount, page.priority, looked);
  if (timings)
    writeLog(*timings,
             timingLine(entry.analysisTime + written.databaseTime + lookUpTime, analysis.scanTime,
                        written.databaseTime + lookUpTime, analysis.themeWordCount, page.url));
}

std::optional<std::int32_t> linkPriority(int themeWordCount, std::int32_t pagePriority,
                                         std::int32_t maxDepth) {
  if (themeWordCount != 0) return themeWordCount;
  if (std::int64_t{pagePriority} < -std::int64_t{maxDepth}) return std::nullopt;
  return pagePriority - 1;
}

void ParseStage::queueLinks(const std::vector<std::string>& links, int themeWordCount,
                            std::int32_t priority, bool looked) {
  const std::optional<std::int32_t> queued =
      linkPriority(themeWordCount, priority, config.maxDepth);
  if (!queued) {
    if (looked) refuseLinks(links);
    return;
  }
  for (const std::string& link : links)
    if (!looked || !known.contains(link)) urls.push(CrawlItem(link, *queued));
}

// Records the links of a page past the depth limit as invalid, each once,
// except those with a fate of their own: queued or being fetched, or known
// to the index (asked before, and remembered in `known`; a URL fetched
// since is there too, added before it leaves the queue).
void ParseStage::refuseLinks(const std::vector<std::string>& links) {
  std::unordered_set<std::string> seen;
  for (const std::string& link : links) {
    if (link.size() > kMaxUrlBytes || !seen.insert(link).second || urls.holds(link) ||
        known.contains(link))
      continue;
    invalid.push_back(InvalidUrl{link, kDepthLimitReason});
    writeLog(log, depthLimitLine(link));
  }
}

std::string timingLine(std::chrono::nanoseconds total, std::chrono::nanoseconds scanning,
                       std::chrono::nanoseconds database, int themeWordCount,
                       const std::string& url) {
  using std::chrono::microseconds;
  const auto us = [](std::chrono::nanoseconds span) {
    return std::to_string(std::chrono::duration_cast<microseconds>(span).count());
  };
  return us(total) + "\t" + us(scanning) + "\t" + us(database) + "\t" +
         std::to_string(themeWordCount) + "\t" + url + "\n";
}

}  // namespace theme_search
