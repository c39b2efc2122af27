#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "crawler/pipeline/download_stage.h"
#include "crawler/pipeline/stage_queues.h"
#include "index/index_connection.h"
#include "index/url_registry.h"
#include "test_database.h"

namespace {

using namespace theme_search;

using namespace std::chrono_literals;

// The crawler always fetches from port 80, so each test runs in a network
// namespace of its own with a small web server on 127.0.0.1:80 serving a
// scratch directory (the database is reached by its Unix socket, which the
// namespace does not affect). Needs root, as the crawler's other network
// tests do.
class DownloadStageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "network namespaces need root";
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    char name[] = "/tmp/download_stage_testXXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    root = name;
    ASSERT_EQ(std::system(("mkdir -p " + root + "/www/site").c_str()), 0);
    serve("site/a.html", "<html>a</html>");
    serve("site/b.html", "<html>b</html>");
    serve("other.html", "<html>other</html>");
    std::string command = "python3 -m http.server 80 --bind 127.0.0.1 --directory " + root +
                          "/www 2>" + root + "/requests.log & echo $! >" + root + "/server.pid";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(serverListens());

    resetDatabase();
    db.emplace(testSettings());
    downloads.emplace(testSettings());
    config.siteHost = "localhost";
    config.sitePath = "site/";
    config.acceptedTypes = {"html"};
  }

  void TearDown() override {
    std::ifstream pid(root + "/server.pid");
    int server = 0;
    if (pid >> server && server > 0) kill(server, SIGTERM);
    std::system(("rm -rf " + root).c_str());
  }

  void serve(const std::string& path, const std::string& body) {
    std::ofstream(root + "/www/" + path) << body;
  }

  static bool serverListens() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int attempt = 0; attempt < 200; ++attempt) {
      int probe = socket(AF_INET, SOCK_STREAM, 0);
      bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      close(probe);
      if (connected) return true;
      std::this_thread::sleep_for(25ms);
    }
    return false;
  }

  // How often the server was asked for the path.
  int requestCount(const std::string& path) {
    std::ifstream in(root + "/requests.log");
    std::string line;
    int count = 0;
    while (std::getline(in, line))
      if (line.find("\"GET " + path + " ") != std::string::npos) ++count;
    return count;
  }

  int rowCount(const std::string& statement) {
    return static_cast<int>(db->query(statement).size());
  }

  std::string root;
  std::optional<IndexConnection> db, downloads;
  EngineConfig config;
};

// The download stage between its two queues, closed and joined at the end.
class Stage {
 public:
  Stage(const EngineConfig& config, IndexConnection& connection, std::ostream& log)
      : stage(std::in_place, config, &connection, urls, pages, known, log, log) {}
  ~Stage() {
    urls.close();
    pages.close();
  }

  // Queues the URL and returns the content handed on for it; its outcome
  // is kept in `outcome`.
  std::string handOver(const std::string& url, bool requested = false) {
    urls.push(CrawlItem(url, 0, false, requested));
    std::optional<FetchedPage> page = pages.pop();
    EXPECT_TRUE(page);
    if (!page) return std::string();
    EXPECT_EQ(page->url, url);
    outcome = page->outcome;
    reason = page->reason;
    // What the parse stage does once it has recorded such a URL.
    if (recordsInvalid(outcome)) urls.finished(page->url);
    return page->content;
  }

  UrlOutcome outcome = UrlOutcome::stopped;
  std::string reason;

 private:
  UrlQueue urls;
  PageHandover pages{50};
  KnownUrls known;
  std::optional<DownloadStage> stage;
};

