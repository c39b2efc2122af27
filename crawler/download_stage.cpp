// The download thread's loop: take a URL, fetch it when it is wanted,
// record it, hand the entry to the parse stage.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "http_client.h"
#include "index_connection.h"
#include "load_file.h"
#include "log_write.h"

namespace {

const std::string schemePrefix = "http://";
constexpr auto pauseStep = std::chrono::seconds(5);
constexpr auto stopPollStep = std::chrono::milliseconds(100);

}  // namespace

std::string urlInsertStatement(const std::string& url) {
  return "INSERT IGNORE INTO Url (url, lastVisit) VALUES (" + quote(url) + ", NOW() )";
}

std::string downloadTarget(const std::string& url) {
  return url.compare(0, schemePrefix.size(), schemePrefix) == 0 ? url.substr(schemePrefix.size())
                                                                : url;
}

void LoadFile::run() {
  while (!stopRequested) {
    pauseWhileParserLags();
    FetchedPage& page = newPage();
    static_cast<CrawlItem&>(page) = popUrl();
    if (stopRequested) return;
    fetchInto(page);
    readyPages.post();
  }
}

// Sleeps in 5-second steps while more than maxPendingPages finished pages
// wait; a stop request cuts the sleep short.
void LoadFile::pauseWhileParserLags() {
  while (readyPages.value() > maxPendingPages && !stopRequested) {
    auto wakeUp = std::chrono::steady_clock::now() + pauseStep;
    while (std::chrono::steady_clock::now() < wakeUp && !stopRequested)
      std::this_thread::sleep_for(stopPollStep);
  }
}

// Leaves the entry's content empty unless the URL is in the site, unknown
// to the index and fetched. A database error, or any other failure such as
// memory running out for a large reply, is reported and the entry goes on
// empty: the stage must outlive any one URL.
void LoadFile::fetchInto(FetchedPage& page) {
  try {
    if (!config->inScope(page.url) || downloadConnection->isKnown(page.url)) return;
    download(page);
  } catch (const mysqlpp::Exception& error) {
    writeLog(log, databaseErrorLine(page.url, error.what()));
    page.content.clear();
  } catch (const std::exception& error) {
    std::string().swap(page.content);
    writeLog(log, "ERROR DOWNLOAD " + page.url + " : " + error.what() + "\n");
  }
}

void LoadFile::download(FetchedPage& page) {
  writeLog(log, "PILE URL: " + std::to_string(urlCount.value()) + " -> " +
                    std::to_string(readyPages.value()) + " ");
  if (httpGet(*config, downloadTarget(page.url), page.content, messages)) {
    downloadConnection->executeStatement(urlInsertStatement(page.url));
    return;
  }
  int error = errno;
  writeLog(log, "ERROR DOWNLOAD " + page.url + " : " + std::strerror(error) + "\n");
  page.content.clear();
}
