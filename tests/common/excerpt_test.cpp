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
       "...hh miel ii jj kk ll...",
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
// the text of at most 200 bytes, whole sentences when they fit, and each
// mark is a query word.
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
  EXPECT_LE(excerpt.text.size(), kExcerptLength);
  EXPECT_GE(excerpt.text.size(), kExcerptLength / 2) << excerpt.text;
  const std::size_t at = text.find(excerpt.text);
  ASSERT_NE(at, std::string::npos) << excerpt.text;
  EXPECT_EQ(text.substr(at - 2, 2), ". ") << "begins a sentence: " << excerpt.text;
  EXPECT_EQ(excerpt.text.back(), '.') << "ends one: " << excerpt.text;
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

TEST(Excerpt, ShowsThePassageWithTheMostQueryWords) {
  const std::string filler = " aa bb cc dd ee ff gg hh ii jj kk ll mm nn oo pp qq rr ss tt.";
  struct Case {
    std::string text;
    Words query;
    Words marked;
  } cases[] = {
      // Both words beat one word twice, which beats one word once; the
      // first such passage wins ties.
      {"miel seul." + filler + " Le miel et le miel." + filler + " Le miel de la ruche." + filler,
       {"miel", "ruche"},
       {"miel", "ruche"}},
      {"Un miel." + filler + " Le miel et le miel." + filler + " Le miel encore.",
       {"miel", "ruche"},
       {"miel", "miel"}},
  };
  for (const Case& c : cases) {
    const Excerpt excerpt = cutExcerpt(c.text, c.query, 40);
    EXPECT_EQ(markedPieces(excerpt), c.marked)
        << "text: " << c.text << "\nexcerpt: " << excerpt.text;
  }
  EXPECT_EQ(cutExcerpt("Un miel." + filler + " Le miel et le miel.", {"miel"}, 40).text,
            "Le miel et le miel.");
  EXPECT_EQ(cutExcerpt("Un miel." + filler + " Deux miel.", {"miel"}, 40).text.substr(0, 8),
            "Un miel.");
}

TEST(Excerpt, NeverShowsThePageTitleAgain) {
  struct Case {
    std::string text, title;
    std::string excerpt;
  } cases[] = {
      // The heading that repeats the title, in any case and accents.
      {"Le varroa Le varroa est un acarien.", "Le varroa", "Le varroa est un acarien."},
      {"LA R\xc9"
       "COLTE Elle se fait en \xe9t\xe9.",
       "La r\xe9"
       "colte",
       "Elle se fait en \xe9t\xe9."},
      {"Le Rucher - apiculture et abeilles Bienvenue au rucher, ses abeilles.",
       "Le Rucher - apiculture et abeilles", "Bienvenue au rucher, ses abeilles."},
      // The pieces its words stand in go with them.
      {"L'hivernage En hiver, les abeilles.", "L'hivernage", "En hiver, les abeilles."},
      // Repeated later as a heading, after a sentence's end: the pieces on
      // either side are read apart.
      {"Intro. Le varroa Il tue. Fin du varroa.", "Le varroa", "Il tue. Fin du varroa."},
      // The title's words inside a sentence are the text's own.
      {"Le varroa est un acarien.", "Le varroa", "Le varroa est un acarien."},
      {"Lutte contre le varroa. Fin.", "Le varroa", "Lutte contre le varroa. Fin."},
      // A title cut with "..." repeats the first words, whatever follows.
      {"un deux trois quatre cinq varroa six", "un deux trois...", "quatre cinq varroa six"},
      // A text that is all title is shown as it is.
      {"Le varroa", "Le varroa", "Le varroa"},
  };
  for (const Case& c : cases) {
    const Excerpt excerpt = cutExcerpt(c.text, {"varroa", "abeilles", "recolte"}, 200, c.title);
    EXPECT_EQ(excerpt.text, c.excerpt) << "text: " << c.text << "\ntitle: " << c.title;
  }
}

