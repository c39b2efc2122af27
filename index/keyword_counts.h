#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "index/index_connection.h"

// What the index keeps about each keyword besides its rows, for the
// searches (MotBloc): the pages it is on, as bitmaps of 64 pages, with the
// number of them, so a one-word search sums its total instead of counting
// the word's rows, and a search of several words finds which pages hold
// which words, and how many, without reading their rows. Every writer of
// keyword rows keeps the blocks in step, in its own transaction.
//
// Each transaction writes its changes to a part of its own choosing: a
// block's pages are the exclusive or of its parts' bitmaps and its number
// of pages the sum of theirs, so two writers (two crawlers, or two nodes of
// a cluster) rarely change the same row at the same time. Rows a writer
// removes are taken out of the blocks before they go (read back from the
// index); rows it inserts are put in at the end of its transaction, from
// what it knows it inserted (KeywordChanges), or read back when it does not.

namespace theme_search {

// How many parts a keyword's block is kept in.
inline constexpr unsigned kKeywordCountParts = 16;
// How many pages a block holds: bit (idUrl MOD 64) of block idUrl DIV 64.
inline constexpr unsigned kPagesPerBlock = 64;

// The statement that takes out of (sign -1) or puts into (sign 1) their
// keywords' blocks, in part `part`, the keyword rows of the pages whose
// idUrl satisfies `pagesCondition` (such as "= 3" or "IN (3,4)").
[[nodiscard]] std::string keywordBlockChange(std::string_view pagesCondition, int sign,
                                             unsigned part);

// Sends keywordBlockChange inside the caller's transaction. An index made
// before the blocks does without them: that rejection is absorbed; any
// other is thrown. Blocks on the database.
void changeKeywordBlocks(IndexConnection& connection, std::string_view pagesCondition, int sign,
                         unsigned part);

// Keyword rows a transaction inserted, each new to the index (a plain
// INSERT of them succeeded), gathered in memory so that the blocks change
// in a few statements a transaction instead of being read back. A plain
// value.
class KeywordChanges {
 public:
  void addRow(std::uint32_t keyword, std::uint32_t page) {
    Block& block = blocks[{keyword, page / kPagesPerBlock}];
    block.pages ^= std::uint64_t{1} << (page % kPagesPerBlock);
    ++block.count;
  }
  void merge(const KeywordChanges& other);
  [[nodiscard]] bool empty() const { return blocks.empty(); }

  // The statements that add them to part `part`, rows in key order, as
  // few as joinedBatches makes.
  [[nodiscard]] std::vector<std::string> statements(unsigned part) const;

 private:
  struct Block {
    std::uint64_t pages = 0;
    std::int64_t count = 0;
  };
  std::map<std::pair<std::uint32_t, std::uint32_t>, Block> blocks;
};

// Sends the statements of the changes inside the caller's transaction; an
// index made before the blocks does without them, as changeKeywordBlocks.
void applyKeywordChanges(IndexConnection& connection, const KeywordChanges& changes, unsigned part);

// Picks the part a transaction writes its changes to. Used by one thread.
class KeywordCountPart {
 public:
  KeywordCountPart() : random(std::random_device{}()) {}
  [[nodiscard]] unsigned next() { return random() % kKeywordCountParts; }

 private:
  std::minstd_rand random;
};

}  // namespace theme_search
