// The crawler: opens the index connections, reads the configuration, starts
// the crawl and queues the start URLs typed on standard input until "exit".
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <system_error>

#include "common/log_line.h"
#include "crawler/config/config_reader.h"
#include "crawler/pipeline/console.h"
#include "crawler/pipeline/crawl.h"
#include "index/index_connection.h"

namespace {

using theme_search::writeLog;

int reportConnectionFailure(const mysqlpp::Exception& error) {
  writeLog(std::cerr, std::string("cannot connect to the index database: ") + error.what() + "\n");
  return 1;
}

}  // namespace

int main() {
  using namespace theme_search;
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

  const ConfigReading reading = readEngineConfig("engineconfig.cfg");
  if (!reading.messages.empty()) writeLog(std::cout, reading.messages);
  // SE_PARSE_TIMINGS names a file for the parse stage's timing lines (the
  // crawl benchmark reads them); unset, no timings are written.
  std::ofstream timings;
  if (const char* path = std::getenv("SE_PARSE_TIMINGS")) timings.open(path);
  try {
    Crawl crawl(reading.config, *downloadConnection, *indexerConnection, std::cerr, std::cout,
                timings.is_open() ? &timings : nullptr);
    readConsole(crawl, std::cin);
  } catch (const std::system_error& error) {
    writeLog(std::cerr, std::string("cannot create thread: ") + error.what() + "\n");
    return 1;
  } catch (const mysqlpp::Exception& error) {
    return reportConnectionFailure(error);
  }
  return 0;
}
