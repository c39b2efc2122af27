#include <chrono>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "load_file.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> popAll(UrlQueue& queue) {
  std::vector<std::string> urls;
  for (; !queue.empty(); queue.pop()) urls.push_back(queue.top().url);
  return urls;
}

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
    EXPECT_EQ(popAll(queue), c.popped) << "pushed: " << input;
  }
}

// A site no URL of these tests lies in: the download thread hands every
// item on with empty content, touching neither network nor database.
EngineConfig closedSite() {
  EngineConfig config;
  config.siteHost = "no.such.site";
  return config;
}

// Waits up to `limit` for the condition, polling.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(LoadFile, HandsOverEachUrlOnceInFetchOrder) {
  EngineConfig config = closedSite();
  std::ostringstream log;
  LoadFile loader(config, nullptr, log, log);

  // Nothing queued: the download thread waits for a URL, the parse side
  // for a page.
  auto first = std::async(std::launch::async, [&] { loader.waitPage(); });
  EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout);

  loader.pushUrl(CrawlItem("http://a/", 4));
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
  FetchedPage& page = loader.frontPage();
  EXPECT_EQ(page.url, "http://a/");
  EXPECT_EQ(page.priority, 4);
  EXPECT_EQ(page.content, "");
  loader.popPage();

  loader.pushUrl(CrawlItem("http://b/", -2));
  loader.waitPage();
  loader.pushUrl(CrawlItem("http://c/", 7));
  loader.waitPage();
  EXPECT_EQ(loader.frontPage().url, "http://b/");
  loader.popPage();
  EXPECT_EQ(loader.frontPage().url, "http://c/");
  loader.popPage();
  EXPECT_EQ(loader.readyPageCount(), 0);
  EXPECT_EQ(log.str(), "");  // a URL that is not wanted is not logged
}

TEST(LoadFile, StopReleasesOneWaitingParserAndJoinsOnce) {
  EngineConfig config = closedSite();
  std::ostringstream log;
  auto loader = std::make_unique<LoadFile>(config, nullptr, log, log);
  auto waiter = std::async(std::launch::async, [&] { loader->waitPage(); });
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);

  loader->stop();
  EXPECT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(loader->readyPageCount(), 0);  // released exactly once
  EXPECT_FALSE(loader->isAttached());
  // Destroying the stopped object must not join the thread again.
  auto destroyed = std::async(std::launch::async, [&] { loader.reset(); });
  EXPECT_EQ(destroyed.wait_for(5s), std::future_status::ready);
}

// More than 50 finished pages waiting: the download thread takes no URL
// until the parse side drains them to 50, then exactly one more.
TEST(LoadFile, PausesWhileTheParserLagsAndStillStops) {
  EngineConfig config = closedSite();
  std::ostringstream log;
  auto loader = std::make_unique<LoadFile>(config, nullptr, log, log);
  const int limit = LoadFile::maxPendingPages;
  for (int i = 0; i < limit + 3; ++i) loader->pushUrl(CrawlItem("http://u" + std::to_string(i), 0));

  ASSERT_TRUE(eventually([&] { return loader->readyPageCount() == limit + 1; }));
  EXPECT_FALSE(eventually([&] { return loader->queuedUrlCount() < 2; }, 300ms));

  loader->waitPage();
  loader->popPage();
  ASSERT_TRUE(eventually([&] { return loader->queuedUrlCount() == 1; }, 8s));
  EXPECT_EQ(loader->readyPageCount(), limit + 1);
  EXPECT_FALSE(eventually([&] { return loader->queuedUrlCount() == 0; }, 300ms));

  // A pausing download thread is released at once by the stop.
  auto start = std::chrono::steady_clock::now();
  loader.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(LoadFile, StopReleasesADownloadThreadWaitingForUrls) {
  EngineConfig config = closedSite();
  std::ostringstream log;
  auto loader = std::make_unique<LoadFile>(config, nullptr, log, log);
  loader->pushUrl(CrawlItem("exit", 0));
  loader->waitPage();  // the only URL is taken; the thread waits again
  auto destroyed = std::async(std::launch::async, [&] { loader.reset(); });
  EXPECT_EQ(destroyed.wait_for(5s), std::future_status::ready);
}

TEST(DownloadStage, TargetAndInsertStatement) {
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
  EXPECT_EQ(urlInsertStatement("http://srv/x\"y"),
            "INSERT IGNORE INTO Url (url, lastVisit) VALUES (\"http://srv/x\\\"y\", NOW() )");
}

}  // namespace
