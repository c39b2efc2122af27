#pragma once

// Stems of the index's words, so that a query word can also match the words
// that share its stem ("recoltes" finds "recolte"). A stem is a key to
// compare words by, not a word to show: "abeille" and "abeilles" both give
// "abeil". The Snowball French and English stemmers of libstemmer do the
// work, on Latin-1 bytes as the index stores them.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sb_stemmer;

namespace theme_search {

enum class StemLanguage { french, english };

// The stemming language of a page language tag such as <html lang> gives
// ("fr", "fr-FR", "EN_gb"): its primary subtag, up to the first '-' or '_',
// compared without regard to ASCII case; "fr" is French and "en" English.
// nullopt for any other tag, the empty one included: the caller decides
// whether such a page gets a default language or no stems at all.
[[nodiscard]] std::optional<StemLanguage> stemLanguageOf(std::string_view languageTag);

// One Snowball stemmer for one language. It keeps working memory between
// calls, so it is used by one thread at a time (one per thread; the library
// object is not thread-safe). Creating one is cheap (well under a
// microsecond), but keeping one per language and thread is cheaper still.
// Movable, not copyable (it owns the library object); a moved-from stemmer
// stems nothing.
class WordStemmer {
 public:
  // nullopt when the library cannot create the stemmer (out of memory, or a
  // library built without the language's Latin-1 stemmer).
  [[nodiscard]] static std::optional<WordStemmer> create(StemLanguage language);

  WordStemmer(WordStemmer&&) noexcept = default;
  WordStemmer& operator=(WordStemmer&&) noexcept = default;
  WordStemmer(const WordStemmer&) = delete;
  WordStemmer& operator=(const WordStemmer&) = delete;

  // The stem of one word as the index holds it: folded Latin-1, lower-cased,
  // so plain a-z. Other words come back unchanged: a word of fewer than
  // three letters (the French stemmer would cut "es" to "e", which is no
  // index word), a word with digits ("mp3", "win98": names and versions,
  // not inflected words), and any word with a byte outside a-z (unfolded or
  // upper-case text, which the stemmers would read differently).
  //
  // French words lost their accents in the index, and the French stemmer
  // needs the e-acute of the past participle endings to remove them: a
  // French word ending in "ee" or "ees" is stemmed with an e-acute for the
  // first e of that ending, as it was written, so that "recoltee" and
  // "recoltees" share the stem of "recolte" and "recoltes". The stem is
  // folded like the index's words.
  //
  // Does not block. nullopt when the library runs out of memory or the
  // stemmer was moved from.
  [[nodiscard]] std::optional<std::string> stem(std::string_view word);

  StemLanguage language() const { return language_; }

 private:
  struct LibraryDeleter {
    void operator()(sb_stemmer* stemmer) const;
  };

  WordStemmer(StemLanguage language, sb_stemmer* stemmer)
      : language_(language), stemmer_(stemmer) {}

  StemLanguage language_;
  std::unique_ptr<sb_stemmer, LibraryDeleter> stemmer_;
};

// The stemmer of a page language tag (stemLanguageOf): nullopt for a
// language without a stemmer and when WordStemmer::create fails.
[[nodiscard]] std::optional<WordStemmer> stemmerFor(std::string_view languageTag);

}  // namespace theme_search
