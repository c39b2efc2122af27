#include "crawler/pipeline/index_outage.h"

#include <algorithm>

#include "common/log_line.h"
#include "crawler/pipeline/crawl_log.h"

namespace theme_search {

namespace {

// Opens the session again; false when the server cannot be reached (any
// failure counts: a server that is starting may refuse in other ways).
bool reopened(IndexConnection& connection) {
  try {
    connection.reconnect();
    return true;
  } catch (const mysqlpp::Exception&) {
    return false;
  }
}

}  // namespace

std::chrono::seconds IndexOutage::nextPause(std::chrono::seconds pause) {
  return std::min(pause * 2, longestPause);
}

IndexOutage::Restored IndexOutage::restore(IndexConnection& connection, const Sleep& sleep,
                                           const std::string& reason) {
  if (reopened(connection)) {
    reportBack();
    return Restored::atOnce;
  }
  reportLost(reason);
  for (std::chrono::seconds pause = firstPause;; pause = nextPause(pause)) {
    if (!sleep(std::chrono::steady_clock::now() + pause)) return Restored::stopped;
    if (reopened(connection)) {
      reportBack();
      return Restored::afterWaiting;
    }
  }
}

void IndexOutage::reportLost(const std::string& reason) {
  const std::lock_guard<std::mutex> hold(mutex);
  if (down) return;
  down = true;
  writeLog(log, databaseUnavailableLine(reason));
}

void IndexOutage::reportBack() {
  const std::lock_guard<std::mutex> hold(mutex);
  if (!down) return;
  down = false;
  writeLog(log, databaseBackLine());
}

}  // namespace theme_search
