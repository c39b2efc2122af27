#include "crawler/fetch/robots_directives.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

struct Case {
  std::string text;
  bool noindex, nofollow;
};

template <class Read>
void expectDirectives(const std::vector<Case>& cases, Read read) {
  for (const Case& c : cases) {
    const RobotsDirectives directives = read(c.text);
    EXPECT_EQ(directives.noindex, c.noindex) << "text: " << c.text;
    EXPECT_EQ(directives.nofollow, c.nofollow) << "text: " << c.text;
  }
}

TEST(RobotsDirectives, ReadsNoindexNofollowAndNoneInAnyCaseAndSpacing) {
  expectDirectives(
      {
          {"noindex", true, false},
          {"NOINDEX, follow", true, false},
          {"index,NoFollow", false, true},
          {"none", true, true},
          {"noindex nofollow", true, true},
          {" , nofollow ,, noindex,", true, true},
          {"all", false, false},
          {"index, follow, noarchive, max-snippet:50", false, false},
          // Whole words only.
          {"noindexing, nofollows, no-index, noindex:", false, false},
          {"", false, false},
      },
      parseRobotsDirectives);
}

TEST(RobotsDirectives, HeaderValueForAnotherCrawlerAsksNothing) {
  expectDirectives(
      {
          {"noindex", true, false},
          {"ThemeSearchCrawler: noindex, nofollow", true, true},
          {"themesearchcrawler:none", true, true},
          {"otherbot: noindex", false, false},
          {"ThemeSearchCrawlerX: noindex", false, false},
          // A colon that follows a directive taking a value is no user agent.
          {"unavailable_after: 25 Jun 2010 15:00:00 PST", false, false},
          {"max-snippet: 20, nofollow", false, true},
          {"noindex, unavailable_after: 25 Jun 2010", true, false},
          {"other bot: noindex", true, false},
      },
      [](const std::string& value) { return robotsHeaderDirectives(value, "ThemeSearchCrawler"); });
}

}  // namespace
