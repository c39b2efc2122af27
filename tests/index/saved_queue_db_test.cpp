#include "index/saved_queue.h"

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "test_database.h"

namespace {

using namespace theme_search;

bool inSite(const std::string& url) {
  return url.rfind("http://srv/site/", 0) == 0;
}

TEST(SavedQueueStatements, AreBuiltByteForByte) {
  EXPECT_EQ(queueSaveStatement("(\"http://a/\",3,0)"),
            "INSERT INTO FileAttente (url, priorite, revisite) VALUES (\"http://a/\",3,0) ON "
            "DUPLICATE KEY UPDATE priorite = GREATEST(priorite, VALUES(priorite)), revisite = "
            "GREATEST(revisite, VALUES(revisite))");
  EXPECT_EQ(unanalysedRemovalStatement("\"http://a/\""),
            "DELETE FROM Url WHERE lastVisit IS NULL AND url IN (\"http://a/\")");
  EXPECT_EQ(refreshStatement(7), "SELECT url FROM Url WHERE lastVisit <= NOW() - INTERVAL 7 DAY");
}

class SavedQueueTest : public FreshIndexTest {};

// What a stop leaves is what the next start of the same site takes: the
// URLs of the site with their best priority, the revisits still revisits;
// refused URLs are recorded invalid with their reason; pages fetched but not
// analysed lose their Url row; other sites' entries stay.
TEST_F(SavedQueueTest, AStopSavesTheSitesUrlsAndTheNextStartTakesThem) {
  db().execute(
      "INSERT INTO Url (url, lastVisit) VALUES ('http://srv/site/fetched.html', NULL),"
      " ('http://srv/site/done.html', NOW())");
  db().execute("INSERT INTO FileAttente VALUES ('http://other/x.html', 2, 0)");
  const std::vector<SavedUrl> left = {
      {"http://srv/site/a.html", 3},
      {"http://srv/site/a.html", 5},
      {"http://srv/site/fetched.html", -1},
      {"http://srv/site/done.html", 0, true},
  };
  EXPECT_EQ(saveQueue(db(), left, {{"http://elsewhere/b.html", "outside the site"}}), 3u);
  EXPECT_EQ(db().query("SELECT url, priorite, revisite FROM FileAttente ORDER BY url"),
            (std::vector<Row>{{"http://other/x.html", "2", "0"},
                              {"http://srv/site/a.html", "5", "0"},
                              {"http://srv/site/done.html", "0", "1"},
                              {"http://srv/site/fetched.html", "-1", "0"}}));
  EXPECT_EQ(db().query("SELECT url FROM Url"), (std::vector<Row>{{"http://srv/site/done.html"}}));
  EXPECT_EQ(db().query("SELECT url, raison FROM UrlInvalideRaison"),
            (std::vector<Row>{{"http://elsewhere/b.html", "outside the site"}}));

  std::vector<SavedUrl> taken = takeSavedQueue(db(), inSite);
  std::sort(taken.begin(), taken.end(),
            [](const SavedUrl& a, const SavedUrl& b) { return a.url < b.url; });
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].url, "http://srv/site/a.html");
  EXPECT_EQ(taken[0].priority, 5);
  EXPECT_FALSE(taken[0].revisit);
  EXPECT_EQ(taken[1].url, "http://srv/site/done.html");
  EXPECT_TRUE(taken[1].revisit);
  EXPECT_EQ(taken[2].priority, -1);
  EXPECT_EQ(db().query("SELECT url FROM FileAttente"), (std::vector<Row>{{"http://other/x.html"}}));
  EXPECT_TRUE(takeSavedQueue(db(), inSite).empty());
}

TEST_F(SavedQueueTest, StartRemovesPagesFetchedAndNeverAnalysedWithTheirLinks) {
  db().execute(
      "INSERT INTO Url (idUrl, url, lastVisit) VALUES (1, 'http://srv/site/a', NULL),"
      " (2, 'http://srv/site/b', NOW()), (3, 'http://srv/site/c', NULL)");
  db().execute("INSERT INTO MotCle (idMot, mot) VALUES (1, 'miel')");
  db().execute("INSERT INTO CorrespMotUrl VALUES (1, 1, 4), (1, 2, 5)");
  rebuildKeywordBlocks(db());
  EXPECT_EQ(removeUnanalysedPages(db()), 2u);
  EXPECT_EQ(db().query("SELECT url FROM Url"), (std::vector<Row>{{"http://srv/site/b"}}));
  EXPECT_EQ(db().query("SELECT idUrl FROM CorrespMotUrl"), (std::vector<Row>{{"2"}}));
  EXPECT_EQ(keywordBlockFaults(db()), std::vector<std::string>{});
  EXPECT_EQ(removeUnanalysedPages(db()), 0u);
}

TEST_F(SavedQueueTest, RefreshTakesThePagesAnalysedLongEnoughAgo) {
  db().execute(
      "INSERT INTO Url (url, lastVisit) VALUES ('http://srv/site/old', NOW() - INTERVAL 10 DAY),"
      " ('http://srv/site/new', NOW()), ('http://other/old', NOW() - INTERVAL 10 DAY),"
      " ('http://srv/site/unanalysed', NULL)");
  struct Case {
    unsigned days;
    std::vector<std::string> urls;
  } cases[] = {
      {30, {}},
      {5, {"http://other/old", "http://srv/site/old"}},
      {0, {"http://other/old", "http://srv/site/new", "http://srv/site/old"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> urls = pagesAnalysedBefore(db(), c.days);
    std::sort(urls.begin(), urls.end());
    EXPECT_EQ(urls, c.urls) << "days: " << c.days;
  }
}

}  // namespace
