#include "searchcgi/query_string.h"

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

TEST(QueryString, SplitAtAppendsBeforeSeparatorAndReturnsRest) {
  std::string accumulator = "x";
  EXPECT_EQ(splitAt("ab&cd&e", accumulator, '&'), "cd&e");
  EXPECT_EQ(accumulator, "xab");
  EXPECT_EQ(splitAt("abc", accumulator, '&'), "");
  EXPECT_EQ(accumulator, "xababc");
  EXPECT_EQ(valueAfterEquals("keyword=a=b"), "a=b");
  EXPECT_EQ(valueAfterEquals("keyword"), "");
}

TEST(QueryString, DecodesParametersByPosition) {
  struct Case {
    std::string query, keywordText;
    int pageNumber;
    bool spellCheck;
  } cases[] = {
      {"keyword=a+b+-c&page=2&verif=x", "a+b+-c", 2, true},
      {"keyword=a&page=1", "a", 1, false},
      {"keyword=a&page=1&", "a", 1, false},
      {"keyword=a&page=1&x", "a", 1, true},
      {"page=4&keyword=z", "4", 1, false},  // names are never compared
      {"keyword=a&page=3abc", "a", 3, false},
      {"keyword=a&page= +7", "a", 7, false},
      {"keyword=a&page=", "a", 1, false},
      {"keyword=a&page=abc", "a", 1, false},
      {"keyword=a&page=0", "a", 1, false},
      {"keyword=a&page=-2", "a", 1, false},
      {"keyword=a&page=99999999999", "a", 2147483647, false},
      {"keyword=a%20b&page=1", "a%20b", 1, false},  // the keyword text stays as received
      {"keyword&page", "", 1, false},
      {"", "", 1, false},
  };
  for (const Case& c : cases) {
    const DecodedQuery decoded = decodeQuery(c.query);
    EXPECT_EQ(decoded.keywordText, c.keywordText) << "query: " << c.query;
    EXPECT_EQ(decoded.pageNumber, c.pageNumber) << "query: " << c.query;
    EXPECT_EQ(decoded.spellCheck, c.spellCheck) << "query: " << c.query;
  }
}

TEST(QueryString, SplitsKeywordsAtPlusIntoSearchAndExcludedWords) {
  using Words = std::vector<std::string>;
  struct Case {
    std::string text;
    Words search, excluded;
  } cases[] = {
      {"a+b+-c", {"a", "b"}, {"c"}},
      {"", {}, {}},
      {"-a+-b", {}, {"a", "b"}},
      {"a++b", {"a", "", "b"}, {}},
      {"+a+", {"", "a"}, {}},
      {"a+-", {"a"}, {""}},
      {"--a", {}, {"-a"}},
      {"a%20b+C%27", {"a b", "C'"}, {}},
      // Repeated words stay as typed; only the terms are searched once.
      {"miel+MIEL+-x+-x", {"miel", "MIEL"}, {"x", "x"}},
      // Decoding comes after the split and after the leading "-" is read.
      {"a%2Bb+-c%2B", {"a+b"}, {"c+"}},
      {"%2Da+-%2Db", {"-a"}, {"-b"}},
      {"caf%E9+-th%C3%A9", {"caf\xc3\xa9"}, {"th\xc3\xa9"}},
  };
  for (const Case& c : cases) {
    const KeywordLists lists = splitKeywords(c.text);
    EXPECT_EQ(lists.searchWords, c.search) << "keywords: " << c.text;
    EXPECT_EQ(lists.excludedWords, c.excluded) << "keywords: " << c.text;
  }
}

// The terms searched for follow the indexer's word rules; the keywords as
// typed stay for the page and the spelling checker.
TEST(QueryString, KeywordsBecomeTheIndexsTermsByTheWordRules) {
  struct Case {
    std::string text;
    std::vector<std::string> searchTerms, excludedTerms;
  } cases[] = {
      {"r%E9colte", {"recolte"}, {}},
      {"R%C3%89COLTE+-caf%E9", {"RECOLTE"}, {"cafe"}},
      {"l%27%E9t%E9", {"ete"}, {}},       // "l" is a one-letter word: dropped
      {"a+miel+-x", {"miel"}, {}},        // one-letter keywords give no term
      {"AT%26T+mp3", {"AT", "mp3"}, {}},  // '&' separates words
      {"abeille%2Bruche", {"abeille", "ruche"}, {}},
      {"%C5%93uf+-%9Cuvre", {"oeuf"}, {"oeuvre"}},  // beyond Latin-1; Windows-1252
      {"++%21%21", {}, {}},
      // A repeated term is searched once, whatever its case or accents, so
      // the several-words strategy never asks for a page holding it twice;
      // each sign on its own, the first as typed kept.
      {"miel+miel", {"miel"}, {}},
      {"Miel+MIEL+miel+ruche+RUCHE", {"Miel", "ruche"}, {}},
      {"%C9t%E9+ETE+%C3%A9t%C3%A9", {"Ete"}, {}},
      {"miel-miel+l%27abeille+abeille", {"miel", "abeille"}, {}},
      {"-miel+-MIEL+miel+-Miel", {"miel"}, {"miel"}},
  };
  for (const Case& c : cases) {
    const KeywordLists lists = splitKeywords(c.text);
    EXPECT_EQ(lists.searchTerms, c.searchTerms) << "keywords: " << c.text;
    EXPECT_EQ(lists.excludedTerms, c.excludedTerms) << "keywords: " << c.text;
  }
  // Repeats take no room: the 64 places are for different terms.
  std::string many;
  for (int i = 0; i < 100; ++i) many += "aa-";
  EXPECT_EQ(splitKeywords(many + "bb").searchTerms, (std::vector<std::string>{"aa", "bb"}));
  EXPECT_EQ(splitKeywords("l%27%E9t%E9").searchWords,
            std::vector<std::string>{"l'\xc3\xa9t\xc3\xa9"});
}

