#include <chrono>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crawler/pipeline/download_stage.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/url_registry.h"

namespace {

using namespace theme_search;
using namespace std::chrono_literals;

TEST(UrlQueue, HandsOutHighestPriorityFirstInHeapOrder) {
  struct Case {
    std::vector<CrawlItem> pushed;
    std::vector<std::string> popped;
  } cases[] = {
      {{{"1", 0}, {"2", 0}, {"3", 0}}, {"1", "2", "3"}},
      {{{"1", 0}, {"2", 0}, {"3", 0}, {"4", 0}}, {"1", "3", "2", "4"}},
      {{{"1", 0}, {"2", 0}, {"3", 0}, {"4", 0}, {"5", 0}, {"6", 5}},
       {"6", "1", "3", "5", "2", "4"}},
      {{{"a", -1}, {"b", 0}, {"c", -1}, {"d", 0}, {"e", 2}}, {"e", "b", "d", "a", "c"}},
  };
  for (const Case& c : cases) {
    UrlQueue queue;
    std::string input;
    for (const CrawlItem& item : c.pushed) {
      queue.push(item);
      input += item.url + ":" + std::to_string(item.priority) + " ";
    }
    std::vector<std::string> popped;
    while (queue.size() > 0) popped.push_back(queue.pop()->url);
    EXPECT_EQ(popped, c.popped) << "pushed: " << input;
  }
}

// A URL waits once, with the highest priority it was pushed with, and stays
// a revisit or a requested URL if any push was one; while it is being
// fetched it is not queued again, and once finished it may be.
TEST(UrlQueue, HoldsAUrlOnceWithItsBestPushAndNotWhileItIsFetched) {
  UrlQueue queue;
  queue.push(CrawlItem("http://a/", 1));
  queue.push(CrawlItem("http://b/", 2));
  queue.push(CrawlItem("http://a/", 3, true));
  queue.push(CrawlItem("http://a/", 0, false, true));
  queue.push(CrawlItem("http://b/", 1));
  EXPECT_EQ(queue.size(), 2u);
  EXPECT_TRUE(queue.holds("http://a/"));
  EXPECT_FALSE(queue.holds("http://c/"));

  const std::optional<CrawlItem> first = queue.pop();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->url, "http://a/");
  EXPECT_EQ(first->priority, 3);
  EXPECT_TRUE(first->revisit);
  EXPECT_TRUE(first->requested);

  queue.push(CrawlItem("http://a/", 9));  // being fetched: dropped
  EXPECT_TRUE(queue.holds("http://a/"));
  const std::optional<CrawlItem> second = queue.pop();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->url, "http://b/");
  EXPECT_EQ(second->priority, 2);
  EXPECT_FALSE(second->revisit);
  EXPECT_EQ(queue.size(), 0u);

  queue.finished("http://a/");
  EXPECT_FALSE(queue.holds("http://a/"));
  queue.push(CrawlItem("http://a/", -1));
  queue.push(CrawlItem("http://c/", 5));
  std::vector<std::string> drained;
  for (const CrawlItem& item : queue.drain())
    drained.push_back(item.url + ":" + std::to_string(item.priority));
  EXPECT_EQ(drained, (std::vector<std::string>{"http://c/:5", "http://a/:-1"}));
  EXPECT_EQ(queue.size(), 0u);
}

TEST(UrlQueue, PopBlocksUntilAnItemOrClose) {
  UrlQueue queue;
  auto waiter = std::async(std::launch::async, [&] { return queue.pop(); });
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  queue.push(CrawlItem("http://a/", 3));
  ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiter.get()->url, "http://a/");

  auto closed = std::async(std::launch::async, [&] { return queue.pop(); });
  EXPECT_EQ(closed.wait_for(50ms), std::future_status::timeout);
  queue.close();
  ASSERT_EQ(closed.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(closed.get());
  // A closed queue hands nothing out but keeps what comes late, for the
  // stop to save, highest priority first.
  queue.push(CrawlItem("http://late/", 0));
  queue.push(CrawlItem("http://later/", 4, true));
  EXPECT_FALSE(queue.pop());
  const std::vector<CrawlItem> left = queue.drain();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].url, "http://later/");
  EXPECT_TRUE(left[0].revisit);
  EXPECT_EQ(left[1].url, "http://late/");
  EXPECT_EQ(queue.size(), 0u);
}

