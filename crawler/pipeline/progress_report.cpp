#include "crawler/pipeline/progress_report.h"

#include <cstdio>

#include "common/log_line.h"

namespace theme_search {

std::string progressLine(const ProgressFigures& figures) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f", figures.pagesPerSecond);
  return "PROGRESS fetched " + std::to_string(figures.fetched) + " queued " +
         std::to_string(figures.queued) + " on-theme " + std::to_string(figures.onTheme) +
         " errors " + std::to_string(figures.errors) + " rate " + rate + " pages/s\n";
}

ProgressReport::ProgressReport(UrlQueue& urls, const CrawlTally& tally, std::ostream& log,
                               std::chrono::milliseconds interval)
    : urls(urls), tally(tally), log(log), interval(interval), thread(&ProgressReport::run, this) {}

ProgressReport::~ProgressReport() {
  {
    std::lock_guard<std::mutex> hold(mutex);
    stopped = true;
  }
  stopping.notify_all();
  thread.join();
}

bool ProgressReport::waitInterval() {
  std::unique_lock<std::mutex> hold(mutex);
  return !stopping.wait_for(hold, interval, [this] { return stopped; });
}

void ProgressReport::run() {
  using Clock = std::chrono::steady_clock;
  while (urls.waitUntilBusy()) {
    // A new stretch of work: the rate counts from here.
    std::uint64_t fetchedBefore = tally.fetched.load();
    Clock::time_point since = Clock::now();
    while (waitInterval() && urls.busy()) {
      const std::uint64_t fetched = tally.fetched.load();
      const Clock::time_point now = Clock::now();
      const double seconds = std::chrono::duration<double>(now - since).count();
      writeLog(log, progressLine({fetched, urls.size(), tally.onTheme.load(), tally.errors.load(),
                                  seconds > 0 ? (fetched - fetchedBefore) / seconds : 0.0}));
      fetchedBefore = fetched;
      since = now;
    }
    std::lock_guard<std::mutex> hold(mutex);
    if (stopped) return;
  }
}

}  // namespace theme_search
