#include "common/word_stems.h"

#include <libstemmer.h>

#include <algorithm>
#include <limits>

#include "common/text.h"
#include "common/text_folding.h"

namespace theme_search {

namespace {

// Shorter words are returned as they are.
constexpr std::size_t kShortestStemmedWord = 3;

// The index's words are Latin-1, and libstemmer has both stemmers for it.
constexpr const char* kEncoding = "ISO_8859_1";

const char* algorithmName(StemLanguage language) {
  switch (language) {
    case StemLanguage::french:
      return "french";
    case StemLanguage::english:
      break;
  }
  return "english";
}

bool isStemmable(std::string_view word) {
  return word.size() >= kShortestStemmedWord &&
         word.size() <= static_cast<std::size_t>(std::numeric_limits<int>::max()) &&
         std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

// A folded French word with the e-acute of a participle ending put back
// ("recoltees" gets the e-acute of its written form); nullopt when the word
// has no such ending.
std::optional<std::string> withParticipleAccent(std::string_view word) {
  std::size_t ending = 0;
  if (endsWith(word, "ees"))
    ending = word.size() - 3;
  else if (endsWith(word, "ee"))
    ending = word.size() - 2;
  else
    return std::nullopt;
  std::string accented(word);
  accented[ending] = '\xE9';
  return accented;
}

}  // namespace

std::optional<StemLanguage> stemLanguageOf(std::string_view languageTag) {
  const std::string primary =
      lowered(std::string(languageTag.substr(0, languageTag.find_first_of("-_"))));
  if (primary == "fr") return StemLanguage::french;
  if (primary == "en") return StemLanguage::english;
  return std::nullopt;
}

void WordStemmer::LibraryDeleter::operator()(sb_stemmer* stemmer) const {
  sb_stemmer_delete(stemmer);
}

std::optional<WordStemmer> WordStemmer::create(StemLanguage language) {
  sb_stemmer* stemmer = sb_stemmer_new(algorithmName(language), kEncoding);
  if (stemmer == nullptr) return std::nullopt;
  return WordStemmer(language, stemmer);
}

std::optional<std::string> WordStemmer::stem(std::string_view word) {
  if (!stemmer_) return std::nullopt;
  if (!isStemmable(word)) return std::string(word);
  std::optional<std::string> accented;
  if (language_ == StemLanguage::french) accented = withParticipleAccent(word);
  const std::string_view input = accented ? std::string_view(*accented) : word;
  const sb_symbol* stem =
      sb_stemmer_stem(stemmer_.get(), reinterpret_cast<const sb_symbol*>(input.data()),
                      static_cast<int>(input.size()));
  if (stem == nullptr) return std::nullopt;
  std::string result(reinterpret_cast<const char*>(stem),
                     static_cast<std::size_t>(sb_stemmer_length(stemmer_.get())));
  // Only a put-back accent can survive into the stem; the index has none.
  if (accented) return foldText(result);
  return result;
}

std::optional<WordStemmer> stemmerFor(std::string_view languageTag) {
  const std::optional<StemLanguage> language = stemLanguageOf(languageTag);
  if (!language) return std::nullopt;
  return WordStemmer::create(*language);
}

}  // namespace theme_search
