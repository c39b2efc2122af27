#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crawler/pipeline/progress_report.h"
#include "crawler/pipeline/stage_queues.h"

namespace {

using namespace theme_search;
using namespace std::chrono_literals;

TEST(ProgressLine, FiguresInOrderAndTheRateWithOneDecimal) {
  struct Case {
    ProgressFigures figures;
    std::string line;
  } cases[] = {
      {{120, 45, 80, 2, 23.46},
       "PROGRESS fetched 120 queued 45 on-theme 80 errors 2 rate 23.5 pages/s\n"},
      {{0, 0, 0, 0, 0}, "PROGRESS fetched 0 queued 0 on-theme 0 errors 0 rate 0.0 pages/s\n"},
      {{18446744073709551615u, 7, 1, 0, 1234.04},
       "PROGRESS fetched 18446744073709551615 queued 7 on-theme 1 errors 0 rate 1234.0 "
       "pages/s\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(progressLine(c.figures), c.line);
}

// A log a test can wait on: keeps what is written, under a lock, and wakes
// a waiter at each line end.
class WatchedLog : public std::streambuf {
 public:
  // The lines written once there are `count` of them, or all there are
  // when `limit` passes first.
  std::vector<std::string> waitForLines(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex);
    written.wait_for(hold, limit, [&] { return lines.size() >= count; });
    return lines;
  }

 protected:
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    {
      std::lock_guard<std::mutex> hold(mutex);
      for (std::streamsize i = 0; i < size; ++i) {
        pending += text[i];
        if (text[i] != '\n') continue;
        lines.push_back(pending);
        pending.clear();
      }
    }
    written.notify_all();
    return size;
  }
  int_type overflow(int_type byte) override {
    if (byte == traits_type::eof()) return traits_type::not_eof(byte);
    const char text = traits_type::to_char_type(byte);
    xsputn(&text, 1);
    return byte;
  }

 private:
  std::mutex mutex;
  std::condition_variable written;
  std::string pending;
  std::vector<std::string> lines;
};

// The report on a queue of its own, every 20 ms; the queue is closed before
// the report ends, as its owner must.
struct Reporting {
  Reporting() { report.emplace(urls, tally, log, 20ms); }
  ~Reporting() {
    urls.close();
    report.reset();
  }

  UrlQueue urls;
  CrawlTally tally;
  WatchedLog sink;
  std::ostream log{&sink};
  std::optional<ProgressReport> report;
};

TEST(ProgressReport, WritesOnlyWhileThereIsWork) {
  Reporting run;
  // Ten intervals idle: not a line.
  EXPECT_TRUE(run.sink.waitForLines(1, 200ms).empty());

  run.tally.fetched = 3;
  run.tally.onTheme = 1;
  run.tally.errors = 2;
  run.urls.push(CrawlItem("http://a/", 0));
  std::vector<std::string> lines = run.sink.waitForLines(2, 5s);
  ASSERT_GE(lines.size(), 2u);
  // Nothing fetched since the work began: the rate is 0.
  EXPECT_EQ(lines[0], "PROGRESS fetched 3 queued 1 on-theme 1 errors 2 rate 0.0 pages/s\n");
  EXPECT_EQ(lines[1], lines[0]);

  // In flight, nothing queued: still work. Pages fetched meanwhile give a rate.
  ASSERT_TRUE(run.urls.pop());
  run.tally.fetched = 13;
  const std::size_t before = run.sink.waitForLines(0, 0ms).size();
  lines = run.sink.waitForLines(before + 2, 5s);
  ASSERT_GE(lines.size(), before + 2);
  EXPECT_EQ(lines[before + 1].rfind("PROGRESS fetched 13 queued 0 on-theme 1 errors 2 rate ", 0),
            0u)
      << lines[before + 1];
  bool rated = false;
  for (std::size_t i = before; i < lines.size(); ++i)
    rated = rated || lines[i].find(" rate 0.0 ") == std::string::npos;
  EXPECT_TRUE(rated) << "no line gave the 10 pages a rate";

  // Idle again: at most the line already under way, then nothing.
  run.urls.handled();
  const std::size_t atIdle = run.sink.waitForLines(0, 0ms).size();
  EXPECT_LE(run.sink.waitForLines(atIdle + 2, 200ms).size(), atIdle + 1);
}

}  // namespace
