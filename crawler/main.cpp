// The crawler: opens the index connections, reads the configuration, starts
// the crawl and queues the start URLs typed on standard input until "exit".
#include <iostream>
#include <optional>

#include "console.h"
#include "engine_config.h"
#include "index_connection.h"
#include "log_write.h"
#include "spider.h"

namespace {

int reportConnectionFailure(const mysqlpp::Exception& error) {
  writeLog(std::cerr, std::string("cannot connect to the index database: ") + error.what() + "\n");
  return 1;
}

}  // namespace

int main() {
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

  const EngineConfig config("engineconfig.cfg");
  try {
    Spider spider(config, *downloadConnection, *indexerConnection, std::cerr, std::cout);
    readConsole(spider, std::cin);
  } catch (const ThreadError& error) {
    writeLog(std::cerr, std::string(error.what()) + "\n");
    return 1;
  } catch (const mysqlpp::Exception& error) {
    return reportConnectionFailure(error);
  }
  return 0;
}
