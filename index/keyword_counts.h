#pragma once

#include <random>
#include <string>
#include <string_view>

#include "index/index_connection.h"

// What the index keeps about each keyword besides its rows, for the
// searches: the number of pages it is on (MotCompte), so a one-word search
// reads its total instead of counting the word's rows, and the set of those
// pages as bitmaps of 64 pages (MotBloc), so a search of several words finds
// which pages hold which words, and how many, without reading their rows.
// Every writer of keyword rows keeps both in step, in its own transaction.
//
// Each transaction writes its changes to a part of its own choosing: a
// keyword's count is the sum of its parts' counts, a block's pages the
// exclusive or of its parts' bitmaps, so two writers (two crawlers, or two
// nodes of a cluster) rarely change the same row at the same time. A writer
// brackets its changes: before it changes the keyword rows of some pages it
// takes their rows out, after it puts their rows back in, so the counts and
// blocks follow whatever the rows became (rows rolled back to a savepoint
// included).

namespace theme_search {

// How many parts a keyword's count or block is kept in.
inline constexpr unsigned kKeywordCountParts = 16;
// How many pages a block holds: bit (idUrl MOD 64) of block idUrl DIV 64.
inline constexpr unsigned kPagesPerBlock = 64;

// The statement that adds `sign` (1 or -1) for each keyword row of the
// pages whose idUrl satisfies `pagesCondition` (such as "IN (3,4)") to
// their keywords' counts in part `part`.
[[nodiscard]] std::string keywordCountChange(std::string_view pagesCondition, int sign,
                                             unsigned part);

// The statement that flips, in part `part` of their keywords' blocks, the
// bit of each keyword row of those pages: once to take the rows out, once
// to put them back.
[[nodiscard]] std::string keywordBlockFlip(std::string_view pagesCondition, unsigned part);

// The pages whose Url.url is one of the quoted URLs, as a condition on
// idUrl for the statements above.
[[nodiscard]] std::string pagesOfUrls(const std::string& quotedUrls);

// Takes the keyword rows of the pages out of the counts and blocks
// (sign -1) or puts them in (sign 1), inside the caller's transaction. An
// index made before one of the tables does without it: that rejection is
// absorbed; any other is thrown. Blocks on the database.
void changeKeywordCounts(IndexConnection& connection, std::string_view pagesCondition, int sign,
                         unsigned part);

// Picks the part a transaction writes its changes to. Used by one thread.
class KeywordCountPart {
 public:
  KeywordCountPart() : random(std::random_device{}()) {}
  [[nodiscard]] unsigned next() { return random() % kKeywordCountParts; }

 private:
  std::minstd_rand random;
};

}  // namespace theme_search
