#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace theme_search {

// Every line the crawler writes, each a whole line (or, for the queue
// fragment, the start of one) written by the stage that owns the stream
// with one write. The configuration reader's messages are with the reader
// (crawler/config/config_reader.h), the index writer's "EXCEPTION" lines
// with the writer (index/page_writer.h).

// Before a fetch: "PILE URL: <queued URLs> -> <waiting pages> ", no line end;
// the next line of the log completes it.
[[nodiscard]] inline std::string queueFragment(std::size_t queuedUrls, std::size_t waitingPages) {
  return "PILE URL: " + std::to_string(queuedUrls) + " -> " + std::to_string(waitingPages) + " ";
}

// A download that failed, with its reason.
[[nodiscard]] inline std::string downloadErrorLine(const std::string& url,
                                                   const std::string& reason) {
  return "ERROR DOWNLOAD " + url + " : " + reason + "\n";
}

// Before a page is analysed: "PARSE", the priority glued to it, a blank and
// the URL.
[[nodiscard]] inline std::string parseLine(std::int32_t priority, const std::string& url) {
  return "PARSE" + std::to_string(priority) + " " + url + "\n";
}

// A link refused at the depth limit.
[[nodiscard]] inline std::string depthLimitLine(const std::string& url) {
  return "LIMITE ATTEINTE: " + url + "\n";
}

// Why a URL is in UrlInvalide, besides the download failures' own reasons.
inline constexpr const char* kOutsideSiteReason = "outside the site";
inline constexpr const char* kDepthLimitReason = "depth limit";
// Why a revisit is not fetched: a sitemap says the page is unchanged.
inline constexpr const char* kSitemapUnchangedReason = "sitemap lastmod not after the last visit";

// A URL the operator typed that is a page of the index already.
[[nodiscard]] inline std::string alreadyIndexedLine(const std::string& url) {
  return "already indexed (--refresh fetches it again): " + url + "\n";
}

// A URL the operator typed that lies outside the configured site.
[[nodiscard]] inline std::string startOutsideSiteLine(const std::string& url) {
  return "not queued, outside the configured site: " + url + "\n";
}

// A statement the index server rejected while one URL was handled; the
// crawl goes on with the next URL.
[[nodiscard]] inline std::string databaseErrorLine(const std::string& url,
                                                   const std::string& serverText) {
  return "ERROR DATABASE " + url + " : " + serverText + "\n";
}

// A page that could not be analysed for a reason other than the index.
[[nodiscard]] inline std::string parseErrorLine(const std::string& url, const std::string& what) {
  return "ERROR PARSE " + url + " : " + what + "\n";
}

// A page that asks not to be indexed (robots meta or X-Robots-Tag).
[[nodiscard]] inline std::string noindexLine(const std::string& url) {
  return "NOINDEX " + url + "\n";
}

// A page that asks that its links not be followed: none is queued.
[[nodiscard]] inline std::string nofollowLine(const std::string& url) {
  return "NOFOLLOW " + url + "\n";
}

// A page indexed under the canonical URL it names.
[[nodiscard]] inline std::string canonicalLine(const std::string& url,
                                               const std::string& canonical) {
  return "CANONICAL " + url + " : indexed as " + canonical + "\n";
}

// A page whose text is that of a page indexed already: it is not indexed.
[[nodiscard]] inline std::string duplicateLine(const std::string& url,
                                               const std::string& original) {
  return "DUPLICATE " + url + " : same text as " + original + "\n";
}

// A page of the index that the server says is gone, taken out of the index.
[[nodiscard]] inline std::string pageRemovedLine(const std::string& url,
                                                 const std::string& reason) {
  return "REMOVED " + url + " : " + reason + "\n";
}

// A page of the index found unchanged since its last visit: the server
// answered "304", or a sitemap's lastmod is not after the visit.
[[nodiscard]] inline std::string notModifiedLine(const std::string& url,
                                                 const std::string& reason) {
  return "NOT MODIFIED " + url + " : " + reason + "\n";
}

// A sitemap read: the URLs it lists, and how many of them were queued (the
// others lie outside the site or are known to the index); an index of
// sitemaps, with the number of sitemaps it lists and, when it lists more
// than are read, the number read.
[[nodiscard]] inline std::string sitemapLine(const std::string& url, std::size_t listed,
                                             std::size_t queued) {
  return "SITEMAP " + url + " : " + std::to_string(listed) + " URLs, " + std::to_string(queued) +
         " queued\n";
}
[[nodiscard]] inline std::string sitemapIndexLine(const std::string& url, std::size_t listed,
                                                  std::size_t read) {
  return "SITEMAP " + url + " : index of " + std::to_string(listed) + " sitemaps" +
         (read < listed ? ", the first " + std::to_string(read) + " read" : std::string()) + "\n";
}

// A sitemap that could not be fetched or read, or was refused; nothing of it
// is used.
[[nodiscard]] inline std::string sitemapErrorLine(const std::string& url,
                                                  const std::string& reason) {
  return "ERROR SITEMAP " + url + " : " + reason + "\n";
}

// The last resort of a stage's thread: any other failure ends the thread
// with this line.
[[nodiscard]] inline std::string threadErrorLine(const std::string& what) {
  return "ERROR THREAD " + what + "\n";
}

// A download that got no data for too long (standard output).
inline constexpr const char* kTimeoutLine = "ERROR TIMEOUT\n";

// A PDF or PostScript document that could not be converted; it is indexed
// with an empty text.
[[nodiscard]] inline std::string conversionErrorLine(const std::string& url,
                                                     const std::string& reason) {
  return "ERROR CONVERSION " + url + " : " + reason + "\n";
}

// The index server went away (the crawl waits), and came back.
[[nodiscard]] inline std::string databaseUnavailableLine(const std::string& reason) {
  return "the index database is unavailable: " + reason + "; waiting\n";
}
[[nodiscard]] inline std::string databaseBackLine() {
  return "the index database is back\n";
}
// A reconnection that landed on another server of the list (SE_DB_HOST).
[[nodiscard]] inline std::string databaseMovedLine(const std::string& server) {
  return "the index database is now reached at " + server + "\n";
}

// The state the crawl takes up at its start and saves at its stop.
[[nodiscard]] inline std::string unanalysedRemovedLine(std::uint64_t pages) {
  return "pages fetched but never analysed, removed to be fetched again: " + std::to_string(pages) +
         "\n";
}
[[nodiscard]] inline std::string queueResumedLine(std::size_t urls) {
  return "URLs queued again from the last run: " + std::to_string(urls) + "\n";
}
[[nodiscard]] inline std::string refreshLine(std::size_t pages) {
  return "pages queued again to refresh them: " + std::to_string(pages) + "\n";
}
[[nodiscard]] inline std::string queueSavedLine(std::size_t urls) {
  return "URLs saved for the next run: " + std::to_string(urls) + "\n";
}
[[nodiscard]] inline std::string queueNotSavedLine(const std::string& reason) {
  return "the queue could not be saved for the next run: " + reason + "\n";
}

// Start-up failures of the crawler's entry (standard error).
[[nodiscard]] inline std::string connectionFailureLine(const std::string& reason) {
  return "cannot connect to the index database: " + reason + "\n";
}
[[nodiscard]] inline std::string threadStartFailureLine(const std::string& reason) {
  return "cannot create thread: " + reason + "\n";
}

}  // namespace theme_search
