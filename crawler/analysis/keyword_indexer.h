#pragma once

#include <map>
#include <string>

#include "crawler/config/engine_config.h"
#include "index/index_connection.h"

namespace theme_search {

// Occurrences of each lower-cased word of one document, in ascending
// unsigned byte order (a prefix before its extensions).
using WordCounts = std::map<std::string, unsigned>;

// What indexing one document gave: the number of distinct positively
// weighted theme words of an on-theme document (0 otherwise), and the
// "EXCEPTION ..." lines of the statements the server rejected, for the
// stage to print.
struct IndexedDocument {
  int themeWordCount = 0;
  std::string messages;
};

// Writes one document into the index: its type into Extension and, when the
// document is on the theme of config.themeWords, each word of at least two
// bytes and non-negative theme weight into MotCle and CorrespMotUrl with its
// occurrence count; last the document's theme-word count into nbMotsTheme
// of its Url row (found by equality on `url`).
//
// Blocks on the database. A rejected type, keyword or link statement adds
// one message and the rest still go; a rejected theme-count update throws
// MysqlBadQuery. Called by the parse thread only, on a connection nothing
// else uses.
[[nodiscard]] IndexedDocument indexDocument(IndexConnection& connection, const std::string& url,
                                            const std::string& documentType,
                                            const std::string& text, const EngineConfig& config);

// Adds one to the count of every whitespace-separated word of `text`,
// lower-cased; whitespace is space, tab, line feed, vertical tab, form feed
// and carriage return.
void countWords(const std::string& text, WordCounts& wordCounts);

// True when some weighted theme word occurs at least as often as its weight
// and every required (weight 0) theme word occurs.
[[nodiscard]] bool isOnTheme(const WordCounts& wordCounts, const EngineConfig& config);

// The statements indexDocument sends, every text value through quote().
[[nodiscard]] std::string extensionStatement(const std::string& documentType);
[[nodiscard]] std::string keywordStatement(const std::string& word);
[[nodiscard]] std::string linkStatement(const std::string& word, unsigned count,
                                        const std::string& url);
[[nodiscard]] std::string themeCountStatement(int themeWordCount, const std::string& url);

}  // namespace theme_search
