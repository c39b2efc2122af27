#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "index_connection.h"

// The three ways the search ranks the index's pages, chosen by the numbers of
// search and excluded words, and the statement texts they send. The builders
// are pure; runSearch sends them through the request's connection.
//
// Every ordering ends with U.url: the server orders rows that tie on the
// ranking keys differently from one LIMIT window to the next, so without a
// last key that is unique a result could show on two pages and another on
// none.

// The statement tail for a row window: ";" when firstRow equals endRow (no
// window), otherwise "LIMIT firstRow , endRow;". endRow is sent as the row
// count, so a page run may return more rows than the page shows.
[[nodiscard]] std::string limitClause(std::int64_t firstRow, std::int64_t endRow);

// A word escaped for use between single quotes: a quote, a backslash and a
// NUL byte get a backslash escape, so no word can end its literal.
[[nodiscard]] std::string sqlWord(const std::string& word);

// ('w1','w2',...) with each word escaped by sqlWord.
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

// Runs the strategy the word counts call for with the row window and leaves
// its rows in the connection's result set. With no search word it writes
// "Erreur de paramètres<BR>" and a line to page and sends nothing. Blocks on
// the database; throws mysqlpp::Exception when a statement is rejected.
void runSearch(IndexConnection& index, const std::vector<std::string>& searchWords,
               const std::vector<std::string>& excludedWords, std::int64_t firstRow,
               std::int64_t endRow, std::ostream& page);
