#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "index/index_connection.h"

// The three ways the search ranks the index's pages, chosen by the numbers of
// search and excluded words, and the statement texts they send. The builders
// are pure; runSearch sends them through the request's connection and returns
// what they found.
//
// Every ordering ends with U.url: the server orders rows that tie on the
// ranking keys differently from one LIMIT window to the next, so without a
// last key that is unique a result could show on two pages and another on
// none.

namespace theme_search {

// The statement tail for a row window: ";" when firstRow equals endRow (no
// window), otherwise "LIMIT firstRow , endRow;". endRow is sent as the row
// count, so a page run may return more rows than the page shows.
[[nodiscard]] std::string limitClause(std::int64_t firstRow, std::int64_t endRow);

// ('w1','w2',...): each word between single quotes, escaped by escapeSql so
// no word can end its literal.
[[nodiscard]] std::string wordList(const std::vector<std::string>& words);

// Fills the connection's private scratch table tmp with the idUrl of every
// page that holds one of the excluded words.
[[nodiscard]] std::string scratchStatement(const std::vector<std::string>& excludedWords);

// One word: a row per page holding it, by ascending ratio, then descending
// nbMotsTheme. Followed by limitClause.
[[nodiscard]] std::string singleWordSearch(const std::string& word);

// Several words: a row per page holding more than one of them, by the number
// of words, their summed ratio and nbMotsTheme, all descending.
[[nodiscard]] std::string conjunctiveSearch(const std::vector<std::string>& searchWords);

// Search words with exclusions: a row per page holding any search word and
// absent from tmp, in the conjunctive search's order.
[[nodiscard]] std::string exclusionSearch(const std::vector<std::string>& searchWords);

// What one search run found: the URL of each row, in rank order; nullopt when
// there was no search word, so nothing was sent.
using SearchRun = std::optional<std::vector<std::string>>;

// Runs the strategy the word counts call for with the row window and returns
// its rows. Blocks on the database; throws mysqlpp::Exception when a
// statement is rejected. Writes nothing anywhere: the caller reports a run
// without a search word.
[[nodiscard]] SearchRun runSearch(IndexConnection& index,
                                  const std::vector<std::string>& searchWords,
                                  const std::vector<std::string>& excludedWords,
                                  std::int64_t firstRow, std::int64_t endRow);

}  // namespace theme_search
