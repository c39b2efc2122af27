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
  const std::string before = connection.server();
  if (reopened(connection)) {
    reportBack(before, connection.server());
    return Restored::atOnce;
  }
  reportLost(reason);
  for (std::chrono::seconds pause = firstPause;; pause = nextPause(pause)) {
    if (!sleep(std::chrono::steady_clock::now() + pause)) return Restored::stopped;
    if (reopened(connection)) {
      reportBack(before, connection.server());
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

void IndexOutage::reportBack(const std::string& before, const std::string& now) {
  const std::lock_guard<std::mutex> hold(mutex);
  std::string lines;
  if (down) lines = databaseBackLine();
  down = false;
  // Both stages' connections usually move together: the move is told once.
  if (now != before && now != movedTo) lines += databaseMovedLine(now);
  movedTo = now;
  if (!lines.empty()) writeLog(log, lines);
}

}  // namespace theme_search