TEST_F(DownloadStageTest, FetchesWantedUrlsOnceAndHandsTheRestOnEmpty) {
  markInvalid(*db, "http://localhost/site/b.html", "test");
  std::ostringstream log;
  {
    Stage loader(config, *downloads, log);
    std::string first = loader.handOver("http://localhost/site/a.html");
    EXPECT_EQ(first.rfind("HTTP/1.0 200", 0), 0u) << first;
    EXPECT_NE(first.find("\r\n\r\n<html>a</html>"), std::string::npos) << first;

    EXPECT_EQ(loader.outcome, UrlOutcome::fetched);
    // The parse stage writes a fetched page's Url row.
    recordFetched(*db, "http://localhost/site/a.html");

    const std::pair<std::string, UrlOutcome> skipped[] = {
        {"http://localhost/site/a.html", UrlOutcome::alreadyKnown},  // fetched, now in Url
        {"http://localhost/site/b.html", UrlOutcome::alreadyKnown},  // in UrlInvalide
        {"http://localhost/other.html", UrlOutcome::outsideSite}};
    for (const auto& [url, outcome] : skipped) {
      EXPECT_EQ(loader.handOver(url), "") << url;
      EXPECT_EQ(loader.outcome, outcome) << url;
    }
    // Typed by the operator: an invalid URL is tried again; a page of the
    // index is only reported.
    EXPECT_NE(loader.handOver("http://localhost/site/b.html", true), "");
    EXPECT_EQ(loader.outcome, UrlOutcome::fetched);
    EXPECT_EQ(loader.handOver("http://localhost/site/a.html", true), "");
    EXPECT_EQ(loader.outcome, UrlOutcome::alreadyKnown);

    config.sitePath = "";  // read by the download thread: change only between URLs
    EXPECT_NE(loader.handOver("http://localhost/other.html"), "");
  }
  // Two fetches without an error between them share one log line.
  EXPECT_EQ(log.str(),
            "PILE URL: 0 -> 0 PILE URL: 0 -> 0 already indexed (--refresh fetches it again): "
            "http://localhost/site/a.html\nPILE URL: 0 -> 0 ");
  EXPECT_EQ(requestCount("/site/a.html"), 1);
  EXPECT_EQ(requestCount("/site/b.html"), 1);
  EXPECT_EQ(requestCount("/other.html"), 1);
  // The stage itself writes no row.
  EXPECT_EQ(rowCount("SELECT url FROM UrlInvalide"), 1);
  EXPECT_EQ(rowCount("SELECT url FROM Url"), 1);
}

TEST_F(DownloadStageTest, FailedDownloadIsLoggedAndHandedOnEmpty) {
  std::ostringstream log;
  {
    Stage loader(config, *downloads, log);
    EXPECT_EQ(loader.handOver("http://localhost/site/missing.html"), "");
    EXPECT_EQ(loader.handOver("http://localhost/site/a.html").empty(), false);
  }
  const std::string error = "PILE URL: 0 -> 0 ERROR DOWNLOAD http://localhost/site/missing.html : ";
  std::string text = log.str();
  ASSERT_EQ(text.rfind(error, 0), 0u) << text;
  std::size_t lineEnd = text.find('\n');
  ASSERT_NE(lineEnd, std::string::npos) << text;
  EXPECT_EQ(text.substr(lineEnd + 1), "PILE URL: 0 -> 0 ");
  EXPECT_EQ(requestCount("/site/missing.html"), 1);
  EXPECT_EQ(rowCount("SELECT url FROM Url"), 0);
}

// Each failed download names its true cause.
TEST_F(DownloadStageTest, DownloadErrorsGiveTheirReason) {
  serve("site/image.gif", "GIF89a");
  config.siteHost = "";  // any host: the reasons below need other hosts
  struct Case {
    std::string url, reason;
    UrlOutcome outcome;
  } cases[] = {
      {"http://localhost/site/missing.html", "status 404", UrlOutcome::gone},
      {"http://localhost/site/image.gif", "content type image/gif not accepted",
       UrlOutcome::failed},
      {"http://no-such-host.invalid/site/a.html", "host not found", UrlOutcome::failed},
      {"http://127.0.0.2/site/a.html", "connection refused",
       UrlOutcome::failed},  // nobody listens there
  };
  for (const Case& c : cases) {
    std::ostringstream log;
    {
      Stage loader(config, *downloads, log);
      EXPECT_EQ(loader.handOver(c.url), "") << c.url;
      EXPECT_EQ(loader.outcome, c.outcome) << c.url;
      EXPECT_EQ(loader.reason, c.reason) << c.url;
    }
    EXPECT_EQ(log.str(), "PILE URL: 0 -> 0 ERROR DOWNLOAD " + c.url + " : " + c.reason + "\n");
  }
  EXPECT_EQ(rowCount("SELECT url FROM Url"), 0);
}

}  // namespace
