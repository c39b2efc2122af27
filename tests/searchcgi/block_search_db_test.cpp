#include "searchcgi/block_search.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "index/sql_text.h"
#include "searchcgi/strategies.h"
#include "test_database.h"

namespace {

using namespace theme_search;

// What the grouping statement of the search finds in the window.
SearchResult groupedResult(IndexConnection& db, const std::vector<std::string>& searchWords,
                           const std::vector<std::string>& excludedWords, std::int64_t firstRow,
                           std::int64_t rowCount) {
  const std::string search = excludedWords.empty() ? conjunctiveSearch(searchWords)
                                                   : exclusionSearch(searchWords, excludedWords);
  SearchResult result;
  const std::vector<Row> rows = db.query(search + limitClause(firstRow, rowCount));
  for (const Row& row : rows) result.urls.push_back(row.front());
  result.total = rows.empty() ? static_cast<std::int64_t>(db.count(countingStatement(search)))
                              : integerField(rows.front().back());
  return result;
}

// Random indexes with many ties (a few small ratios, three theme counts),
// page ids spread over many blocks with gaps, and random searches of two to
// four words with and without excluded words (some not in the index), read
// a few rows at a time: every window gives the rows and the total of the
// grouping statements.
TEST(BlockSearch, GivesTheRowsAndTotalsOfTheGroupingStatements) {
  std::mt19937 random(20261208);
  const std::vector<std::string> vocabulary = {"abeille", "miel",   "ruche", "cire",
                                               "reine",   "pollen", "essaim"};
  for (int round = 0; round < 3; ++round) {
    resetDatabase();
    IndexConnection db(testSettings());
    for (std::size_t w = 0; w < vocabulary.size(); ++w)
      db.execute("INSERT INTO MotCle (idMot, mot) VALUES (" + std::to_string(w + 1) + ", " +
                 quote(vocabulary[w]) + ")");
    std::vector<std::string> pages, links;
    std::uniform_int_distribution<int> gap(1, 5), ratio(0, 3), theme(0, 2), letter(0, 25);
    std::uint32_t id = 0;
    for (int page = 0; page < 600; ++page) {
      id += static_cast<std::uint32_t>(gap(random));
      std::string url = "http://p/";
      for (int i = 0; i < 3; ++i) url += static_cast<char>('a' + letter(random));
      pages.push_back("(" + std::to_string(id) + "," + quote(url + std::to_string(page)) + "," +
                      std::to_string(theme(random)) + ")");
      for (std::size_t w = 0; w < vocabulary.size(); ++w)
        if (std::uniform_int_distribution<std::size_t>(0, vocabulary.size())(random) > w)
          links.push_back("(" + std::to_string(w + 1) + "," + std::to_string(id) + "," +
                          std::to_string(ratio(random) + (w == 0 ? 10 : 0)) + ")");
    }
    for (const std::string& rows : joinedBatches(pages))
      db.execute("INSERT INTO Url (idUrl, url, nbMotsTheme) VALUES " + rows);
    for (const std::string& rows : joinedBatches(links))
      db.execute("INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES " + rows);
    rebuildKeywordBlocks(db);

    for (int query = 0; query < 25; ++query) {
      std::vector<std::string> words = vocabulary;
      words.push_back("absent");
      std::shuffle(words.begin(), words.end(), random);
      const int searched = 2 + query % 3;
      const int excluded = query % 4 == 0 ? 0 : query % 3;
      const std::vector<std::string> searchWords(words.begin(), words.begin() + searched);
      const std::vector<std::string> excludedWords(words.begin() + searched,
                                                   words.begin() + searched + excluded);
      for (const std::int64_t firstRow : {0, 15, 90, 270, 5000}) {
        const SearchResult expected = groupedResult(db, searchWords, excludedWords, firstRow, 15);
        const std::optional<SearchResult> found =
            runBlockSearch(db, searchWords, excludedWords, firstRow, 15, 1 + query % 5);
        ASSERT_TRUE(found);
        const std::string what = "round " + std::to_string(round) + " query " +
                                 std::to_string(query) + " from row " + std::to_string(firstRow);
        EXPECT_EQ(found->urls, expected.urls) << what;
        EXPECT_EQ(found->total, expected.total) << what;
      }
    }
  }
}

// An index made before the blocks: the grouping statements answer.
TEST(BlockSearch, AnIndexWithoutBlocksIsSearchedByGrouping) {
  resetDatabase();
  IndexConnection db(testSettings());
  db.execute("INSERT INTO Url (idUrl, url) VALUES (1, 'http://p/1'), (2, 'http://p/2')");
  db.execute("INSERT INTO MotCle (idMot, mot) VALUES (1, 'miel'), (2, 'cire')");
  db.execute("INSERT INTO CorrespMotUrl VALUES (1, 1, 2), (2, 1, 1), (1, 2, 5)");
  db.execute("DROP TABLE MotBloc");
  EXPECT_FALSE(runBlockSearch(db, {"miel", "cire"}, {}, 0, 15));
  const std::optional<SearchResult> found = runSearch(db, {"miel"}, {"cire"}, 0, 15);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->urls, std::vector<std::string>{"http://p/2"});
  EXPECT_EQ(found->total, 1);
}

}  // namespace
