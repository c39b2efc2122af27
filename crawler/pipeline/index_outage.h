#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

#include "index/index_connection.h"

namespace theme_search {

// How the crawl lives through losses of its index connections, and
// through transactions the server rolls back because another writer's
// conflicted with them. Work whose session was lost (an idle time-out, a
// server restart) is sent again, once, on a new session. While the server
// stays away the crawl says so once, on the log, and waits with a growing
// pause between tries instead of giving URLs up; it says so again when the
// server is back. A reconnection that lands on another server of the
// settings' list than the session before says where the index is reached
// now; the work is then sent again whole on that server. Work rolled back
// in a conflict is sent again, silently.
//
// One object is shared by both stages (every operation takes the lock), so
// an outage that both stages meet is reported once. The log stream must
// outlive it.
class IndexOutage {
 public:
  // Waits until the deadline; false when a stop cut the wait short.
  using Sleep = std::function<bool(std::chrono::steady_clock::time_point)>;

  explicit IndexOutage(std::ostream& log) : log(log) {}
  IndexOutage(const IndexOutage&) = delete;
  IndexOutage& operator=(const IndexOutage&) = delete;

  // Runs `work`, which sends its statements on `connection` (a transaction
  // of its own included). When the session is lost, the connection is opened
  // again and `work` runs again; while the server cannot be reached, it is
  // tried again after 1 s, 2 s, 4 s ... at most 30 s apart, until it answers
  // or `sleep` reports a stop. Returns true once `work` has run through,
  // false on a stop (then `work` may have run in part: its transaction, if
  // any, was lost with the session). Blocks the calling thread. A loss right
  // after a reconnection that succeeded at once is thrown on, as is every
  // other failure, so one piece of work that breaks the session cannot
  // stall the crawl.
  //
  // Work that the server rolled back whole to settle a conflict with
  // another writer's transaction (isTransactionConflict: another crawler
  // adding the same keyword, through this server or another node of a
  // cluster) runs again at once, at most maxConflictRetries times; the
  // conflict after that is thrown on.
  template <class Work>
  [[nodiscard]] bool run(IndexConnection& connection, const Sleep& sleep, Work&& work) {
    bool resent = false;
    int conflicts = 0;
    while (true) {
      try {
        work();
        return true;
      } catch (const mysqlpp::Exception& failure) {
        if (isTransactionConflict(failure) && conflicts < maxConflictRetries) {
          ++conflicts;
          continue;
        }
        if (resent || !isConnectionLoss(failure)) throw;
        switch (restore(connection, sleep, failure.what())) {
          case Restored::atOnce:
            resent = true;
            break;
          case Restored::afterWaiting:
            break;
          case Restored::stopped:
            return false;
        }
      }
    }
  }

  // The pause before the next try: doubled, at most 30 s.
  [[nodiscard]] static std::chrono::seconds nextPause(std::chrono::seconds pause);
  static constexpr std::chrono::seconds firstPause{1};
  static constexpr std::chrono::seconds longestPause{30};
  static constexpr int maxConflictRetries = 5;

 private:
  enum class Restored { atOnce, afterWaiting, stopped };

  Restored restore(IndexConnection& connection, const Sleep& sleep, const std::string& reason);
  void reportLost(const std::string& reason);
  // `before` and `now`: the servers the connection was on before it was
  // lost and is on now (IndexConnection::server).
  void reportBack(const std::string& before, const std::string& now);

  std::ostream& log;
  std::mutex mutex;
  bool down = false;
  std::string movedTo;  // the server the last reconnection landed on
};

}  // namespace theme_search
