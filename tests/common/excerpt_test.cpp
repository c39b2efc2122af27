#include "common/excerpt.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/text_folding.h"

namespace {

using namespace theme_search;

using Words = std::vector<std::string>;
using Marks = std::vector<ExcerptMark>;

// The marked pieces of an excerpt, for readable expectations.
Words markedPieces(const Excerpt& excerpt) {
  Words pieces;
  for (const ExcerptMark& mark : excerpt.marks) {
    if (mark.offset + mark.length > excerpt.text.size()) {
      pieces.push_back("<mark out of the text>");
    } else {
      pieces.push_back(excerpt.text.substr(mark.offset, mark.length));
    }
  }
  return pieces;
}

TEST(Excerpt, MarksEveryWordWhoseFoldedFormIsAQueryWord) {
  struct Case {
    std::string text;
    Words query;
    Words marked;
  } cases[] = {
      {"La R\xe9"
       "colte du miel : RECOLTE, r\xe9"
       "colte2 et r\xe9"
       "coltes.",
       {"recolte"},
       {"R\xe9"
        "colte",
        "RECOLTE"}},
      {"l'\xe9t\xe9 \xc9T\xc9 l\x92\xe9t\xe9 d'ete \xe9t\xe9s",
       {"ete"},
       {"\xe9t\xe9", "\xc9T\xc9", "\xe9t\xe9", "ete"}},
      {"\xc6sop \xe6sop stra\xdf"
       "e oeuf \x9cuf",
       {"aesop", "strasse", "oeuf"},
       {"\xc6sop", "\xe6sop",
        "stra\xdf"
        "e",
        "oeuf", "\x9cuf"}},
      // Letters then digits make one word; digits after no letter are none
      // (3com gives com).
      {"mp3 mp 3com com mp3x 2004", {"mp3", "com"}, {"mp3", "com", "com", "mp3"}},
      // A lone letter is no word; markup and punctuation separate.
      {"a b <b>abeille</b> x\"abeille\"y \x01"
       "abeille\x7f",
       {"a", "b", "abeille"},
       {"abeille", "abeille", "abeille"}},
      {"abeilles abeillesx xabeilles", {"abeilles"}, {"abeilles"}},
      {"rien ici", {"miel"}, {}},
      {"miel", {}, {}},
      {"", {"miel"}, {}},
  };
  for (const Case& c : cases) {
    const Excerpt excerpt = cutExcerpt(c.text, c.query);
    EXPECT_EQ(excerpt.text, c.text) << "short texts are whole: " << c.text;
    EXPECT_EQ(markedPieces(excerpt), c.marked) << "text: " << c.text;
  }
}

// The words an excerpt marks are the words the index holds for the text.
TEST(Excerpt, FindsTheWordsWordsOfCuts) {
  const std::string texts[] = {
      "l'\xe9t\xe9 2004 mp3 3com x y abc123def a1 \xe6on stra\xdf"
      "e \xd7\xf7 \xa0\xa9\xaa\xba",
      "c\x9cur \x8cuvre \x8a"
      "koda \x80x ab\x81"
      "cd \x85z ee\x92"
      "ff <b>gg</b>&amp;hh",
  };
  for (const std::string& text : texts) {
    Words words = wordsOf(text);
    for (std::string& word : words)
      for (char& c : word) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (const std::string& word : words) {
      const auto expected = std::count(words.begin(), words.end(), word);
      const Excerpt excerpt = cutExcerpt(text, {word}, text.size());
      EXPECT_EQ(static_cast<long>(excerpt.marks.size()), expected)
          << "word: " << word << "\ntext: " << text;
    }
  }
}

TEST(Excerpt, CutsAtBlanksAroundTheFirstQueryWord) {
  struct Case {
    std::string text;
    Words query;
    std::size_t length;
    std::string excerpt;
    Marks marks;
  } cases[] = {
      // No match: the start, cut at a blank.
      {"one two three four five six", {"zz"}, 12, "one two...", {}},
      {"one two three", {"zz"}, 13, "one two three", {}},
      // A match in the middle: a little before it, to a blank after.
      {"aa bb cc dd ee ff gg hh miel ii jj kk ll mm nn oo pp",
       {"miel"},
       20,
       "...hh miel ii jj kk...",
       {{6, 4}}},
      // Near the end: the window reaches back to fill its length.
      {"aa bb cc dd ee ff gg hh ii jj kk ll mm miel",
       {"miel"},
       20,
       "...ii jj kk ll mm miel",
       {{18, 4}}},
      // At the start.
      {"miel aa bb cc dd ee ff gg", {"miel"}, 12, "miel aa bb...", {{0, 4}}},
      // Every match inside the window is marked, the ones outside not.
      {"x miel y cire z miel w aa bb cc dd ee ff gg hh miel",
       {"miel", "cire"},
       24,
       "x miel y cire z miel w...",
       {{2, 4}, {9, 4}, {16, 4}}},
      // A piece with no blank is cut inside; a first match longer than the
      // window is kept whole; a word cut by the window is not marked.
      {"abcdefghijklmnopqrstuvwxyz", {"zz"}, 10, "abcdefghij...", {}},
      {"aa bb abeillesabeillesabeilles cc",
       {"abeillesabeillesabeilles"},
       10,
       "...abeillesabeillesabeilles...",
       {{3, 24}}},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaamiel bb miel",
       {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaamiel", "zz"},
       8,
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaamiel...",
       {{0, 44}}},
  };
  for (const Case& c : cases) {
    const Excerpt excerpt = cutExcerpt(c.text, c.query, c.length);
    EXPECT_EQ(excerpt.text, c.excerpt) << "text: " << c.text;
    EXPECT_EQ(excerpt.marks, c.marks)
        << "text: " << c.text << "\nexcerpt: " << excerpt.text
        << "\nmarked: " << ::testing::PrintToString(markedPieces(excerpt));
  }
}

// A real page's text with the default length: the excerpt is a piece of
// the text of at most 200 bytes, and each mark is a query word.
TEST(Excerpt, StaysWithinItsLengthAndMarksOnlyQueryWords) {
  std::string text;
  for (int i = 0; i < 40; ++i)
    text += "Les abeilles butinent les fleurs du rucher " + std::to_string(i) + " en \xe9t\xe9. ";
  text +=
      "La r\xe9"
      "colte du MIEL d'acacia commence en mai; le miel est extrait. ";
  for (int i = 0; i < 40; ++i) text += "La ruche hiverne sous la neige " + std::to_string(i) + ". ";
  text.pop_back();
  const Words query = {"miel", "recolte"};
  const Excerpt excerpt = cutExcerpt(text, query);
  ASSERT_GE(excerpt.text.size(), 6u);
  EXPECT_EQ(excerpt.text.substr(0, 3), "...");
  EXPECT_EQ(excerpt.text.substr(excerpt.text.size() - 3), "...");
  const std::string inner = excerpt.text.substr(3, excerpt.text.size() - 6);
  EXPECT_LE(inner.size(), kExcerptLength);
  EXPECT_GE(inner.size(), kExcerptLength - 20) << inner;
  const std::size_t at = text.find(inner);
  ASSERT_NE(at, std::string::npos) << inner;
  EXPECT_EQ(text[at - 1], ' ');
  EXPECT_EQ(text[at + inner.size()], ' ');
  EXPECT_EQ(markedPieces(excerpt), (Words{"r\xe9"
                                          "colte",
                                          "MIEL", "miel"}))
      << excerpt.text;
  std::size_t previousEnd = 0;
  for (const ExcerptMark& mark : excerpt.marks) {
    EXPECT_GE(mark.offset, previousEnd);
    previousEnd = mark.offset + mark.length;
    std::string folded = foldText(excerpt.text.substr(mark.offset, mark.length));
    for (char& c : folded) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(std::find(query.begin(), query.end(), folded), query.end()) << folded;
  }
}

}  // namespace
