#pragma once

#include <map>
#include <ostream>
#include <string>

#include "engine_config.h"
#include "index_connection.h"

// Occurrences of each lower-cased word of one document, in ascending
// unsigned byte order (a prefix before its extensions).
using WordCounts = std::map<std::string, unsigned>;

// Writes one document into the index: its type into Extension and, when the
// document is on the theme of config.themeWords, each word of at least two
// bytes and non-negative theme weight into MotCle and CorrespMotUrl with its
// occurrence count; last the document's theme-word count into nbMotsTheme
// of its Url row (found by equality on `url`). themeWordCount is set to the
// number of distinct positively weighted theme words of an on-theme
// document, 0 otherwise.
//
// Blocks on the database. A rejected type, keyword or link statement is
// reported as one "EXCEPTION ..." message on `out` and the rest still go;
// a rejected theme-count update throws MysqlBadQuery, leaving wordCounts
// filled. wordCounts must be empty on entry and is empty on normal return.
// Called by the parse thread only, on a connection nothing else uses.
void indexDocument(IndexConnection& indexerConnection, WordCounts& wordCounts,
                   const std::string& url, const std::string& documentType, const std::string& text,
                   int& themeWordCount, const EngineConfig& config, std::ostream& out);

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
