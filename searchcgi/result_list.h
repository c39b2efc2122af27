#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/excerpt.h"
#include "index/index_connection.h"
#include "searchcgi/query_string.h"
#include "searchcgi/relevance.h"
#include "searchcgi/spelling.h"

namespace theme_search {

// The readable views of a search (the HTML view and the JSON view): the
// search of the plain page, each result with its title and an excerpt of
// its text around the query's terms. The statement builder and the
// assembly are pure; searchResultList does the I/O.

// What the index keeps of an on-theme page for result lists (the Document
// table): its title and its display text, expanded.
struct StoredDocument {
  std::string title;
  std::string displayText;
};

// One result as the readable views show it: the page's URL, its title (the
// URL when the index holds none) and the excerpt of its text (an empty one
// when the index holds no text).
struct ShownResult {
  std::string url;
  std::string title;
  Excerpt excerpt;
  // The relevance score, when the results are in relevance order.
  std::optional<double> score;
};

// One page of a search for the readable views. A plain value.
struct ResultList {
  DecodedQuery query;
  ResultOrder order = ResultOrder::relevance;
  KeywordLists words;
  // The suggestion text of each word (searchWords, then excludedWords) when
  // spelling suggestions were asked for; empty otherwise.
  std::vector<std::string> suggestions;
  // False when the query has no search term: nothing was searched.
  bool searched = false;
  // Matching pages over all result pages.
  std::int64_t total = 0;
  // The page's results, in rank order (at most resultsPerPage).
  std::vector<ShownResult> results;
};

// The one statement that reads the Document rows of the given pages:
// rows (url, titre, texte); pages without a row give none. Every URL goes
// through escapeSql.
[[nodiscard]] std::string documentsStatement(const std::vector<std::string>& urls);

// The stored documents of the statement's rows, by URL; a text that does not
// expand (expandStoredText) reads as empty.
[[nodiscard]] std::map<std::string, StoredDocument> storedDocuments(const std::vector<Row>& rows);

// The shown result of a page from its stored document (nullptr: none) and
// the query's terms (folded, lower-case).
[[nodiscard]] ShownResult shownResult(const std::string& url, const StoredDocument* stored,
                                      const std::vector<std::string>& queryTerms);

// The pages whose stored text holds every phrase (holdsPhrase), one flag a
// URL in order; a page without a stored text holds none. The texts are read
// a batch of kPhraseBatch pages at a time.
inline constexpr std::size_t kPhraseBatch = 200;
[[nodiscard]] std::vector<bool> holdPhrases(IndexConnection& index,
                                            const std::vector<std::string>& urls,
                                            const std::vector<std::vector<std::string>>& phrases);

// Takes the order parameter out of the query string and decodes the rest,
// asks the spelling checker when asked to (one run for all words), runs the
// search for the requested page (runRankedSearch in relevance order,
// runSearch in the plain page's), keeps only the pages that hold the
// query's phrases, if any (holdPhrases, on every page found: a phrase is
// checked in the first 32 KiB of a page's text, what the index stores),
// and, when it found pages, reads their documents with one more statement.
// Blocks on the database and the checker; throws mysqlpp::Exception when a
// statement is rejected.
[[nodiscard]] ResultList searchResultList(IndexConnection& index, IndexFigures& figures,
                                          const std::string& queryString,
                                          const CheckerCommand& checkerCommand,
                                          const RankingWeights& weights = {});

// The words of the query as typed, search words first, each excluded word
// with its leading "-", separated by blanks: what a reader typed, in UTF-8.
[[nodiscard]] std::string typedQuery(const KeywordLists& words);

// The suggestions of one checker answer (suggestionText): the comma-separated
// words, blanks around them dropped.
[[nodiscard]] std::vector<std::string> suggestionList(const std::string& suggestionText);

}  // namespace theme_search
