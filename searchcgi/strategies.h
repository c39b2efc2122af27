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
// One statement gives both the page's rows and the number of matching pages,
// in its last column, so no row is sent only to be counted: the searches of
// several words select "count(*) over ()", which the server computes over
// all matching rows before it applies the row window; the one-word search
// sums the page counts of the word's blocks (MotBloc). Each reads the keyword rows
// by word first (straight_join), and groups them before it reads any page.
//
// Every ordering ends with U.url: the server orders rows that tie on the
// ranking keys differently from one LIMIT window to the next, so without a
// last key that is unique a result could show on two pages and another on
// none.

namespace theme_search {

// The statement tail for a row window: "LIMIT firstRow , rowCount;", or ";"
// alone when rowCount is 0 (no window: every row).
[[nodiscard]] std::string limitClause(std::int64_t firstRow, std::int64_t rowCount);

// ('w1','w2',...): each word between single quotes, escaped by escapeSql so
// no word can end its literal.
[[nodiscard]] std::string wordList(const std::vector<std::string>& words);

// Where the one-word search finds its total: the sum of the keyword's
// blocks' page counts (MotBloc), or, in an index made before the blocks,
// its rows counted.
enum class PageCounts { kept, counted };

// One word: a row per page holding it, by descending ratio, then descending
// nbMotsTheme. Followed by limitClause, whose window must end at lastRow
// (0-based) or be no window at all (lastRow -1): only rows whose ratio
// reaches that of the row at lastRow in ratio order are sorted.
[[nodiscard]] std::string singleWordSearch(const std::string& word, std::int64_t lastRow,
                                           PageCounts counts = PageCounts::kept);

// Several words: a row per page holding more than one of them, by the number
// of words, their summed ratio and nbMotsTheme, all descending.
[[nodiscard]] std::string conjunctiveSearch(const std::vector<std::string>& searchWords);

// Search words with exclusions: a row per page holding any search word and
// none of the excluded words, in the conjunctive search's order.
[[nodiscard]] std::string exclusionSearch(const std::vector<std::string>& searchWords,
                                          const std::vector<std::string>& excludedWords);

// The number of rows a search statement (one of the three above, without
// its tail) matches; sent only when its window is past the last row.
[[nodiscard]] std::string countingStatement(const std::string& search);

// True when a search word is also excluded (sameTerm): no page can both
// hold a word and lack it, so such a query finds nothing.
[[nodiscard]] bool contradictoryWords(const std::vector<std::string>& searchWords,
                                      const std::vector<std::string>& excludedWords);

// What one search run found: the URL of each row of the window, in rank
// order, and the number of matching pages over all windows.
struct SearchResult {
  std::vector<std::string> urls;
  std::int64_t total = 0;
};

// Runs the strategy the word counts call for with the row window
// (rowCount 0: every row) and returns its rows and total; nullopt when there
// is no search word, so nothing was sent. One statement, plus one counting
// statement when the window starts past the last row; none when the words
// contradict (contradictoryWords): no rows, total 0. Blocks on the
// database; throws mysqlpp::Exception when a statement is rejected. Writes
// nothing anywhere: the caller reports a run without a search word.
[[nodiscard]] std::optional<SearchResult> runSearch(IndexConnection& index,
                                                    const std::vector<std::string>& searchWords,
                                                    const std::vector<std::string>& excludedWords,
                                                    std::int64_t firstRow, std::int64_t rowCount);

}  // namespace theme_search
