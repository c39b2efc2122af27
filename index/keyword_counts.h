#pragma once

#include <random>
#include <string>
#include <string_view>

#include "index/index_connection.h"

// The number of pages each keyword is on (MotCompte), kept by every writer
// in the transaction that changes the keyword rows, so a one-word search
// reads its total instead of counting the word's rows.
//
// A keyword's count is the sum of its rows over a few parts: each
// transaction adds its changes to a part of its own choosing, so two
// writers (two crawlers, or two nodes of a cluster) rarely change the same
// row at the same time. A writer brackets its changes: before it changes
// the keyword rows of some pages it takes their rows off the counts, after
// it adds their rows again, so the counts follow whatever the rows became
// (rows rolled back to a savepoint included).

namespace theme_search {

// How many parts a keyword's count is kept in.
inline constexpr unsigned kKeywordCountParts = 16;

// The statement that adds `sign` (1 or -1) for each keyword row of the
// pages whose idUrl satisfies `pagesCondition` (such as "IN (3,4)") to
// their keywords' counts in part `part`.
[[nodiscard]] std::string keywordCountChange(std::string_view pagesCondition, int sign,
                                             unsigned part);

// The pages whose Url.url is one of the quoted URLs, as a condition on
// idUrl for keywordCountChange.
[[nodiscard]] std::string pagesOfUrls(const std::string& quotedUrls);

// Changes the counts as keywordCountChange says, inside the caller's
// transaction. An index made before MotCompte keeps no counts: the
// rejection is absorbed there; any other rejection is thrown. Blocks on the
// database.
void changeKeywordCounts(IndexConnection& connection, std::string_view pagesCondition, int sign,
                         unsigned part);

// Picks the part a transaction writes its count changes to. Used by one
// thread.
class KeywordCountPart {
 public:
  KeywordCountPart() : random(std::random_device{}()) {}
  [[nodiscard]] unsigned next() { return random() % kKeywordCountParts; }

 private:
  std::minstd_rand random;
};

}  // namespace theme_search
