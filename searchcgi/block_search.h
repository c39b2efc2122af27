#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "index/index_connection.h"
#include "searchcgi/strategies.h"

// The plain page's searches of several words, and with excluded words,
// answered from the keywords' blocks (MotBloc) instead of grouping every
// keyword row of the words: the blocks say which pages hold how many of
// the search words and none of the excluded ones, so the total is counted
// there, and only the rows that can reach the page's window are read.
//
// The order and the total are those of the grouping statements
// (conjunctiveSearch, exclusionSearch): by the number of search words a
// page holds, then their summed ratio, then nbMotsTheme, all descending,
// then the URL. Within one number of words the pages are found by reading
// each word's rows by descending ratio (the primary key), a batch at a
// time, and looking up the ratios of the other words of each page met,
// until no page not met yet can reach the last row of the window: its sum
// is at most the sum of the ratios the words' reads have come down to.

namespace theme_search {

// A set of pages by idUrl, as bitmaps of 64 pages: bit (idUrl MOD 64) of
// block idUrl DIV 64, the layout of MotBloc.
class PageSet {
 public:
  [[nodiscard]] bool contains(std::uint32_t page) const {
    const std::size_t block = page / 64;
    return block < blocks.size() && (blocks[block] >> (page % 64) & 1) != 0;
  }
  // Flips the pages of a block (its parts are or-ed exclusively).
  void flip(std::uint32_t block, std::uint64_t pages) {
    if (block >= blocks.size()) blocks.resize(block + 1, 0);
    blocks[block] ^= pages;
  }
  void add(std::uint32_t block, std::uint64_t pages) {
    if (block >= blocks.size()) blocks.resize(block + 1, 0);
    blocks[block] |= pages;
  }
  void insert(std::uint32_t page) { add(page / 64, std::uint64_t{1} << (page % 64)); }
  void erase(std::uint32_t page) {
    if (contains(page)) flip(page / 64, std::uint64_t{1} << (page % 64));
  }
  // Adds the pages of another set.
  void addAll(const PageSet& other) {
    for (std::size_t block = 0; block < other.blocks.size(); ++block)
      if (other.blocks[block] != 0) add(static_cast<std::uint32_t>(block), other.blocks[block]);
  }
  // Calls visit(idUrl) for each page, in ascending order.
  template <typename Visit>
  void forEach(Visit&& visit) const {
    for (std::size_t block = 0; block < blocks.size(); ++block)
      for (std::uint64_t bits = blocks[block]; bits != 0; bits &= bits - 1)
        visit(static_cast<std::uint32_t>(block * 64 +
                                         static_cast<std::size_t>(__builtin_ctzll(bits))));
  }
  [[nodiscard]] std::int64_t size() const;

  std::vector<std::uint64_t> blocks;
};

// The pages of a search grouped by how many of the search words they hold,
// most words first: pages holding at least fewestWords of the words and
// none of the excluded pages, and how many there are in all.
struct SearchLevels {
  std::vector<std::pair<int, PageSet>> levels;
  std::int64_t total = 0;
};

// The most distinct search words the levels can count.
inline constexpr std::size_t kMaxBlockSearchWords = 63;

// The levels of the pages of each search word (at most
// kMaxBlockSearchWords sets) without the excluded pages.
[[nodiscard]] SearchLevels searchLevels(const std::vector<PageSet>& searchWords,
                                        const PageSet& excluded, int fewestWords);

// A number of a result row's field (0 when it is not one).
template <typename Number>
[[nodiscard]] Number numberOf(std::string_view text) {
  Number value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The most ids one statement names.
inline constexpr std::size_t kIdsPerStatement = 16384;

// The ids from `start` on, at most kIdsPerStatement of them, separated by
// commas, each between `before` and `after`.
[[nodiscard]] std::string idList(const std::vector<std::uint32_t>& ids, std::size_t start,
                                 const char* before = "", const char* after = "");

// The statement that reads the blocks of the keywords whose mot is in the
// list: (idMot, bloc, pages), one row a part, in key order.
[[nodiscard]] std::string blockStatement(const std::vector<std::string>& words);
// The same rows for keywords given by idMot.
[[nodiscard]] std::string keywordBlockStatement(const std::vector<std::uint32_t>& keywordIds);

// The pages of each keyword from the (idMot, bloc, pages) rows of a block
// statement. Blocks on the database; throws mysqlpp::Exception when the
// statement is rejected.
[[nodiscard]] std::unordered_map<std::uint32_t, PageSet> readKeywordPages(
    IndexConnection& index, const std::string& statement);

// Runs the search of several words (two or more search words, no excluded
// word) or the search with excluded words from the blocks, with the row
// window (rowCount > 0), in a snapshot of the index. nullopt when the blocks
// cannot answer: an index made before them, more distinct search words
// than kMaxBlockSearchWords, or no window; the caller then sends the
// grouping statement. firstBatch is the first number of a word's rows read
// at once by ratio (small ones make tests read in many steps). Blocks on
// the database; throws mysqlpp::Exception when a statement is rejected.
inline constexpr std::int64_t kFirstRatioBatch = 256;
[[nodiscard]] std::optional<SearchResult> runBlockSearch(
    IndexConnection& index, const std::vector<std::string>& searchWords,
    const std::vector<std::string>& excludedWords, std::int64_t firstRow, std::int64_t rowCount,
    std::int64_t firstBatch = kFirstRatioBatch);

}  // namespace theme_search