// Idle means nothing waits and every item taken has been handled: an item
// fetched and finished is still in flight until its page's links are
// pushed and it is handled.
TEST(UrlQueue, IdleOnlyOnceEveryItemTakenIsHandled) {
  UrlQueue queue;
  EXPECT_FALSE(queue.busy());
  EXPECT_TRUE(queue.waitUntilIdle());
  queue.push(CrawlItem("http://a/", 0));
  EXPECT_TRUE(queue.busy());
  auto idle = std::async(std::launch::async, [&] { return queue.waitUntilIdle(); });
  EXPECT_EQ(idle.wait_for(50ms), std::future_status::timeout);

  ASSERT_TRUE(queue.pop());
  queue.finished("http://a/");
  EXPECT_EQ(idle.wait_for(50ms), std::future_status::timeout);
  queue.push(CrawlItem("http://b/", 1));  // a's link, pushed before a is handled
  queue.handled();
  EXPECT_EQ(idle.wait_for(50ms), std::future_status::timeout);
  ASSERT_TRUE(queue.pop());
  queue.push(CrawlItem("http://b/", 4));  // being fetched: dropped, adds no work
  queue.handled();
  ASSERT_EQ(idle.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(idle.get());
  EXPECT_FALSE(queue.busy());
}

// Work held outside the queue (a sitemap to read) keeps the crawl busy
// from the start; what it pushes is work before the hold ends.
TEST(UrlQueue, HeldWorkIsBusyUntilHandled) {
  UrlQueue queue;
  auto busy = std::async(std::launch::async, [&] { return queue.waitUntilBusy(); });
  queue.hold();
  ASSERT_EQ(busy.wait_for(5s), std::future_status::ready);
  auto idle = std::async(std::launch::async, [&] { return queue.waitUntilIdle(); });
  EXPECT_EQ(idle.wait_for(50ms), std::future_status::timeout);
  queue.push(CrawlItem("http://listed/", 0));
  queue.handled();
  EXPECT_EQ(idle.wait_for(50ms), std::future_status::timeout);
  ASSERT_TRUE(queue.pop());
  queue.handled();
  ASSERT_EQ(idle.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(idle.get());
}

TEST(UrlQueue, WaitForWorkEndsAtTheFirstPushAndBothWaitsAtTheClose) {
  UrlQueue queue;
  auto busy = std::async(std::launch::async, [&] { return queue.waitUntilBusy(); });
  EXPECT_EQ(busy.wait_for(50ms), std::future_status::timeout);
  queue.push(CrawlItem("http://a/", 0));
  ASSERT_EQ(busy.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(busy.get());
  EXPECT_TRUE(queue.waitUntilBusy());  // still busy: returns at once

  auto idle = std::async(std::launch::async, [&] { return queue.waitUntilIdle(); });
  EXPECT_EQ(idle.wait_for(50ms), std::future_status::timeout);
  queue.close();
  ASSERT_EQ(idle.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(idle.get());

  UrlQueue empty;
  auto work = std::async(std::launch::async, [&] { return empty.waitUntilBusy(); });
  EXPECT_EQ(work.wait_for(50ms), std::future_status::timeout);
  empty.close();
  ASSERT_EQ(work.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(work.get());
}

// More than `pauseAbove` pages waiting: waitForRoom blocks until the parse
// side takes one, and is woken by that take, not by a later poll.
TEST(PageHandover, TakingAPageWakesAWaitingProducerAtOnce) {
  PageHandover pages(2);
  for (int i = 0; i < 3; ++i) pages.push(FetchedPage(CrawlItem("u" + std::to_string(i), 0)));
  auto producer = std::async(std::launch::async, [&] { return pages.waitForRoom(); });
  EXPECT_EQ(producer.wait_for(100ms), std::future_status::timeout);
  EXPECT_EQ(pages.pop()->url, "u0");  // oldest first
  ASSERT_EQ(producer.wait_for(1s), std::future_status::ready);
  EXPECT_TRUE(producer.get());
}

// The content waiting counts too: a producer waits while more bytes than
// the budget wait, whatever the number of pages, and a take that brings them
// under it wakes it.
TEST(PageHandover, WaitsWhileTooManyBytesWait) {
  PageHandover pages(50, 1000);
  FetchedPage big(CrawlItem("big", 0));
  big.content.assign(800, 'x');
  FetchedPage small(CrawlItem("small", 0));
  small.content.assign(300, 'x');
  pages.push(big);
  EXPECT_TRUE(pages.waitForRoom());  // 800 bytes: within the budget
  pages.push(small);
  auto producer = std::async(std::launch::async, [&] { return pages.waitForRoom(); });
  EXPECT_EQ(producer.wait_for(100ms), std::future_status::timeout);  // 1100 bytes
  EXPECT_EQ(pages.pop()->url, "big");
  ASSERT_EQ(producer.wait_for(1s), std::future_status::ready);
  EXPECT_TRUE(producer.get());
}

TEST(PageHandover, CloseWakesBothSidesAndKeepsWaitingPagesForDrain) {
  PageHandover pages(0);
  auto consumer = std::async(std::launch::async, [&] { return pages.pop(); });
  EXPECT_EQ(consumer.wait_for(50ms), std::future_status::timeout);
  pages.push(FetchedPage(CrawlItem("a", 0)));
  ASSERT_EQ(consumer.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(consumer.get()->url, "a");

  pages.push(FetchedPage(CrawlItem("b", 0)));
  auto producer = std::async(std::launch::async, [&] { return pages.waitForRoom(); });
  EXPECT_EQ(producer.wait_for(50ms), std::future_status::timeout);
  pages.close();
  ASSERT_EQ(producer.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(producer.get());
  EXPECT_TRUE(pages.isClosed());
  EXPECT_FALSE(pages.pop());
  pages.push(FetchedPage(CrawlItem("c", 0)));  // a transfer that ended after the close
  const std::vector<FetchedPage> left = pages.drain();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].url, "b");
  EXPECT_EQ(left[1].url, "c");
  EXPECT_EQ(pages.size(), 0u);

  // The parse side waiting for a page is woken by the stop too.
  PageHandover empty(0);
  auto waiting = std::async(std::launch::async, [&] { return empty.pop(); });
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  empty.close();
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(waiting.get());
}

// Between the parse stage's threads: a full queue holds its producer until
// an item is taken, items leave oldest first, and a close wakes both sides
// and keeps what waits for drain().
TEST(BoundedQueue, FullQueueHoldsTheProducerAndCloseWakesBothSides) {
  BoundedQueue<std::string> queue(2);
  EXPECT_TRUE(queue.push("a"));
  EXPECT_TRUE(queue.push("b"));
  auto producer = std::async(std::launch::async, [&] { return queue.push("c"); });
  EXPECT_EQ(producer.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(queue.pop(), "a");
  ASSERT_EQ(producer.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(producer.get());
  EXPECT_EQ(queue.size(), 2u);

  auto blocked = std::async(std::launch::async, [&] { return queue.push("d"); });
  EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
  queue.close();
  ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(blocked.get());
  EXPECT_FALSE(queue.pop());
  EXPECT_EQ(queue.drain(), (std::deque<std::string>{"b", "c"}));

  BoundedQueue<std::string> empty(1);
  auto consumer = std::async(std::launch::async, [&] { return empty.pop(); });
  EXPECT_EQ(consumer.wait_for(50ms), std::future_status::timeout);
  empty.close();
  ASSERT_EQ(consumer.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(consumer.get());
}

// Weighed items: the producer waits while the weights held leave no room
// for the next item's, an item heavier than the whole budget goes through
// alone once the queue is empty, and drained items give their room back.
TEST(BoundedQueue, WeightsHoldTheProducerAndAHeavyItemPassesAlone) {
  BoundedQueue<std::string> queue(10, 100);
  EXPECT_TRUE(queue.push("a", 60));
  EXPECT_TRUE(queue.push("b", 40));
  auto light = std::async(std::launch::async, [&] { return queue.push("c", 1); });
  EXPECT_EQ(light.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(queue.pop(), "a");
  ASSERT_EQ(light.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(light.get());

  auto heavy = std::async(std::launch::async, [&] { return queue.push("d", 500); });
  EXPECT_EQ(heavy.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(queue.pop(), "b");
  EXPECT_EQ(heavy.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(queue.pop(), "c");
  ASSERT_EQ(heavy.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(heavy.get());
  auto after = std::async(std::launch::async, [&] { return queue.push("e", 0); });
  EXPECT_EQ(after.wait_for(50ms), std::future_status::timeout);
  EXPECT_EQ(queue.drain(), std::deque<std::string>{"d"});
  queue.close();
  ASSERT_EQ(after.wait_for(5s), std::future_status::ready);
}

// The parse stage's pause while the index is away: a deadline ends it, and
// so does a close, at once.
TEST(PageHandover, WaitForCloseEndsAtTheDeadlineOrAtTheClose) {
  PageHandover pages(0);
  EXPECT_FALSE(pages.waitForCloseUntil(std::chrono::steady_clock::now() + 10ms));
  auto waiting = std::async(std::launch::async, [&] {
    return pages.waitForCloseUntil(std::chrono::steady_clock::now() + 60s);
  });
  EXPECT_EQ(waiting.wait_for(50ms), std::future_status::timeout);
  pages.close();
  ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(waiting.get());
}

// A site no URL of these tests lies in: the download stage hands every item
// on with empty content, touching neither network nor database.
EngineConfig closedSite() {
  EngineConfig config;
  config.siteHost = "no.such.site";
  return config;
}

// The download stage and its two queues, closed and joined at the end.
struct ClosedSiteStage {
  explicit ClosedSiteStage(std::size_t pauseAbove) : pages(pauseAbove) {
    stage = std::make_unique<DownloadStage>(config, nullptr, urls, pages, known, log, log);
  }
  ~ClosedSiteStage() { stop(); }
  void stop() {
    urls.close();
    pages.close();
    stage.reset();
  }

  EngineConfig config = closedSite();
  std::ostringstream log;
  UrlQueue urls;
  PageHandover pages;
  KnownUrls known;
  std::unique_ptr<DownloadStage> stage;
};

TEST(DownloadStage, HandsOverEachUrlOnceInFetchOrder) {
  ClosedSiteStage crawl(50);
  auto first = std::async(std::launch::async, [&] { return crawl.pages.pop(); });
  EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout);

  crawl.urls.push(CrawlItem("http://a/", 4));
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
  const FetchedPage page = *first.get();
  EXPECT_EQ(page.url, "http://a/");
  EXPECT_EQ(page.priority, 4);
  EXPECT_EQ(page.content, "");

  crawl.urls.push(CrawlItem("http://b/", -2));
  EXPECT_EQ(crawl.pages.pop()->url, "http://b/");
  crawl.urls.push(CrawlItem("http://c/", 7));
  EXPECT_EQ(crawl.pages.pop()->url, "http://c/");
  EXPECT_EQ(crawl.pages.size(), 0u);
  EXPECT_EQ(crawl.log.str(), "");  // a URL that is not wanted is not logged
}

// At most pauseAbove + 1 pages wait, no URL is taken while that many wait,
// and one take lets exactly one more URL through.
TEST(DownloadStage, TakesNoUrlWhileTheParserLagsAndStopsPromptly) {
  const std::size_t limit = 50;
  ClosedSiteStage crawl(limit);
  for (std::size_t i = 0; i < limit + 3; ++i)
    crawl.urls.push(CrawlItem("http://u" + std::to_string(i), 0));
  // The stage hands pages over until limit + 1 wait, then pauses with two
  // URLs left; the pause is event-driven, so a take frees exactly one more.
  auto filled = std::async(std::launch::async, [&] {
    while (crawl.urls.size() > 2 || crawl.pages.size() < limit + 1) std::this_thread::yield();
  });
  ASSERT_EQ(filled.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(crawl.pages.size(), limit + 1);

  ASSERT_TRUE(crawl.pages.pop());
  auto oneMore = std::async(std::launch::async, [&] {
    while (crawl.urls.size() != 1 || crawl.pages.size() != limit + 1) std::this_thread::yield();
  });
  ASSERT_EQ(oneMore.wait_for(5s), std::future_status::ready);

  auto stopped = std::async(std::launch::async, [&] { crawl.stop(); });
  EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(crawl.urls.size(), 1u);
}

// A URL longer than the index can hold is refused with one line and handed
// on to nobody: neither Url nor UrlInvalide could record it whole.
TEST(DownloadStage, RefusesUrlsTooLongForTheIndex) {
  ClosedSiteStage crawl(50);
  const std::string tooLong = "http://a/" + std::string(kMaxUrlBytes, 'x');
  const std::string longest = "http://a/" + std::string(kMaxUrlBytes - 9, 'y');
  crawl.urls.push(CrawlItem(tooLong, 5));
  // Dropped by the stage itself, it ends there: the crawl is idle again.
  auto idle = std::async(std::launch::async, [&] { return crawl.urls.waitUntilIdle(); });
  ASSERT_EQ(idle.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(idle.get());
  crawl.urls.push(CrawlItem(longest, 1));
  EXPECT_EQ(crawl.pages.pop()->url, longest);
  crawl.stop();
  EXPECT_EQ(crawl.log.str(),
            "ERROR DOWNLOAD " + tooLong.substr(0, 200) + "... : URL over 3000 bytes\n");
}

TEST(DownloadStage, TargetIsTheUrlWithoutItsHttpScheme) {
  struct Case {
    std::string url, target;
  } cases[] = {
      {"http://srv/a.html", "srv/a.html"},
      {"http://", ""},
      {"HTTP://srv/", "HTTP://srv/"},
      {"srv/a", "srv/a"},
      {"http:/", "http:/"},
  };
  for (const Case& c : cases) EXPECT_EQ(downloadTarget(c.url), c.target) << "url: " << c.url;
}

}  // namespace
