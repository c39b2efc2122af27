// The keyword selection: word counting, the theme decision and the words
// of an on-theme document that go into the index.
#include "crawler/analysis/keyword_selection.h"

#include <cstdint>

#include "common/text.h"

namespace theme_search {

KeywordSelection selectKeywords(const std::string& text, const EngineConfig& config) {
  KeywordSelection selection;
  WordCounts wordCounts;
  countWords(text, wordCounts);
  for (const auto& entry : wordCounts) selection.wordCount += entry.second;
  selection.onTheme = isOnTheme(wordCounts, config);
  if (!selection.onTheme) return selection;
  for (const auto& [word, count] : wordCounts) {
    const auto weight = static_cast<std::int32_t>(config.themeWeight(word));
    if (weight > 0) ++selection.themeWordCount;
    if (word.size() >= 2 && word.size() <= kMaxKeywordBytes && weight >= 0)
      selection.keywords.emplace_hint(selection.keywords.end(), word, count);
  }
  return selection;
}

void countWords(const std::string& text, WordCounts& wordCounts) {
  std::string::size_type end = 0;
  while (true) {
    std::string::size_type begin = end;
    while (begin < text.size() && isAsciiSpace(text[begin])) ++begin;
    if (begin == text.size()) return;
    end = begin;
    while (end < text.size() && !isAsciiSpace(text[end])) ++end;
    std::string word = text.substr(begin, end - begin);
    // Words the keyword column's collation takes for one (DEUX, Deux, and
    // accented capitals) are counted as one.
    ++wordCounts[toLowerLatin1(word)];
  }
}

bool isOnTheme(const WordCounts& wordCounts, const EngineConfig& config) {
  bool weightedReached = false;
  for (const auto& [themeWord, weight] : config.themeWords) {
    auto found = wordCounts.find(themeWord);
    if (weight == 0) {
      if (found == wordCounts.end()) return false;  // a required word is missing
    } else if (found != wordCounts.end() && weight <= found->second) {
      weightedReached = true;
    }
  }
  return weightedReached;
}

}  // namespace theme_search
