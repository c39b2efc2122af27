// The crawler: reads its options, opens the index connections, reads the
// configuration, starts the crawl and queues the start URLs typed on
// standard input until "exit", the end of the input, SIGINT or SIGTERM;
// then stops the crawl in order.
#include <curl/curl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <system_error>

#include "common/log_line.h"
#include "crawler/analysis/document_text.h"
#include "crawler/config/config_reader.h"
#include "crawler/pipeline/console.h"
#include "crawler/pipeline/crawl.h"
#include "crawler/pipeline/crawl_log.h"
#include "index/index_connection.h"

namespace {

using theme_search::writeLog;

const char kUsage[] =
    "usage: crawler [--polite] [--refresh DAYS]\n"
    "  --polite          obey each host's robots.txt, wait between requests to one\n"
    "                    host (its Crawl-delay, else 1 s) and send a User-Agent\n"
    "  --refresh DAYS    fetch again the site's pages analysed DAYS days ago or\n"
    "                    more, and replace what the index holds for them\n"
    "Start URLs are read from standard input; \"exit\", the end of the input,\n"
    "SIGINT or SIGTERM ends the crawl and saves its queue for the next run.\n"
    "SE_CA_FILE names a PEM file of certificates trusted besides the system's.\n";

// The number of days of --refresh: decimal digits only.
std::optional<unsigned> dayCount(const char* text) {
  if (!text || *text == '\0') return std::nullopt;
  unsigned long days = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return std::nullopt;
    days = days * 10 + static_cast<unsigned>(*digit - '0');
    if (days > 1000000) return std::nullopt;
  }
  return static_cast<unsigned>(days);
}

int reportConnectionFailure(const mysqlpp::Exception& error) {
  writeLog(std::cerr, theme_search::connectionFailureLine(error.what()));
  return 1;
}

// libcurl's process-wide state, set up before any thread starts.
struct HttpLibrary {
  HttpLibrary() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~HttpLibrary() { curl_global_cleanup(); }
  HttpLibrary(const HttpLibrary&) = delete;
  HttpLibrary& operator=(const HttpLibrary&) = delete;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace theme_search;
  bool polite = false;
  std::optional<unsigned> refreshDays;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--polite") == 0) {
      polite = true;
    } else if (std::strcmp(argv[i], "--refresh") == 0 && (refreshDays = dayCount(argv[i + 1]))) {
      ++i;
    } else {
      const bool help = std::strcmp(argv[i], "--help") == 0;
      writeLog(help ? std::cout : std::cerr, kUsage);
      return help ? 0 : 2;
    }
  }
  // A server that closes a connection must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  const StopSignals stopSignals;
  const HttpLibrary httpLibrary;
  // The download stage's and the keyword indexer's connections, each used
  // by one crawl thread only; opened before anything else is read.
  std::optional<IndexConnection> downloadConnection;
  std::optional<IndexConnection> indexerConnection;
  try {
    downloadConnection.emplace();
    indexerConnection.emplace();
  } catch (const mysqlpp::Exception& error) {
    return reportConnectionFailure(error);
  }

  ConfigReading reading = readEngineConfig("engineconfig.cfg");
  if (!reading.messages.empty()) writeLog(std::cout, reading.messages);
  // SE_PARSE_TIMINGS names a file for the parse stage's timing lines (the
  // crawl benchmark reads them); unset, no timings are written.
  std::ofstream timings;
  if (const char* path = std::getenv("SE_PARSE_TIMINGS")) timings.open(path);
  reading.config.polite = polite;
  if (const char* caFile = std::getenv("SE_CA_FILE")) reading.config.extraCaFile = caFile;
  if (const char* language = std::getenv("SE_LANGUAGE"); language && *language)
    reading.config.defaultLanguage = language;
  // Conversion files of a run that was killed.
  removeLeftoverTemporaryFiles();
  try {
    std::optional<Crawl> crawl;
    {
      // The crawl's threads start with the stop signals blocked: the
      // signals wake the console, on this thread.
      const BlockedSignals forThreads({SIGINT, SIGTERM});
      crawl.emplace(reading.config, *downloadConnection, *indexerConnection, std::cerr, std::cout,
                    timings.is_open() ? &timings : nullptr, refreshDays);
    }
    readConsole([&crawl](const std::string& word) { crawl->addStartUrl(word); }, STDIN_FILENO,
                stopSignals.wakeDescriptor());
    crawl->stop();
  } catch (const std::system_error& error) {
    writeLog(std::cerr, threadStartFailureLine(error.what()));
    return 1;
  } catch (const mysqlpp::Exception& error) {
    return reportConnectionFailure(error);
  }
  return 0;
}
