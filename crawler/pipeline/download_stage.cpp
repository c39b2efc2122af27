#include "crawler/pipeline/download_stage.h"

#include <exception>

#include "common/log_line.h"
#include "crawler/fetch/http_client.h"
#include "crawler/fetch/reply.h"
#include "crawler/fetch/url_rules.h"
#include "crawler/fetch/validators.h"
#include "crawler/pipeline/crawl_log.h"
#include "index/page_validators.h"
#include "index/url_registry.h"

namespace theme_search {

namespace {

// The configuration's sitemaps, each held in the URL queue until read.
std::deque<std::string> heldSitemaps(const EngineConfig& config, UrlQueue& urls) {
  for (std::size_t i = 0; i < config.sitemaps.size(); ++i) urls.hold();
  return std::deque<std::string>(config.sitemaps.begin(), config.sitemaps.end());
}

}  // namespace

std::string downloadTarget(const std::string& url) {
  // The client reads the scheme of an https:// URL itself.
  return url.compare(0, kHttpPrefix.size(), kHttpPrefix) == 0 ? url.substr(kHttpPrefix.size())
                                                              : url;
}

DownloadStage::DownloadStage(const EngineConfig& config, IndexConnection* connection,
                             UrlQueue& urls, PageHandover& pages, KnownUrls& known,
                             std::ostream& log, std::ostream& messages, IndexOutage* outage)
    : config(config),
      connection(connection),
      urls(urls),
      pages(pages),
      known(known),
      log(log),
      messages(messages),
      outage(outage),
      politeness(config.polite ? std::make_unique<Politeness>(config, stop) : nullptr),
      sitemapsToRead(heldSitemaps(config, urls)),
      thread(&DownloadStage::run, this) {}

DownloadStage::~DownloadStage() {
  stop.request();
  thread.join();
}

void DownloadStage::run() {
  // Last resort: an exception leaving a thread would end the whole process.
  try {
    while (pages.waitForRoom()) {
      readSitemaps();
      std::optional<CrawlItem> item = urls.pop();
      if (!item) return;
      const std::string taken = item->url;
      FetchedPage page(std::move(*item));
      if (page.url.size() > kMaxUrlBytes) {
        // Nothing can record it: it is refused here and goes no further.
        writeLog(log, downloadErrorLine(page.url.substr(0, 200) + "...",
                                        "URL over " + std::to_string(kMaxUrlBytes) + " bytes"));
        urls.finished(taken);
        urls.handled();
        continue;
      }
      fetchInto(page);
      // The parse stage settles the URLs it records as invalid.
      if (!recordsInvalid(page.outcome) || page.url != taken) urls.finished(taken);
      pages.push(std::move(page));
    }
  } catch (const std::exception& error) {
    writeLog(log, threadErrorLine(error.what()));
  }
}

// Sets the page's outcome: fetched (the reply in its content) only when the
// URL is in the site, unknown to the index (or typed by the operator and
// not yet a page of the index, or a revisit) and fetched. A URL that this
// crawl knows (it wrote the row, or the parse stage found it in the index)
// is not asked about again; any other URL is, in one statement, because
// another crawler on the same index may have recorded it since the parse
// stage looked. A database error, or any other failure such as memory
// running out for a large reply, is reported and the page fails: the stage
// must outlive any one URL.
void DownloadStage::fetchInto(FetchedPage& page) {
  try {
    page.url = canonicalUrl(std::move(page.url));
    if (!config.inScope(page.url)) {
      page.outcome = UrlOutcome::outsideSite;
      page.reason = kOutsideSiteReason;
      return;
    }
    if (!page.revisit) {
      bool isKnown = false;
      // A typed URL is fetched again when it is only invalid: the operator
      // asks for it, perhaps after mending the configuration.
      const bool done =
          page.requested
              ? throughOutages([&] { isKnown = isFetched(*connection, page.url); })
              : throughOutages([&] { isKnown = known.lookUp(*connection, {page.url}).front(); });
      if (!done) return;
      if (isKnown) {
        if (page.requested) writeLog(log, alreadyIndexedLine(page.url));
        page.outcome = UrlOutcome::alreadyKnown;
        return;
      }
    } else if (unchangedPages.count(page.url) != 0) {
      page.outcome = UrlOutcome::notModified;
      page.reason = kSitemapUnchangedReason;
      return;
    }
    download(page);
  } catch (const mysqlpp::Exception& error) {
    writeLog(log, databaseErrorLine(page.url, error.what()));
    std::string().swap(page.content);
    page.outcome = UrlOutcome::failed;
    page.reason = std::string("database: ") + error.what();
  } catch (const std::exception& error) {
    std::string().swap(page.content);
    page.outcome = UrlOutcome::failed;
    page.reason = error.what();
    writeLog(log, downloadErrorLine(page.url, error.what()));
  }
}

void DownloadStage::download(FetchedPage& page) {
  writeLog(log, queueFragment(urls.size(), pages.size()));
  if (politeness) {
    const std::optional<std::string> refused = politeness->admit(page.url);
    takeRobotsSitemaps();
    if (refused) {
      if (stop.requested()) return;
      writeLog(log, downloadErrorLine(page.url, *refused));
      page.outcome = UrlOutcome::refusedByRobots;
      page.reason = *refused;
      return;
    }
  }
  std::vector<std::string> conditions;
  if (page.revisit && !throughOutages([&] { conditions = revisitConditions(page.url); })) return;
  FetchResult fetched = httpGet(config, downloadTarget(page.url), &stop, conditions);
  if (politeness) politeness->requestEnded(page.url);
  // A transfer cut short by the crawl's end is no download error.
  if (stop.requested()) return;
  if (fetched.outcome == FetchResult::Outcome::notModified) {
    page.outcome = UrlOutcome::notModified;
    page.reason = std::move(fetched.reason);
    return;
  }
  if (fetched.ok()) {
    page.content = std::move(fetched.reply);
    known.add(page.url);
    page.outcome = UrlOutcome::fetched;
    return;
  }
  if (fetched.outcome == FetchResult::Outcome::timedOut) writeLog(messages, kTimeoutLine);
  writeLog(log, downloadErrorLine(page.url, fetched.reason));
  page.outcome = isGoneReply(fetched.reply) ? UrlOutcome::gone : UrlOutcome::failed;
  page.reason = std::move(fetched.reason);
}

// The conditional lines of a revisit, from the validators of its last
// visit. An index made before UrlValidateurs rejects the lookup: the page is
// then fetched whole.
std::vector<std::string> DownloadStage::revisitConditions(const std::string& url) {
  try {
    return conditionalHeaders(readValidators(*connection, url));
  } catch (const MysqlBadQuery& rejected) {
    if (isConnectionLoss(rejected)) throw;
    return {};
  }
}

}  // namespace theme_search
