// The readable views' first pages found from the keywords' blocks against
// the ranking of every keyword row.
#include "searchcgi/ranked_top.h"

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "index/page_writer.h"
#include "index/sql_text.h"
#include "searchcgi/relevance.h"
#include "test_database.h"

namespace {

using namespace theme_search;

// Words in pairs that share a stem (ruche, ruches), so the stems' variants
// add pages below the exact ones, and one on nearly every page, often in
// its fields (its field rows are looked up for the pages met only).
const std::vector<std::string> kVocabulary = {"ruche",  "ruches", "miel",    "miels",
                                              "cire",   "cires",  "reine",   "reines",
                                              "pollen", "essaim", "essaims", "donc"};
const std::size_t kEverywhere = 11;

// A random index with ties (few counts and body lengths, some unknown),
// field rows, rows without count, two languages and ids spread over many
// blocks with gaps.
void fillIndex(IndexConnection& db, std::mt19937& random, std::uint32_t firstId, int pageCount) {
  std::vector<std::string> pages, measures, links, fields;
  std::uniform_int_distribution<int> gap(1, 4), ratio(0, 4), length(0, 3), letter(0, 25),
      percent(0, 99), field(1, 4);
  std::uint32_t id = firstId;
  for (int page = 0; page < pageCount; ++page) {
    id += static_cast<std::uint32_t>(gap(random));
    std::string url = "http://p/";
    for (int i = 0; i < 2; ++i) url += static_cast<char>('a' + letter(random));
    pages.push_back("(" + std::to_string(id) + "," + quote(url + std::to_string(id)) + ",1)");
    const int body = length(random) * 150;
    measures.push_back("(" + std::to_string(id) + "," + std::to_string(body) + ",5," +
                       (percent(random) < 70 ? "'fr'" : "'en'") + ")");
    for (std::size_t w = 0; w < kVocabulary.size(); ++w) {
      if (percent(random) >= (w == kEverywhere ? 99 : 45)) continue;
      // A row without count now and then (the page then does not hold the
      // word for the ranking, though the blocks count it).
      const int count = percent(random) < 3 ? 0 : 1 + ratio(random) * (w % 3 == 0 ? 3 : 1);
      links.push_back("(" + std::to_string(w + 1) + "," + std::to_string(id) + "," +
                      std::to_string(count) + ")");
      if (percent(random) < (w == kEverywhere ? 30 : 8))
        fields.push_back("(" + std::to_string(w + 1) + "," + std::to_string(id) + "," +
                         std::to_string(field(random)) + ",1)");
    }
  }
  for (const std::string& rows : joinedBatches(pages))
    db.execute("INSERT INTO Url (idUrl, url, nbMotsTheme) VALUES " + rows);
  for (const std::string& rows : joinedBatches(measures))
    db.execute("INSERT INTO DocumentMesure (idUrl, nbMots, nbMotsTitre, langue) VALUES " + rows);
  for (const std::string& rows : joinedBatches(links))
    db.execute("INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES " + rows);
  for (const std::string& rows : joinedBatches(fields))
    db.execute("INSERT IGNORE INTO MotChamp (idMot, idUrl, champ, nb) VALUES " + rows);
  rebuildKeywordBlocks(db);
}

// Random searches of one to four terms (some repeated, some not in the
// index, some excluded), windows from the first row to beyond the exact
// pages, read a few rows at a time, and pages indexed after the figures
// were read: wherever the blocks answer, they give the pages, scores and
// total of the ranking of every row; and they answer most windows.
TEST(RankedTopSearch, GivesThePagesScoresAndTotalOfTheRankingOfEveryRow) {
  std::mt19937 random(20261209);
  int answered = 0, asked = 0;
  for (int round = 0; round < 3; ++round) {
    resetDatabase();
    IndexConnection db(testSettings());
    for (std::size_t w = 0; w < kVocabulary.size(); ++w)
      db.execute("INSERT INTO MotCle (idMot, mot) VALUES (" + std::to_string(w + 1) + ", " +
                 quote(kVocabulary[w]) + ")");
    fillIndex(db, random, 0, 500);
    // Both read now: the pages added next are unknown to them.
    IndexFigures figures{IndexFigures::Scope::wholeIndex, std::chrono::hours(1)};
    IndexFigures reference{IndexFigures::Scope::wholeIndex, std::chrono::hours(1)};
    figures.refresh(db);
    reference.refresh(db);
    if (round > 0) fillIndex(db, random, 100000, 30);

    for (int query = 0; query < 30; ++query) {
      std::vector<std::string> words = kVocabulary;
      words.push_back("absent");
      std::shuffle(words.begin(), words.end(), random);
      const int searched = 1 + query % 4;
      const int excluded = query % 3 == 0 ? query % 2 + 1 : 0;
      std::vector<std::string> searchTerms(words.begin(), words.begin() + searched);
      const std::vector<std::string> excludedTerms(words.begin() + searched,
                                                   words.begin() + searched + excluded);
      if (query % 7 == 6) searchTerms.push_back(searchTerms.front());
      const RankedSearch all =
          runRankedSearch(db, reference, searchTerms, excludedTerms, 0, 0).value();
      for (const std::int64_t firstRow : {0, 10, 40, 150}) {
        const std::string what = "round " + std::to_string(round) + " query " +
                                 std::to_string(query) + " from row " + std::to_string(firstRow);
        ++asked;
        const std::optional<RankedSearch> found = runRankedTopSearch(
            db, figures, searchTerms, excludedTerms, firstRow, 10, RankingWeights{}, 1 + query % 5,
            query % 2 == 0 ? kShortPagesMet : static_cast<std::size_t>(query % 3));
        if (!found) continue;
        ++answered;
        EXPECT_EQ(found->total, all.total) << what;
        ASSERT_LE(static_cast<std::size_t>(firstRow + 10), all.pages.size()) << what;
        ASSERT_EQ(found->pages.size(), 10U) << what;
        for (std::size_t i = 0; i < found->pages.size(); ++i) {
          EXPECT_EQ(found->pages[i].url, all.pages[firstRow + i].url) << what << " row " << i;
          EXPECT_EQ(found->pages[i].score, all.pages[firstRow + i].score) << what << " row " << i;
        }
      }
    }
  }
  EXPECT_GT(answered, asked / 2);
}

// Thirty pages that score the same, read one row at a time: the window
// holds those first by URL, which the reads by ratio meet last.
TEST(RankedTopSearch, MeetsEveryPageTiedWithTheWindowsLast) {
  resetDatabase();
  IndexConnection db(testSettings());
  db.execute("INSERT INTO MotCle (idMot, mot) VALUES (1, 'miel')");
  std::vector<std::string> expected;
  for (int page = 1; page <= 30; ++page) {
    const std::string url = "http://p/" + std::to_string(100 + page);
    db.execute("INSERT INTO Url (idUrl, url, nbMotsTheme) VALUES (" + std::to_string(page) + ", " +
               quote(url) + ", 1)");
    db.execute("INSERT INTO DocumentMesure (idUrl, nbMots) VALUES (" + std::to_string(page) +
               ", 300)");
    db.execute("INSERT INTO CorrespMotUrl (idMot, idUrl, ratio) VALUES (1, " +
               std::to_string(page) + ", 2)");
    if (page <= 10) expected.push_back(url);
  }
  rebuildKeywordBlocks(db);
  IndexFigures figures{IndexFigures::Scope::wholeIndex, std::chrono::seconds(0)};
  figures.refresh(db);
  const std::optional<RankedSearch> found =
      runRankedTopSearch(db, figures, {"miel"}, {}, 0, 10, RankingWeights{}, 1, 0);
  ASSERT_TRUE(found);
  std::vector<std::string> urls;
  for (const RankedPage& page : found->pages) urls.push_back(page.url);
  EXPECT_EQ(urls, expected);
  EXPECT_EQ(found->total, 30);
}

// Without blocks, or with figures of the query's pages only (a CGI
// process), the ranking of every row answers.
TEST(RankedTopSearch, LeavesIndexesWithoutBlocksAndPartialFiguresToTheFullRanking) {
  std::mt19937 random(7);
  resetDatabase();
  IndexConnection db(testSettings());
  for (std::size_t w = 0; w < kVocabulary.size(); ++w)
    db.execute("INSERT INTO MotCle (idMot, mot) VALUES (" + std::to_string(w + 1) + ", " +
               quote(kVocabulary[w]) + ")");
  fillIndex(db, random, 0, 100);
  IndexFigures whole{IndexFigures::Scope::wholeIndex, std::chrono::seconds(0)};
  whole.refresh(db);
  EXPECT_TRUE(runRankedTopSearch(db, whole, {"miel"}, {}, 0, 10, RankingWeights{}));
  IndexFigures partial{IndexFigures::Scope::queryPages};
  partial.refresh(db);
  EXPECT_FALSE(runRankedTopSearch(db, partial, {"miel"}, {}, 0, 10, RankingWeights{}));
  db.execute("DROP TABLE MotBloc");
  EXPECT_FALSE(runRankedTopSearch(db, whole, {"miel"}, {}, 0, 10, RankingWeights{}));
  EXPECT_EQ(runRankedSearch(db, whole, {"miel"}, {}, 0, 10)->pages.size(), 10U);
}

}  // namespace
