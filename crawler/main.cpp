// The crawler: reads its options, opens the index connections, reads the
// configuration, starts the crawl and queues the start URLs given with
// --start; then, in console mode, those typed on standard input until
// "exit", the end of the input, SIGINT or SIGTERM, or in batch mode
// (--until-idle) nothing more, until the crawl is idle or a stop signal
// comes. Then it stops the crawl in order.
#include <curl/curl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "common/log_line.h"
#include "crawler/analysis/document_text.h"
#include "crawler/config/command_line.h"
#include "crawler/config/config_reader.h"
#include "crawler/pipeline/console.h"
#include "crawler/pipeline/crawl.h"
#include "crawler/pipeline/crawl_log.h"
#include "index/connection_settings.h"
#include "index/index_connection.h"

namespace {

using namespace theme_search;

// Exit statuses: a run that ended in order, a failure while running (or,
// in console mode, no index at start), and a bad command line or
// configuration (or, in batch mode, no index at start).
constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadSetup = 2;

// libcurl's process-wide state, set up before any thread starts.
struct HttpLibrary {
  HttpLibrary() { curl_global_init(CURL_GLOBAL_DEFAULT); }
  ~HttpLibrary() { curl_global_cleanup(); }
  HttpLibrary(const HttpLibrary&) = delete;
  HttpLibrary& operator=(const HttpLibrary&) = delete;
};

// A database failure at start: batch mode must not look like a run that
// only failed on the way, for whoever schedules it.
int reportConnectionFailure(const mysqlpp::Exception& error, const CrawlerOptions& options) {
  writeLog(std::cerr, connectionFailureLine(error.what()));
  return options.untilIdle ? kBadSetup : kFailed;
}

// The configuration with the settings that come from the command line and
// the environment; nullopt, after its messages, when no crawl may start.
std::optional<EngineConfig> readSettings(const CrawlerOptions& options) {
  ConfigReading reading = readEngineConfig("engineconfig.cfg");
  if (!reading.messages.empty()) writeLog(std::cout, reading.messages);
  if (!reading.usable) {
    if (!reading.mistake.empty()) writeLog(std::cout, reading.mistake);
    return std::nullopt;
  }
  reading.config.polite = options.polite;
  reading.config.sitemaps = options.sitemaps;
  if (const char* caFile = std::getenv("SE_CA_FILE")) reading.config.extraCaFile = caFile;
  if (const char* language = std::getenv("SE_LANGUAGE"); language && *language)
    reading.config.defaultLanguage = language;
  return reading.config;
}

// Feeds the crawl until the run should end: the console, or in batch mode
// the crawl's own idleness, with a stop signal ending either.
void driveCrawl(Crawl& crawl, const CrawlerOptions& options, const StopSignals& stopSignals) {
  for (const std::string& url : options.startUrls) crawl.addStartUrl(url);
  if (!options.untilIdle) {
    readConsole([&crawl](const std::string& word) { crawl.addStartUrl(word); }, STDIN_FILENO,
                stopSignals.wakeDescriptor());
    return;
  }
  std::optional<StopSignalWatch> watch;
  {
    const BlockedSignals forThreads({SIGINT, SIGTERM});
    watch.emplace(stopSignals.wakeDescriptor(), [&crawl] { crawl.interrupt(); });
  }
  static_cast<void>(crawl.waitUntilIdle());
}

int runCrawler(const CrawlerOptions& options) {
  // A server that closes a connection must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  const StopSignals stopSignals;
  const HttpLibrary httpLibrary;
  const ConnectionSettings settings = ConnectionSettings::fromEnvironment();
  writeLog(std::cerr, builtInSettingsWarning("crawler", settings));
  if (!settings.error.empty()) {
    writeLog(std::cerr, "crawler: " + settings.error + "\n");
    return kBadSetup;
  }
  // The download stage's and the keyword indexer's connections, each used
  // by one crawl thread only; opened before anything else is read.
  std::optional<IndexConnection> downloadConnection;
  std::optional<IndexConnection> indexerConnection;
  try {
    downloadConnection.emplace(settings);
    indexerConnection.emplace(settings);
  } catch (const mysqlpp::Exception& error) {
    return reportConnectionFailure(error, options);
  }
  const std::optional<EngineConfig> config = readSettings(options);
  if (!config) return kBadSetup;
  // SE_PARSE_TIMINGS names a file for the parse stage's timing lines (the
  // crawl benchmark reads them); unset, no timings are written.
  std::ofstream timings;
  if (const char* path = std::getenv("SE_PARSE_TIMINGS")) timings.open(path);
  // Conversion files of a run that was killed.
  removeLeftoverTemporaryFiles();
  try {
    std::optional<Crawl> crawl;
    {
      // The crawl's threads start with the stop signals blocked: the
      // signals wake the console, on this thread.
      const BlockedSignals forThreads({SIGINT, SIGTERM});
      crawl.emplace(*config, *downloadConnection, *indexerConnection, std::cerr, std::cout,
                    timings.is_open() ? &timings : nullptr, options.refreshDays);
    }
    driveCrawl(*crawl, options, stopSignals);
    crawl->stop();
  } catch (const std::system_error& error) {
    writeLog(std::cerr, threadStartFailureLine(error.what()));
    return kFailed;
  } catch (const mysqlpp::Exception& error) {
    return reportConnectionFailure(error, options);
  }
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLineReading line = readCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!line.error.empty()) {
    writeLog(std::cerr, line.error + crawlerUsage());
    return kBadSetup;
  }
  if (line.options.help) {
    writeLog(std::cout, crawlerUsage());
    return kDone;
  }
  if (line.options.version) {
    writeLog(std::cout, "crawler (theme search) " THEME_SEARCH_VERSION "\n");
    return kDone;
  }
  return runCrawler(line.options);
}
