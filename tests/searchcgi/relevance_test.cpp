#include "searchcgi/relevance.h"

#include <gtest/gtest.h>

#include "searchcgi/query_string.h"

namespace {

using namespace theme_search;

// A page holding one term: its body count and length, and a count in one
// field besides.
CandidatePage page(const std::string& url, unsigned body, unsigned length,
                   FieldIndex field = bodyField, unsigned inField = 0) {
  CandidatePage candidate;
  candidate.url = url;
  candidate.counts.assign(1, {});
  candidate.counts[0][bodyField] = body;
  if (field != bodyField) candidate.counts[0][field] = inField;
  candidate.length[bodyField] = length;
  if (field != bodyField) candidate.length[field] = 4;
  return candidate;
}

CollectionStats stats(std::int64_t pages, std::int64_t withTerm, double averageBody) {
  CollectionStats collection;
  collection.pages = pages;
  collection.pagesWithTerm = {withTerm};
  collection.averageLength = {4, 8, 4, 10, averageBody};
  return collection;
}

std::vector<std::string> order(const std::vector<RankedPage>& ranked) {
  std::vector<std::string> urls;
  for (const RankedPage& page : ranked) urls.push_back(page.url);
  return urls;
}

// What the ranking must get right: a word in the title outranks a longer
// page that only repeats it in its body; of two pages with the same count
// the shorter one ranks first; more occurrences rank higher, with a
// saturating gain; ties go by URL.
TEST(Relevance, TitleLengthAndCountsOrderThePages) {
  const CollectionStats collection = stats(100, 10, 300);
  EXPECT_EQ(order(rankPages({page("http://long-repeats", 6, 3000),
                             page("http://titled", 1, 300, titleField, 1)},
                            collection)),
            (std::vector<std::string>{"http://titled", "http://long-repeats"}));
  EXPECT_EQ(order(rankPages({page("http://a-long", 3, 1200), page("http://b-short", 3, 150)},
                            collection)),
            (std::vector<std::string>{"http://b-short", "http://a-long"}));
  const double one = bm25fScore(page("x", 1, 300), collection, {});
  const double two = bm25fScore(page("x", 2, 300), collection, {});
  const double many = bm25fScore(page("x", 200, 300), collection, {});
  EXPECT_GT(two, one);
  EXPECT_LT(two - one, one);  // the second occurrence adds less than the first
  EXPECT_LT(many, (RankingWeights{}.k1 + 1) * inverseDocumentFrequency(100, 10) + 1e-9);
  EXPECT_EQ(order(rankPages({page("http://b", 2, 300), page("http://a", 2, 300)}, collection)),
            (std::vector<std::string>{"http://a", "http://b"}));
}

// A rare term weighs more than a common one, and a page of unknown length
// (an index without the ranking rows) counts as of average length.
TEST(Relevance, RareTermsWeighMoreAndUnknownLengthsAreAverage) {
  EXPECT_GT(inverseDocumentFrequency(1000, 3), inverseDocumentFrequency(1000, 300));
  EXPECT_GT(inverseDocumentFrequency(10, 10), 0.0);  // a term on every page still counts
  CandidatePage both;
  both.url = "x";
  both.counts = {{0, 0, 0, 0, 1}, {0, 0, 0, 0, 1}};
  CollectionStats collection = stats(1000, 0, 300);
  collection.pagesWithTerm = {3, 300};
  CandidatePage rare = both, common = both;
  rare.counts[1][bodyField] = 0;
  common.counts[0][bodyField] = 0;
  EXPECT_GT(bm25fScore(rare, collection, {}), bm25fScore(common, collection, {}));
  EXPECT_NEAR(bm25fScore(rare, collection, {}) + bm25fScore(common, collection, {}),
              bm25fScore(both, collection, {}), 1e-9);

  CandidatePage unknown = page("x", 2, 0);
  EXPECT_DOUBLE_EQ(bm25fScore(unknown, collection, {}),
                   bm25fScore(page("x", 2, 300), collection, {}));
}

// The views' order parameter is read by name wherever it stands and taken
// out, so the rest decodes as the plain page's query.
TEST(Relevance, OrderParameterIsTakenOutByName) {
  struct Case {
    std::string query, rest;
    ResultOrder order;
  } cases[] = {
      {"keyword=a&page=2", "keyword=a&page=2", ResultOrder::relevance},
      {"keyword=a&page=2&order=count", "keyword=a&page=2", ResultOrder::count},
      {"keyword=a&order=count&page=2", "keyword=a&page=2", ResultOrder::count},
      {"order=count&keyword=a&page=2&v", "keyword=a&page=2&v", ResultOrder::count},
      {"keyword=a&page=1&order=relevance", "keyword=a&page=1", ResultOrder::relevance},
      {"keyword=order%3Dcount&page=1", "keyword=order%3Dcount&page=1", ResultOrder::relevance},
      {"", "", ResultOrder::relevance},
  };
  for (const Case& c : cases) {
    const ViewQuery view = takeOrderParameter(c.query);
    EXPECT_EQ(view.queryString, c.rest) << c.query;
    EXPECT_EQ(view.order, c.order) << c.query;
    EXPECT_FALSE(decodeQuery(view.queryString).spellCheck && c.rest.find("&v") == std::string::npos)
        << c.query;
  }
}

// The weights' text sets what it names over the defaults, and one bad item
// (unknown name, value out of range, trailing bytes) rejects the whole text.
TEST(Relevance, WeightsTextSetsNamedValuesAndRejectsTheRest) {
  const std::optional<RankingWeights> some = parseRankingWeights("k1=2,b=0.5,title=8,b.body=0.9");
  ASSERT_TRUE(some);
  EXPECT_DOUBLE_EQ(some->k1, 2.0);
  EXPECT_DOUBLE_EQ(some->weight[titleField], 8.0);
  EXPECT_DOUBLE_EQ(some->weight[headingsField], RankingWeights{}.weight[headingsField]);
  EXPECT_DOUBLE_EQ(some->b[titleField], 0.5);
  EXPECT_DOUBLE_EQ(some->b[bodyField], 0.9);
  ASSERT_TRUE(parseRankingWeights(""));
  EXPECT_DOUBLE_EQ(parseRankingWeights("")->k1, RankingWeights{}.k1);
  for (const char* bad : {"k1", "k1=", "k1=0", "k1=-1", "b=1.5", "title=2x", "colour=1",
                          "b.colour=0.5", "body=inf", "body=nan", "title=1,,", "path=101"})
    EXPECT_FALSE(parseRankingWeights(bad)) << bad;
}

}  // namespace
