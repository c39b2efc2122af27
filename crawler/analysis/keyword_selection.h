#pragma once

#include <string>

#include "crawler/config/engine_config.h"
#include "index/page_writer.h"

namespace theme_search {

// The words of a document the index keeps, and whether it is on theme.
// Pure functions of text and configuration.

// Adds one to the count of every whitespace-separated word of `text`,
// lower-cased (accented Latin-1 capitals too, as the index compares them);
// whitespace is space, tab, line feed, vertical tab, form feed and carriage
// return.
void countWords(const std::string& text, WordCounts& wordCounts);

// True when some weighted theme word occurs at least as often as its weight
// and every required (weight 0) theme word occurs.
[[nodiscard]] bool isOnTheme(const WordCounts& wordCounts, const EngineConfig& config);

// What a document's text gives the index.
struct KeywordSelection {
  bool onTheme = false;
  // The text's words in all, counted as countWords counts them.
  unsigned wordCount = 0;
  // On theme: the number of distinct words of the text with a positive
  // theme weight (each counts once, whether or not it reached its weight),
  // so at least 1. Off theme: 0.
  int themeWordCount = 0;
  // On theme: every word of at least two bytes and at most
  // kMaxKeywordBytes (a longer word is skipped, not cut) whose theme weight
  // is not negative (weights of 2^31 and more count as negative), with its
  // count. Off theme: none.
  WordCounts keywords;
};
[[nodiscard]] KeywordSelection selectKeywords(const std::string& text, const EngineConfig& config);

}  // namespace theme_search
