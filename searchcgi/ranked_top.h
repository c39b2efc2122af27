#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "index/index_connection.h"
#include "searchcgi/block_search.h"
#include "searchcgi/relevance.h"

// The first pages of the readable views' ranking found without reading
// every keyword row of the search terms. The keywords' blocks (MotBloc)
// give the pages of the plain page's set, hence their number and each
// term's number of pages (its IDF); the number of pages the stems' variants
// add below them is counted there too. The window is then found among the
// set's pages by reading each term's rows by descending ratio (its body
// count), a batch at a time, and looking up the other terms' ratios of each
// page met, until no page not met yet can score above the window's last
// page.
//
// Bounding a page not met: its body counts are at most where the terms'
// reads have come down to. A page with field rows for the terms (read
// first, all of them) is bounded with its own fields and length, and met
// when that bound reaches the window. Any other scores at most what a page
// of the shortest body among them would with those counts; the pages of
// the shortest bodies, and those indexed since the figures were read, are
// met first, so that this length is close to the others'.
//
// The pages, scores, order and total are those runRankedSearch finds by
// reading every row.

namespace theme_search {

// The pages of the shortest bodies in a search's set met before any row is
// read, at most this many, looked for among at most kShortPagesLooked
// pages of the index.
inline constexpr std::size_t kShortPagesMet = 16;
inline constexpr std::size_t kShortPagesLooked = 4096;

// The first number of a term's rows read at once by ratio.
inline constexpr std::int64_t kFirstRankedBatch = 64;

// The ranked search with a row window (rowCount > 0) whose window lies
// within the pages that hold the terms themselves, in a snapshot of the
// index. nullopt when this cannot answer: figures that do not hold the
// whole index, an index without blocks or ranking tables, more than
// kMaxBlockSearchWords terms, no window, or a window that reaches the
// pages found through the stems' variants; runRankedSearch then reads
// every row. Expects terms that neither are empty nor contradict the
// excluded ones. firstBatch is the first number of a term's rows read at
// once, shortPagesMet the number of the shortest pages met first (small
// ones make tests read in many steps and bound most pages). Blocks on the database; throws
// mysqlpp::Exception when a statement is rejected.
[[nodiscard]] std::optional<RankedSearch> runRankedTopSearch(
    IndexConnection& index, IndexFigures& figures, const std::vector<std::string>& searchTerms,
    const std::vector<std::string>& excludedTerms, std::int64_t firstRow, std::int64_t rowCount,
    const RankingWeights& weights, std::int64_t firstBatch = kFirstRankedBatch,
    std::size_t shortPagesMet = kShortPagesMet);

}  // namespace theme_search
