#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

#include "crawler/pipeline/stage_queues.h"

namespace theme_search {

// What the crawl has done so far, counted by the parse stage as it takes
// each page and read by the progress report from its own thread: pages
// fetched, on-theme pages indexed, and errors (downloads that failed, pages
// that could not be analysed or written).
struct CrawlTally {
  std::atomic<std::uint64_t> fetched{0};
  std::atomic<std::uint64_t> onTheme{0};
  std::atomic<std::uint64_t> errors{0};
};

// The figures of one progress line.
struct ProgressFigures {
  std::uint64_t fetched = 0;
  std::size_t queued = 0;
  std::uint64_t onTheme = 0;
  std::uint64_t errors = 0;
  double pagesPerSecond = 0;
};

// "PROGRESS fetched 120 queued 45 on-theme 80 errors 2 rate 23.5 pages/s",
// the rate with one decimal, and a line end.
[[nodiscard]] std::string progressLine(const ProgressFigures& figures);

// The progress report: while the crawl has work (URLs queued or in
// flight, UrlQueue::busy), its thread writes a progress line to `log` every
// `interval`; the rate is the pages fetched since the last line (or since
// the work began) over the time since then. While the crawl is idle it
// writes nothing and wakes for nothing: it waits for work on the queue,
// and only then arms its timed wait.
//
// The thread starts in the constructor; the destructor ends the timed wait
// and joins the thread, so the owner closes the URL queue first (which ends
// a wait for work). The queue, the tally and the stream must outlive the
// object. Not copyable.
class ProgressReport {
 public:
  ProgressReport(UrlQueue& urls, const CrawlTally& tally, std::ostream& log,
                 std::chrono::milliseconds interval = std::chrono::seconds(5));
  ~ProgressReport();
  ProgressReport(const ProgressReport&) = delete;
  ProgressReport& operator=(const ProgressReport&) = delete;

 private:
  void run();
  // Waits one interval; false when the report is being stopped.
  bool waitInterval();

  UrlQueue& urls;
  const CrawlTally& tally;
  std::ostream& log;
  const std::chrono::milliseconds interval;
  std::mutex mutex;
  std::condition_variable stopping;
  bool stopped = false;
  std::thread thread;
};

}  // namespace theme_search
