#include "crawler/pipeline/parse_stage.h"

#include <chrono>
#include <exception>
#include <unordered_set>
#include <utility>

#include "common/log_line.h"
#include "crawler/analysis/page_analysis.h"
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
      thread(&ParseStage::run, this) {}

ParseStage::~ParseStage() {
  finish();
}

void ParseStage::finish() {
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

void ParseStage::run() {
  while (std::optional<FetchedPage> page = pages.pop()) {
    take(*page);
    urls.handled();
  }
  writeInvalid();
}

void ParseStage::take(FetchedPage& page) {
  switch (page.outcome) {
    case UrlOutcome::fetched:
      ++counts.fetched;
      writeInvalid();
      // A database error, or any other failure such as memory running out
      // while a large page is analysed, costs this one page, never the
      // stage.
      try {
        handlePage(page);
      } catch (const mysqlpp::Exception& error) {
        ++counts.errors;
        writeLog(log, databaseErrorLine(page.url, error.what()));
      } catch (const std::exception& error) {
        ++counts.errors;
        writeLog(log, parseErrorLine(page.url, error.what()));
      }
      break;
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
      // as no page waits or a page with content comes.
      invalid.push_back(InvalidUrl{std::move(page.url), std::move(page.reason)});
      if (pages.size() == 0) writeInvalid();
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
      break;  // this stage's own conclusions about a fetched page (handlePage)
  }
}

// A page of the index fetched again that failed: one the server says is gone
// leaves the index and is recorded invalid; after any other failure the
// earlier visit stays.
void ParseStage::settleRevisit(const FetchedPage& page) {
  if (page.outcome == UrlOutcome::gone) {
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

void ParseStage::handlePage(FetchedPage& page) {
  writeLog(log, parseLine(page.priority, page.url));
  const auto start = std::chrono::steady_clock::now();
  const auto waitedBefore = registry.statementTime() + indexer.statementTime();
  const PageAnalysis analysis = analysePage(page.url, std::move(page.content), config);
  if (analysis.conversionFailure)
    writeLog(log, conversionErrorLine(page.url, *analysis.conversionFailure));
  // A lost session has the whole page written again on a new one. A URL
  // that another page's record was written under holds rows already.
  const bool replacing = page.revisit || canonicalTargets.count(page.url) != 0;
  PageWriteResult written;
  const bool done = throughOutages(
      indexer, [&] { written = writer.write(page.url, analysis.record, replacing); });
  if (!done || written.stopped) {
    interrupted.push_back(page);
    return;
  }
  if (!written.messages.empty()) writeLog(messages, written.messages);
  page.outcome = pageOutcome(analysis, written);
  if (page.outcome == UrlOutcome::canonicalOf) {
    canonicalTargets.insert(*analysis.record.canonicalUrl);
    known.add(*analysis.record.canonicalUrl);
  }
  // A page on theme counts once its record is in the index.
  if (analysis.record.themeWordCount != 0 && page.outcome != UrlOutcome::duplicateOf)
    ++counts.onTheme;
  const std::string lines = outcomeLines(page.url, page.outcome, analysis, written);
  if (!lines.empty()) writeLog(log, lines);
  queueLinks(analysis.links, analysis.themeWordCount, page.priority);
  if (timings)
    writeLog(*timings, timingLine(std::chrono::steady_clock::now() - start, analysis.scanTime,
                                  registry.statementTime() + indexer.statementTime() - waitedBefore,
                                  analysis.themeWordCount, page.url));
}

std::optional<std::int32_t> linkPriority(int themeWordCount, std::int32_t pagePriority,
                                         std::int32_t maxDepth) {
  if (themeWordCount != 0) return themeWordCount;
  if (std::int64_t{pagePriority} < -std::int64_t{maxDepth}) return std::nullopt;
  return pagePriority - 1;
}

void ParseStage::queueLinks(const std::vector<std::string>& links, int themeWordCount,
                            std::int32_t priority) {
  const std::optional<std::int32_t> queued =
      linkPriority(themeWordCount, priority, config.maxDepth);
  if (!queued) {
    refuseLinks(links);
    return;
  }
  std::vector<bool> isKnown;
  // Stopped while the server is away: every link is queued, and the stop
  // saves them; the next run asks the index about them before fetching.
  if (!throughOutages(registry, [&] { isKnown = known.lookUp(registry, links); }))
    isKnown.assign(links.size(), false);
  for (std::size_t i = 0; i < links.size(); ++i)
    if (!isKnown[i]) urls.push(CrawlItem(links[i], *queued));
}

// Records the links of a page past the depth limit as invalid, each once,
// except those with a fate of their own: queued or being fetched (asked
// first, so that a URL leaving the queue is known by the time the index is
// asked), or known to the index.
void ParseStage::refuseLinks(const std::vector<std::string>& links) {
  std::vector<std::string> candidates;
  std::unordered_set<std::string> seen;
  for (const std::string& link : links)
    if (link.size() <= kMaxUrlBytes && seen.insert(link).second && !urls.holds(link))
      candidates.push_back(link);
  std::vector<bool> isKnown;
  if (!throughOutages(registry, [&] { isKnown = known.lookUp(registry, candidates); })) return;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (isKnown[i]) continue;
    invalid.push_back(InvalidUrl{candidates[i], kDepthLimitReason});
    writeLog(log, depthLimitLine(candidates[i]));
  }
  writeInvalid();
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
