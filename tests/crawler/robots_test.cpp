#include "crawler/fetch/robots.h"

#include <gtest/gtest.h>

#include <string>

#include "crawler/fetch/http_client.h"
#include "crawler/fetch/politeness.h"

namespace {

using namespace theme_search;
using namespace std::chrono_literals;

TEST(Robots, PatternsMatchThePathStartWithWildcardsAndEndAnchors) {
  struct Case {
    std::string pattern, path;
    bool matches;
  } cases[] = {
      {"/", "/anything", true},
      {"/fish", "/fish.html", true},
      {"/fish", "/Fish.html", false},
      {"/fish/", "/fish", false},
      {"/*.php", "/index.php?x=1", true},
      {"/*.php", "/index.html", false},
      {"/*.php$", "/index.php", true},
      {"/*.php$", "/index.php?x=1", false},
      {"/a*b*c", "/axxbyyc/z", true},
      {"/a*b*c", "/axxcyyb", false},
      {"*", "/", true},
      {"/$", "/", true},
      {"/$", "/a", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(robotsPatternMatches(c.pattern, c.path), c.matches) << c.pattern << " on " << c.path;
}

// Sitemap lines belong to no group: each counts wherever it stands, up to
// the bound, and leaves the groups as they are.
TEST(Robots, SitemapLinesAreReadWhateverTheGroup) {
  std::string text =
      "Sitemap: http://srv/one.xml\n"
      "User-agent: other\n"
      "Sitemap: http://srv/two.xml.gz # comment\n"
      "Disallow: /other\n"
      "User-agent: *\n"
      "sitemap:http://srv/three.xml\n"
      "Disallow: /private\n"
      "Sitemap:\n";
  RobotsRules rules = parseRobots(text, "ThemeSearchCrawler");
  EXPECT_EQ(rules.sitemaps, (std::vector<std::string>{"http://srv/one.xml", "http://srv/two.xml.gz",
                                                      "http://srv/three.xml"}));
  EXPECT_FALSE(rules.allows("/private/a"));
  EXPECT_TRUE(rules.allows("/other/a"));
  for (int i = 0; i < 30; ++i) text += "Sitemap: http://srv/s" + std::to_string(i) + ".xml\n";
  rules = parseRobots(text, "ThemeSearchCrawler");
  ASSERT_EQ(rules.sitemaps.size(), RobotsRules::kMaxSitemapLines);
  EXPECT_EQ(rules.sitemaps.back(), "http://srv/s16.xml");
}

TEST(Robots, GroupOfTheOwnTokenElseStarDecidesByLongestMatch) {
  const std::string text =
      "# comment\n"
      "User-agent: *\n"
      "Disallow: /private/\n"
      "Allow: /private/open.html\n"
      "Crawl-delay: 2.5\n"
      "\n"
      "User-agent: OtherBot\n"
      "Disallow: /\n";
  const std::string own =
      "user-agent: somebot\r\n"
      "USER-AGENT: themesearchcrawler/2.0   # us, in any case\r\n"
      "disallow: /tmp\r\n"
      "allow: /tmp/a\r\n"
      "disallow: /tmp/a\r\n"  // a tie: allow wins
      "disallow: /*.pdf$\r\n"
      "sitemap: http://x/s.xml\r\n"
      "disallow:\r\n"  // empty: no rule
      "user-agent: *\n"
      "disallow: /\n";
  struct Case {
    std::string text, path;
    bool allowed;
  } cases[] = {
      {text, "/index.html", true},
      {text, "/private/x.html", false},
      {text, "/private/open.html", true},
      {text, "/robots.txt", true},
      {own, "/tmp/b", false},
      {own, "/tmp/a/x", true},
      {own, "/doc.pdf", false},
      {own, "/doc.pdf?x", true},
      {own, "/index.html", true},
      {"User-agent: OtherBot\nDisallow: /\n", "/x", true},
      {"Disallow: /\n", "/x", true},  // rules before any user-agent line
      {"", "/x", true},
      // Bytes beyond ASCII compared percent-encoded.
      {"User-agent: *\nDisallow: /caf%c3%a9\n", "/caf\xC3\xA9/x", false},
      {"User-agent: *\nDisallow: /caf\xC3\xA9\n", "/caf%C3%A9", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseRobots(c.text, kProductToken).allows(c.path), c.allowed) << c.path << " with\n"
                                                                            << c.text;
  EXPECT_EQ(parseRobots(text, kProductToken).crawlDelay, 2500ms);
  EXPECT_FALSE(parseRobots(own, kProductToken).crawlDelay);
}

TEST(Robots, StatusOfTheDownloadDecidesWhenThereAreNoRules) {
  const auto fetched = [](std::string reply) {
    return FetchResult{FetchResult::Outcome::fetched, "", std::move(reply)};
  };
  struct Case {
    FetchResult result;
    bool allowed;
    std::string unavailable;
  } cases[] = {
      {fetched("HTTP/1.1 200 OK\r\n\r\nUser-agent: *\nDisallow: /x\n"), false, ""},
      {fetched("HTTP/1.1 404 Not Found\r\n\r\n"), true, ""},
      {fetched("HTTP/1.1 403 Forbidden\r\n\r\n"), true, ""},
      {fetched("HTTP/1.1 503 Busy\r\n\r\n"), false, "robots.txt status 503"},
      {FetchResult{FetchResult::Outcome::failed, "connection refused", ""}, false,
       "robots.txt unreachable: connection refused"},
  };
  for (const Case& c : cases) {
    std::string unavailable;
    const RobotsRules rules = robotsRulesFrom(c.result, unavailable);
    EXPECT_EQ(rules.allows("/x"), c.allowed) << c.result.reply << c.result.reason;
    EXPECT_EQ(unavailable, c.unavailable) << c.result.reply << c.result.reason;
  }
}

}  // namespace