TEST(QueryString, DecodesEachKeywordFromPercentEscapesAndLatin1OrUtf8ToUtf8) {
  struct Case {
    std::string received, decoded;
  } cases[] = {
      {"caf%E9", "caf\xc3\xa9"},     // the form's Latin-1
      {"caf%e9", "caf\xc3\xa9"},     // lower-case hex digits
      {"caf%C3%A9", "caf\xc3\xa9"},  // UTF-8 from a browser that ignored the charset
      {"%C3%80%C2%A0%C3%BF", "\xc3\x80\xc2\xa0\xc3\xbf"},
      {"%C5%93uf", "\xc5\x93uf"},                     // UTF-8 beyond Latin-1
      {"%F0%9F%90%9D", "\xf0\x9f\x90\x9d"},           // four bytes
      {"%C3", "\xc3\x83"},                            // a lone lead byte is Latin-1 text
      {"%C3%A9%E9", "\xc3\x83\xc2\xa9\xc3\xa9"},      // not UTF-8 as a whole: Latin-1
      {"%C0%80", "\xc3\x80\xe2\x82\xac"},             // an overlong NUL is no UTF-8
      {"%ED%A0%80", "\xc3\xad\xc2\xa0\xe2\x82\xac"},  // nor is a surrogate
      // What a browser sends for a Latin-1 form: Windows-1252 in 0x80-0x9F;
      // an undefined byte stays a C1 control.
      {"%9Cuf+%93%81", "\xc5\x93uf+\xe2\x80\x9c\xc2\x81"},
      {"%", "%"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%4g", "%4g"},
      {"%%41", "%A"},
      {"%2541", "%41"},  // decoded once only
      {"a%20b", "a b"},
      {"%27", "'"},
      {"%00", std::string(1, '\0')},
      {"plain", "plain"},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(decodeKeyword(c.received), c.decoded) << "received: " << c.received;
}

TEST(QueryString, TermsAreTheSameAsTheIndexsCollationComparesThem) {
  EXPECT_TRUE(sameTerm("Miel", "mIEL"));
  EXPECT_TRUE(sameTerm("\xc9t\xde\xc0", "\xe9T\xfe\xe0"));  // Latin-1 capitals
  EXPECT_FALSE(sameTerm("\xd7", "\xf7"));                   // the multiplication sign is no capital
  EXPECT_FALSE(sameTerm("ete", "\xe9t\xe9"));
}

// Words between double quotes make a phrase of their terms, in order; a
// phrase of one term, or none, is no phrase; an unclosed quote runs to the
// last word. Phrase words are search words too.
TEST(QueryString, QuotedWordsMakePhrases) {
  using Phrases = std::vector<std::vector<std::string>>;
  struct Case {
    std::string keywordText;
    Phrases phrases;
  } cases[] = {
      {"%22event+loop%22", {{"event", "loop"}}},
      {"asyncio+%22event+loop%22+queue", {{"event", "loop"}}},
      {"%22l%27%E9t%E9+arrive%22", {{"ete", "arrive"}}},
      {"%22event%22+loop", {}},
      {"%22event+loop", {{"event", "loop"}}},
      {"%22a+b+c%22+%22task+group%22", {{"task", "group"}}},
      {"%22event+-loop%22", {{"event", "loop"}}},
      {"event+loop", {}},
  };
  for (const Case& c : cases) {
    const KeywordLists lists = splitKeywords(c.keywordText);
    EXPECT_EQ(lists.phrases, c.phrases) << c.keywordText;
    EXPECT_TRUE(lists.excludedTerms.empty()) << c.keywordText;
  }
  EXPECT_EQ(splitKeywords("asyncio+%22event+loop%22").searchTerms,
            (std::vector<std::string>{"asyncio", "event", "loop"}));

  EXPECT_TRUE(holdsPhrase("The Event loop runs.", {"event", "loop"}));
  EXPECT_TRUE(holdsPhrase("Enfin, l'\xe9t\xe9 arrive", {"ete", "arrive"}));
  EXPECT_FALSE(holdsPhrase("the loop of events", {"event", "loop"}));
  EXPECT_FALSE(holdsPhrase("an event, then a loop", {"event", "loop"}));
  EXPECT_FALSE(holdsPhrase("event", {"event", "loop"}));
}

TEST(QueryString, IgnoresWordsBeyondEachListsCapacity) {
  std::string text;
  for (int i = 0; i < 70; ++i) text += "w" + std::to_string(i) + "+-x" + std::to_string(i) + "+";
  const KeywordLists lists = splitKeywords(text);
  ASSERT_EQ(lists.searchWords.size(), maxWords);
  ASSERT_EQ(lists.excludedWords.size(), maxWords);
  EXPECT_EQ(lists.searchWords.back(), "w63");
  EXPECT_EQ(lists.excludedWords.back(), "x63");
}

}  // namespace
