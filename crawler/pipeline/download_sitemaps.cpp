// The download stage's sitemaps: fetched through the stage's HTTP client
// and politeness, read by readSitemap, their pages queued.
#include <exception>
#include <unordered_map>

#include "common/log_line.h"
#include "common/text.h"
#include "crawler/fetch/http_client.h"
#include "crawler/fetch/reply.h"
#include "crawler/fetch/url_rules.h"
#include "crawler/pipeline/crawl_log.h"
#include "crawler/pipeline/download_stage.h"
#include "index/saved_queue.h"
#include "index/url_registry.h"

namespace theme_search {

namespace {

bool isHttpUrl(const std::string& url) {
  return startsWith(url, kHttpPrefix) || startsWith(url, kHttpsPrefix);
}

}  // namespace

// Reads the sitemaps waiting, those named by a robots.txt read meanwhile
// included, until none waits or the crawl stops; each stops counting as work
// once its pages are queued.
void DownloadStage::readSitemaps() {
  while (!sitemapsToRead.empty() && !stop.requested()) {
    const std::string url = canonicalUrl(std::move(sitemapsToRead.front()));
    sitemapsToRead.pop_front();
    if (sitemapsMet.insert(url).second) followSitemap(url, false);
    urls.handled();
  }
}

// The sitemaps named by the robots.txt files read since the last call, held
// as work from now on. Called while the work that read them (an item, or a
// sitemap) is still held, so the crawl cannot be idle in between.
void DownloadStage::takeRobotsSitemaps() {
  for (std::string& url : politeness->takeSitemaps()) {
    urls.hold();
    sitemapsToRead.push_back(std::move(url));
  }
}

// One sitemap, or an index and the sitemaps it lists. A failure costs this
// sitemap only, never the stage.
void DownloadStage::followSitemap(const std::string& url, bool listedByIndex) {
  try {
    const std::optional<SitemapReading> reading = fetchSitemap(url);
    if (!reading) return;
    if (reading->kind == SitemapReading::Kind::pages) {
      seedFrom(url, reading->entries);
      return;
    }
    if (listedByIndex) {
      writeLog(log, sitemapErrorLine(url, "an index listed by an index, not read"));
      return;
    }
    const std::size_t listed = reading->entries.size();
    writeLog(log, sitemapIndexLine(url, listed, std::min(listed, kMaxIndexedSitemaps)));
    for (std::size_t i = 0; i < listed && i < kMaxIndexedSitemaps && !stop.requested(); ++i) {
      const std::string child = canonicalUrl(reading->entries[i].location);
      if (sitemapsMet.insert(child).second) followSitemap(child, true);
    }
  } catch (const mysqlpp::Exception& error) {
    writeLog(log, databaseErrorLine(url, error.what()));
  } catch (const std::exception& error) {
    writeLog(log, sitemapErrorLine(url, error.what()));
  }
}

// Fetches and reads a sitemap (redirects followed); nullopt, after its
// "ERROR SITEMAP" line, when it cannot be had or is refused, and without a
// line when the crawl stops meanwhile.
std::optional<SitemapReading> DownloadStage::fetchSitemap(const std::string& url) {
  std::string reason = "not an http or https URL";
  if (isHttpUrl(url)) {
    std::optional<std::string> refused;
    if (politeness) {
      refused = politeness->admit(url);
      takeRobotsSitemaps();
    }
    if (refused) {
      if (stop.requested()) return std::nullopt;
      writeLog(log, sitemapErrorLine(url, *refused));
      return std::nullopt;
    }
    FetchResult fetched = httpGetFollowing(config, url, &stop);
    if (politeness) politeness->requestEnded(url);
    if (stop.requested()) return std::nullopt;
    const std::string status = replyStatus(fetched.reply);
    if (!fetched.ok()) {
      reason = std::move(fetched.reason);
    } else if (status != "200") {
      reason = "status " + status;
    } else {
      removeHeader(fetched.reply);
      SitemapReading reading = readSitemap(fetched.reply);
      if (!reading.refusal) return reading;
      reason = std::move(*reading.refusal);
    }
  }
  writeLog(log, sitemapErrorLine(url, reason));
  return std::nullopt;
}

// Queues the sitemap's pages that lie inside the site, that the index does
// not know and that the queue does not hold, each once, with priority 0. Of
// the pages it knows, those whose lastmod is not after their last visit are
// noted, so that a refresh passes them over.
void DownloadStage::seedFrom(const std::string& sitemapUrl,
                             const std::vector<SitemapEntry>& entries) {
  std::vector<std::string> inSite;
  std::vector<std::optional<std::int64_t>> modified;
  std::unordered_set<std::string> seen;
  for (const SitemapEntry& entry : entries) {
    std::string url = canonicalUrl(entry.location);
    if (url.size() > kMaxUrlBytes || !isHttpUrl(url) || !config.inScope(url) ||
        !seen.insert(url).second)
      continue;
    inSite.push_back(std::move(url));
    modified.push_back(entry.lastModified);
  }
  std::vector<bool> isKnown;
  if (!inSite.empty() && !throughOutages([&] { isKnown = known.lookUp(*connection, inSite); }))
    return;
  std::size_t queued = 0;
  std::vector<std::string> dated;
  std::vector<std::int64_t> datedTimes;
  for (std::size_t i = 0; i < inSite.size(); ++i) {
    if (!isKnown[i]) {
      if (urls.holds(inSite[i])) continue;  // queued already, or being fetched
      urls.push(CrawlItem(inSite[i], 0));
      ++queued;
    } else if (modified[i]) {
      dated.push_back(inSite[i]);
      datedTimes.push_back(*modified[i]);
    }
  }
  noteUnchanged(dated, datedTimes);
  writeLog(log, sitemapLine(sitemapUrl, entries.size(), queued));
}

void DownloadStage::noteUnchanged(const std::vector<std::string>& pages,
                                  const std::vector<std::int64_t>& lastModified) {
  if (pages.empty()) return;
  std::unordered_map<std::string, std::int64_t> visits;
  if (!throughOutages([&] { visits = lastVisits(*connection, pages); })) return;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const auto visit = visits.find(pages[i]);
    if (visit == visits.end()) continue;
    if (lastModified[i] <= visit->second)
      unchangedPages.insert(pages[i]);
    else
      unchangedPages.erase(pages[i]);
  }
}

}  // namespace theme_search
