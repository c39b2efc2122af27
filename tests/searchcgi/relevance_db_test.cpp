// The ranked search of the readable views against a seeded index: the same
// pages as the plain page's search, in relevance order.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "index/sql_text.h"
#include "searchcgi/relevance.h"
#include "searchcgi/strategies.h"
#include "test_database.h"

namespace {

using namespace theme_search;

class RankedSearchTest : public FreshIndexTest {
 protected:
  // Read again for every search: the tests change the index between them.
  IndexFigures figures{IndexFigures::Scope::queryPages};

  // A page with its words and counts, its length and, when given, the
  // words of its title.
  void addPage(const std::string& url, const std::map<std::string, int>& words, int length,
               const std::map<std::string, int>& title = {}) {
    db().execute("insert into Url (url, nbMotsTheme) values (" + quote(url) + ", 1)");
    const std::string page = "(select idUrl from Url where url = " + quote(url) + ")";
    for (const auto& [word, count] : words) {
      db().execute("insert ignore into MotCle (mot) values (" + quote(word) + ")");
      db().execute("insert into CorrespMotUrl (idMot, idUrl, ratio) select M.idMot, U.idUrl, " +
                   std::to_string(count) + " from MotCle M, Url U where M.mot = " + quote(word) +
                   " and U.url = " + quote(url));
    }
    for (const auto& [word, count] : title)
      db().execute("insert into MotChamp (idMot, idUrl, champ, nb) select M.idMot, U.idUrl, 1, " +
                   std::to_string(count) + " from MotCle M, Url U where M.mot = " + quote(word) +
                   " and U.url = " + quote(url));
    db().execute("insert into DocumentMesure (idUrl, nbMots, nbMotsTitre) select idUrl, " +
                 std::to_string(length) + ", " + std::to_string(title.size()) + " from Url " +
                 "where url = " + quote(url));
  }

  void seed() {
    addPage("http://s/index", {{"queue", 40}, {"asyncio", 30}, {"loop", 20}}, 20000);
    addPage("http://s/asyncio-queue", {{"queue", 6}, {"asyncio", 5}}, 600,
            {{"queue", 1}, {"asyncio", 1}});
    addPage("http://s/queue", {{"queue", 9}}, 900, {{"queue", 1}});
    addPage("http://s/short", {{"queue", 2}, {"loop", 1}}, 100);
    addPage("http://s/loop", {{"loop", 8}, {"asyncio", 1}}, 700, {{"loop", 1}});
    addPage("http://s/other", {{"thread", 3}}, 300);
  }

  std::vector<std::string> ranked(const std::vector<std::string>& terms,
                                  const std::vector<std::string>& excluded = {}) {
    std::vector<std::string> urls;
    const std::optional<RankedSearch> found = runRankedSearch(db(), figures, terms, excluded, 0, 0);
    if (!found) return {"(no search)"};
    for (const RankedPage& page : found->pages) urls.push_back(page.url);
    EXPECT_EQ(found->total, static_cast<std::int64_t>(urls.size()));
    return urls;
  }

