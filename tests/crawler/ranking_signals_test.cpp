#include "crawler/analysis/ranking_signals.h"

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

// A URL's path names its page: host, query, fragment and extension left
// out, words cut and folded as on a page.
TEST(RankingSignals, UrlPathWordsNameThePage) {
  struct Case {
    std::string url, words;
  } cases[] = {
      {"http://srv/doc/asyncio-queue.html?x=1#top", "doc asyncio queue "},
      {"https://srv:8080/R%C3%A9colte/", "Recolte "},
      {"http://srv/r%E9colte%2Dmiel", "recolte miel "},
      {"http://srv/r\xe9"
       "colte.d/index.php",
       "recolte index "},
      {"http://srv", ""},
      {"http://srv/asyncio.queue.html", "asyncio queue "},
  };
  for (const Case& c : cases) EXPECT_EQ(urlPathWords(c.url), c.words) << c.url;
}

// Each field keeps only the page's keywords, lower-cased as they are, and
// its whole length; the page's own language wins over the default, reduced
// to its primary subtag.
TEST(RankingSignals, FieldsKeepThePagesKeywordsAndTheirLengths) {
  const WordCounts keywords = {{"queue", 4}, {"asyncio", 2}, {"ete", 1}};
  PageFields fields;
  fields.title = "asyncio \xe2 Queue, QUEUE et l'\xc9t\xe9";
  fields.headings = "queue de messages";
  fields.language = "EN-gb";
  const RankingSignals signals =
      rankingSignals("http://srv/lib/asyncio-queue.html", 40, fields, keywords, "fr");
  EXPECT_EQ(signals.wordCount, 40u);
  EXPECT_EQ(signals.language, "en");
  EXPECT_EQ(signals.fieldWords.at(PageField::title),
            (WordCounts{{"asyncio", 1}, {"ete", 1}, {"queue", 2}}));
  EXPECT_EQ(signals.fieldLengths.at(PageField::title), 5u);
  EXPECT_EQ(signals.fieldWords.at(PageField::headings), (WordCounts{{"queue", 1}}));
  EXPECT_EQ(signals.fieldLengths.at(PageField::headings), 3u);
  EXPECT_EQ(signals.fieldWords.at(PageField::urlPath), (WordCounts{{"asyncio", 1}, {"queue", 1}}));
  EXPECT_EQ(signals.fieldWords.count(PageField::description), 0u);
  EXPECT_EQ(signals.fieldLengths.count(PageField::description), 0u);

  for (const char* unreadable : {"", "fr1", "<script>"}) {
    fields.language = unreadable;
    EXPECT_EQ(rankingSignals("http://srv/", 1, fields, keywords, "fr-CA").language, "fr")
        << unreadable;
  }
}

}  // namespace
