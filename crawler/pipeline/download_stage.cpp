#include "crawler/pipeline/download_stage.h"

#include <exception>

#include "common/log_line.h"
#include "crawler/fetch/http_client.h"
#include "crawler/fetch/url_rules.h"
#include "crawler/pipeline/stage_log.h"
#include "index/sql_text.h"
#include "index/url_registry.h"

namespace theme_search {

namespace {

const std::string schemePrefix = "http://";

}  // namespace

std::string urlInsertStatement(const std::string& url) {
  return "INSERT IGNORE INTO Url (url, lastVisit) VALUES (" + quote(url) + ", NULL )";
}

std::string downloadTarget(const std::string& url) {
  // The client reads the scheme of an https:// URL itself.
  return url.compare(0, schemePrefix.size(), schemePrefix) == 0 ? url.substr(schemePrefix.size())
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
      thread(&DownloadStage::run, this) {}

DownloadStage::~DownloadStage() {
  stop.request();
  thread.join();
}

void DownloadStage::run() {
  // Last resort: an exception leaving a thread would end the whole process.
  try {
    while (pages.waitForRoom()) {
      std::optional<CrawlItem> item = urls.pop();
      if (!item) return;
      FetchedPage page(std::move(*item));
      if (page.url.size() > kMaxUrlBytes) {
        // Nothing can record it: it is refused here and goes no further.
        writeLog(log, downloadErrorLine(page.url.substr(0, 200) + "...",
                                        "URL over " + std::to_string(kMaxUrlBytes) + " bytes"));
        continue;
      }
      fetchInto(page);
      pages.push(std::move(page));
    }
  } catch (const std::exception& error) {
    writeLog(log, threadErrorLine(error.what()));
  }
}

// Leaves the page's content empty unless the URL is in the site, unknown to
// the index and fetched. A URL that this crawl knows (it wrote the row, or
// the parse stage found it in the index) is not asked about again; any
// other URL is, in one statement, because another crawler on the same
// index may have recorded it since the parse stage looked. A database error, or any other failure
// such as memory running out for a large reply, is reported and the page goes on empty: the stage
// must outlive any one URL.
void DownloadStage::fetchInto(FetchedPage& page) {
  try {
    page.url = canonicalUrl(std::move(page.url));
    if (!config.inScope(page.url)) return;
    if (!page.revisit) {
      bool isKnown = false;
      if (!throughOutages([&] { isKnown = known.lookUp(*connection, {page.url}).front(); })) return;
      if (isKnown) return;
    }
    download(page);
  } catch (const mysqlpp::Exception& error) {
    writeLog(log, databaseErrorLine(page.url, error.what()));
    std::string().swap(page.content);
  } catch (const std::exception& error) {
    std::string().swap(page.content);
    writeLog(log, downloadErrorLine(page.url, error.what()));
  }
}

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

void DownloadStage::download(FetchedPage& page) {
  writeLog(log, queueFragment(urls.size(), pages.size()));
  if (politeness) {
    if (std::optional<std::string> refused = politeness->admit(page.url)) {
      if (!stop.requested()) writeLog(log, downloadErrorLine(page.url, *refused));
      return;
    }
  }
  FetchResult fetched = httpGet(config, downloadTarget(page.url), &stop);
  if (politeness) politeness->requestEnded(page.url);
  // A transfer cut short by the crawl's end is no download error.
  if (stop.requested()) return;
  if (fetched.ok()) {
    page.content = std::move(fetched.reply);
    if (!throughOutages([&] { connection->execute(urlInsertStatement(page.url)); })) return;
    known.add(page.url);
    return;
  }
  if (fetched.outcome == FetchResult::Outcome::timedOut) writeLog(messages, "ERROR TIMEOUT\n");
  writeLog(log, downloadErrorLine(page.url, fetched.reason));
}

}  // namespace theme_search
