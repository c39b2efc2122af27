#include "common/word_stems.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

WordStemmer stemmerOf(StemLanguage language) {
  std::optional<WordStemmer> stemmer = WordStemmer::create(language);
  if (!stemmer) throw std::runtime_error("no stemmer");
  return std::move(*stemmer);
}

std::string stemOf(WordStemmer& stemmer, std::string_view word) {
  return stemmer.stem(word).value_or("<failed>");
}

const char* nameOf(StemLanguage language) {
  return language == StemLanguage::french ? "french" : "english";
}

// Both stemmers, for tables that mix the languages.
struct BothStemmers {
  WordStemmer french = stemmerOf(StemLanguage::french);
  WordStemmer english = stemmerOf(StemLanguage::english);

  std::string stem(StemLanguage language, std::string_view word) {
    return stemOf(language == StemLanguage::french ? french : english, word);
  }
};

// Words that one query should find together, as the index holds them
// (folded, lower-cased).
struct Family {
  StemLanguage language;
  std::vector<std::string> words;
};

TEST(WordStems, InflectedFormsOfFoldedWordsShareAStem) {
  const Family families[] = {
      {StemLanguage::french, {"recolte", "recoltes"}},
      {StemLanguage::french, {"abeille", "abeilles"}},
      {StemLanguage::french, {"selection", "selections"}},
      {StemLanguage::french, {"rectangulaire", "rectangulaires"}},
      {StemLanguage::french, {"queue", "queues"}},
      {StemLanguage::french, {"cheval", "chevaux"}},
      {StemLanguage::french, {"nationale", "nationales", "nationaux", "national"}},
      // Participles lost their e-acute in the index.
      {StemLanguage::french, {"recolte", "recoltee", "recoltees"}},
      {StemLanguage::french, {"pensee", "pensees", "penser"}},
      {StemLanguage::french, {"fee", "fees"}},  // the accent stays in the library's stem
      {StemLanguage::english, {"queue", "queues"}},
      {StemLanguage::english, {"connection", "connections"}},
      {StemLanguage::english, {"city", "cities"}},
      {StemLanguage::english, {"running", "runs", "run"}},
  };
  BothStemmers stemmers;
  for (const Family& family : families) {
    const std::string first = stemmers.stem(family.language, family.words.front());
    EXPECT_FALSE(first.empty()) << family.words.front();
    for (const std::string& word : family.words) {
      const std::string stem = stemmers.stem(family.language, word);
      EXPECT_EQ(stem, first) << nameOf(family.language) << ": " << word << " and "
                             << family.words.front();
      // A stem is compared with the index's words: no accent, no capital.
      for (char c : stem) EXPECT_TRUE(c >= 'a' && c <= 'z') << word << " -> " << stem;
    }
  }
}

TEST(WordStems, DifferentWordsKeepDifferentStems) {
  const Family pairs[] = {
      {StemLanguage::french, {"miel", "mielleux"}},
      {StemLanguage::french, {"apiculteur", "apiculture"}},
      {StemLanguage::french, {"argent", "argentin"}},
      {StemLanguage::french, {"abeille", "abeillage"}},
      {StemLanguage::english, {"general", "generous"}},
      {StemLanguage::english, {"news", "new"}},
      {StemLanguage::english, {"queue", "queen"}},
  };
  BothStemmers stemmers;
  for (const Family& pair : pairs) {
    EXPECT_NE(stemmers.stem(pair.language, pair.words[0]),
              stemmers.stem(pair.language, pair.words[1]))
        << nameOf(pair.language) << ": " << pair.words[0] << " and " << pair.words[1];
  }
  // Each stemmer applies its own language's rules.
  EXPECT_NE(stemmers.stem(StemLanguage::french, "chevaux"),
            stemmers.stem(StemLanguage::english, "chevaux"));
}

TEST(WordStems, WordsTheStemmersMustNotTouchComeBackUnchanged) {
  // 255 bytes, the longest word the index keeps, and its singular.
  const std::string longWord = std::string(249, 'a') + "billes";
  const std::string longSingular = std::string(249, 'a') + "bille";
  const std::vector<std::string> unchanged = {
      "",
      "es",          // French would cut it to "e", no index word
      "mp3",         // letters and digits: a name, not an inflected word
      "Abeilles",    // not lower-cased
      "\xE9t\xE9s",  // not folded
      "queues-",     // not one word
      std::string("abeilles\0s", 10),
  };
  for (StemLanguage language : {StemLanguage::french, StemLanguage::english}) {
    WordStemmer stemmer = stemmerOf(language);
    for (const std::string& word : unchanged)
      EXPECT_EQ(stemOf(stemmer, word), word) << nameOf(language) << ": " << word;
    // A word as long as the index keeps is stemmed like a short one.
    const std::string longStem = stemOf(stemmer, longWord);
    EXPECT_EQ(longStem, stemOf(stemmer, longSingular)) << nameOf(language);
    EXPECT_LT(longStem.size(), longWord.size()) << nameOf(language);
  }
}

TEST(WordStems, PrimarySubtagOfAPageLanguageChoosesTheStemmer) {
  const struct Case {
    std::optional<StemLanguage> language;
    std::vector<std::string> tags;
  } cases[] = {
      {StemLanguage::french, {"fr", "fr-FR", "FR", "fr_CA"}},
      {StemLanguage::english, {"en", "en-GB", "EN-us", "en-fr"}},
      {std::nullopt, {"", "de", "f", "fra", "french", "-fr", "frFR"}},
  };
  for (const Case& c : cases) {
    for (const std::string& tag : c.tags) {
      EXPECT_EQ(stemLanguageOf(tag), c.language) << "tag: " << tag;
      std::optional<WordStemmer> stemmer = stemmerFor(tag);
      ASSERT_EQ(stemmer.has_value(), c.language.has_value()) << "tag: " << tag;
      if (stemmer) {
        EXPECT_EQ(stemmer->language(), *c.language) << "tag: " << tag;
      }
    }
  }
}

TEST(WordStemmer, MovedFromStemmerStemsNothing) {
  WordStemmer first = stemmerOf(StemLanguage::french);
  const std::string expected = stemOf(first, "abeilles");
  WordStemmer second = std::move(first);
  EXPECT_EQ(first.stem("abeilles"), std::nullopt);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(stemOf(second, "abeilles"), expected);
}

}  // namespace