TEST(Excerpt, StaysInsideOnePieceBetweenBreaks) {
  const std::string text = std::string("Accueil abeilles ") + kStretchBreak +
                           " Les abeilles butinent. Elles rentrent le soir au rucher. " +
                           kStretchBreak + " Contact abeilles";
  const Excerpt excerpt = cutExcerpt(text, {"abeilles", "rucher"}, 200);
  EXPECT_EQ(excerpt.text, "Les abeilles butinent. Elles rentrent le soir au rucher.");
  EXPECT_EQ(markedPieces(excerpt), (Words{"abeilles", "rucher"}));
  // A window cut inside its piece ends at a sentence's end, not in a
  // footer that follows it; an unfinished sentence gets its "...".
  EXPECT_EQ(cutExcerpt("Le miel de lavande est clair. Accueil | Le miel", {"miel"}, 40).text,
            "Le miel de lavande est clair.");
  EXPECT_EQ(
      cutExcerpt(std::string("Les abeilles voyagent de nuit. Printemps | Hiver ") + kStretchBreak,
                 {"abeilles"}, 200)
          .text,
      "Les abeilles voyagent de nuit.");
  EXPECT_EQ(cutExcerpt(std::string("aa bb ") + kStretchBreak, {"zz"}, 200).text, "aa bb");
  EXPECT_EQ(cutExcerpt(std::string(1, kStretchBreak), {"zz"}, 200).text.find(kStretchBreak),
            std::string::npos);
}

// The texts of a result page whose site wraps each in the same header and
// footer, with a phrase of the query in most of them.
TEST(SharedStretches, TakeOutWhatMostTextsShareAtTheirEndsOrAtLength) {
  const std::string header = "Accueil | Les abeilles | Le miel |";
  const std::string footer = "Mentions | Contact";
  const std::string menu = "Printemps Ete Automne Hiver Calendrier Rucher Club Glossaire";
  std::vector<std::string> texts = {
      header + " Le varroa est un acarien. " + menu + " Perdu le mot de passe oublie un. " + footer,
      header + " La reine pond. " + menu + " Voici le mot de passe oublie deux. " + footer,
      header + " Les ouvrieres butinent le mot de passe oublie trois. " + footer,
      "Autre site. " + menu + " Le mot de passe oublie ici quatre.",
  };
  std::vector<std::string*> pointers;
  for (std::string& text : texts) pointers.push_back(&text);
  markSharedStretches(pointers);
  const std::string b(1, kStretchBreak);
  EXPECT_EQ(texts[0],
            b + " Le varroa est un acarien. " + b + " Perdu le mot de passe oublie un. " + b);
  EXPECT_EQ(texts[1], b + " La reine pond. " + b + " Voici le mot de passe oublie deux. " + b);
  EXPECT_EQ(texts[2], b + " Les ouvrieres butinent le mot de passe oublie trois. " + b);
  // The menu stands in three of the four texts: in the middle, and long.
  EXPECT_EQ(texts[3], "Autre site. " + b + " Le mot de passe oublie ici quatre.");
  EXPECT_EQ(cutExcerpt(texts[0], {"varroa", "abeilles", "miel"}).text, "Le varroa est un acarien.");

  // Two texts, or a stretch in only half of the texts: nothing goes.
  std::vector<std::string> two = {header + " un. " + footer, header + " deux. " + footer};
  std::vector<std::string> half = {header + " un.", header + " deux.", "trois.", "quatre."};
  const auto before = std::make_pair(two, half);
  pointers = {&two[0], &two[1]};
  markSharedStretches(pointers);
  pointers = {&half[0], &half[1], &half[2], &half[3]};
  markSharedStretches(pointers);
  EXPECT_EQ(std::make_pair(two, half), before);
  // Empty texts do not count, and short texts are compared whole.
  std::vector<std::string> short_ = {"Accueil", "Accueil", "Accueil", "", "", "Autre"};
  pointers.clear();
  for (std::string& text : short_) pointers.push_back(&text);
  markSharedStretches(pointers);
  EXPECT_EQ(short_, (Words{b, b, b, "", "", "Autre"}));

  // In long texts, only the first and last 200 pieces are read: the header
  // and footer go, a menu deep inside stays.
  std::vector<std::string> longTexts;
  for (int i = 0; i < 3; ++i) {
    std::string prose;
    for (int w = 0; w < 300; ++w) prose += "w" + std::to_string(i) + "x" + std::to_string(w) + " ";
    longTexts.push_back(header + " " + prose + menu + " " + prose + footer);
  }
  const std::vector<std::string> unmarked = longTexts;
  pointers.clear();
  for (std::string& text : longTexts) pointers.push_back(&text);
  markSharedStretches(pointers);
  for (int i = 0; i < 3; ++i) {
    const std::string& original = unmarked[i];
    EXPECT_EQ(
        longTexts[i],
        b + original.substr(header.size(), original.size() - header.size() - footer.size() - 1) +
            " " + b);
  }
}

}  // namespace