  std::vector<std::string> plain(const std::vector<std::string>& terms,
                                 const std::vector<std::string>& excluded = {}) {
    std::vector<std::string> urls = runSearch(db(), terms, excluded, 0, 0)->urls;
    std::sort(urls.begin(), urls.end());
    return urls;
  }
};

std::vector<std::string> sorted(std::vector<std::string> urls) {
  std::sort(urls.begin(), urls.end());
  return urls;
}

// Every strategy's set of pages, reordered: the page titled for the query
// first, the long index page that repeats every word below it.
TEST_F(RankedSearchTest, KeepsThePlainPagesSetAndPutsTheTitledPageFirst) {
  seed();
  const std::vector<std::vector<std::string>> queries = {
      {"queue"}, {"asyncio", "queue"}, {"queue", "loop", "thread"}, {"Queue"}};
  // A process that keeps the whole index's figures ranks the same way.
  IndexFigures whole{IndexFigures::Scope::wholeIndex, std::chrono::seconds(0)};
  for (const auto& terms : queries) {
    const std::vector<std::string> urls = ranked(terms);
    EXPECT_EQ(sorted(urls), plain(terms)) << terms.front();
    const RankedSearch found = runRankedSearch(db(), whole, terms, {}, 0, 0).value();
    std::vector<std::string> fromWhole;
    for (const RankedPage& page : found.pages) fromWhole.push_back(page.url);
    EXPECT_EQ(fromWhole, urls) << terms.front();
  }
  EXPECT_EQ(ranked({"asyncio", "queue"}).front(), "http://s/asyncio-queue");
  const std::vector<std::string> queue = ranked({"queue"});
  EXPECT_EQ(queue.front(), "http://s/queue");
  EXPECT_GT(std::find(queue.begin(), queue.end(), "http://s/index") - queue.begin(),
            std::find(queue.begin(), queue.end(), "http://s/asyncio-queue") - queue.begin());
  EXPECT_EQ(sorted(ranked({"queue"}, {"asyncio"})), plain({"queue"}, {"asyncio"}));
  EXPECT_EQ(ranked({"queue"}, {"Queue"}), std::vector<std::string>{});
  EXPECT_EQ(ranked({"absent"}), std::vector<std::string>{});
  EXPECT_EQ(ranked({}), std::vector<std::string>{"(no search)"});
}

// Words sharing a term's stem add their pages below the exact ones, in the
// pages' own language; a page that holds one term exactly and another by
// its stem comes in below too.
TEST_F(RankedSearchTest, StemsAddPagesBelowTheExactForm) {
  seed();
  addPage("http://s/queues", {{"queues", 30}}, 300, {{"queues", 1}});
  addPage("http://s/asyncio-queues", {{"queues", 2}, {"asyncio", 2}}, 300);
  addPage("http://s/english-queues", {{"queued", 5}}, 300);
  db().execute(
      "update DocumentMesure D join Url U using (idUrl) set D.langue = 'en' where "
      "U.url = 'http://s/english-queues'");
  const std::vector<std::string> exact = plain({"queue"});
  const std::vector<std::string> found = ranked({"queue"});
  ASSERT_EQ(found.size(), exact.size() + 2);
  EXPECT_EQ(sorted({found.begin(), found.begin() + exact.size()}), exact);
  EXPECT_EQ(sorted({found.begin() + exact.size(), found.end()}),
            (std::vector<std::string>{"http://s/asyncio-queues", "http://s/queues"}));
  // The English page's "queued" is stemmed in English, where it does not
  // share the stem of "queue".
  EXPECT_EQ(std::count(found.begin(), found.end(), "http://s/english-queues"), 0);
  const std::vector<std::string> both = ranked({"asyncio", "queue"});
  EXPECT_EQ(both.back(), "http://s/asyncio-queues");
  EXPECT_EQ(sorted({both.begin(), both.end() - 1}), plain({"asyncio", "queue"}));
}

// Figures kept from an earlier request still find the pages indexed since,
// with their URLs.
TEST_F(RankedSearchTest, KeptFiguresStillFindPagesIndexedSince) {
  seed();
  IndexFigures kept{IndexFigures::Scope::wholeIndex, std::chrono::hours(1)};
  ASSERT_EQ(runRankedSearch(db(), kept, {"queue"}, {}, 0, 0)->total, 4);
  addPage("http://s/new-queue", {{"queue", 50}}, 300);
  const std::optional<RankedSearch> found = runRankedSearch(db(), kept, {"queue"}, {}, 0, 0);
  ASSERT_TRUE(found);
  std::vector<std::string> urls;
  for (const RankedPage& page : found->pages) urls.push_back(page.url);
  EXPECT_EQ(sorted(urls), plain({"queue"}));
}

// Windows are slices of one ranking, and an index made before the ranking
// tables still answers, with the same pages.
TEST_F(RankedSearchTest, WindowsSliceOneRankingAndOldIndexesStillAnswer) {
  seed();
  const std::vector<std::string> all = ranked({"queue"});
  std::vector<std::string> windows;
  for (std::int64_t first = 0; first < 6; first += 2) {
    const RankedSearch found = *runRankedSearch(db(), figures, {"queue"}, {}, first, 2);
    EXPECT_EQ(found.total, 4);
    for (const RankedPage& page : found.pages) windows.push_back(page.url);
  }
  EXPECT_EQ(windows, all);

  db().execute("drop table MotChamp");
  db().execute("drop table DocumentMesure");
  EXPECT_EQ(sorted(ranked({"queue", "loop"})), plain({"queue", "loop"}));
  EXPECT_EQ(ranked({"queue"}).front(), "http://s/index");  // the body alone: the most repeats
}

}  // namespace
