#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "index/index_connection.h"

// Relevance ranking for the readable views: BM25F over a page's fields
// (title, headings, URL path, description and body), computed over the
// pages the plain page's strategy finds, which it reorders. The scoring and
// the statement builders are pure; runRankedSearch does the I/O.

namespace theme_search {

// The fields a page's words are counted in, in MotChamp.champ order, the
// body last.
enum FieldIndex : std::size_t {
  titleField,
  headingsField,
  urlPathField,
  descriptionField,
  bodyField
};
inline constexpr std::size_t kFieldCount = 5;

// The ranking's parameters: BM25's saturation k1, the length
// normalisation b of each field, and the weight of each field (the body
// weighs 1).
struct RankingWeights {
  double k1 = 1.2;
  std::array<double, kFieldCount> b = {0.75, 0.75, 0.75, 0.75, 0.75};
  std::array<double, kFieldCount> weight = {5.0, 3.0, 2.0, 2.0, 1.0};
};

// What the ranking knows of the collection: the number of on-theme pages,
// each field's average length (0: unknown), and the number of pages holding
// each query term (document frequency).
struct CollectionStats {
  std::int64_t pages = 0;
  std::array<double, kFieldCount> averageLength{};
  std::vector<std::int64_t> pagesWithTerm;
};

// One page the search found: how often each query term stands in each of
// its fields (counts[term][field]) and each field's length (0: unknown).
struct CandidatePage {
  std::string url;
  std::vector<std::array<unsigned, kFieldCount>> counts;
  std::array<unsigned, kFieldCount> length{};
};

// BM25's inverse document frequency: ln(1 + (N - n + 0.5) / (n + 0.5)).
[[nodiscard]] double inverseDocumentFrequency(std::int64_t pages, std::int64_t pagesWithTerm);

// The page's BM25F score: for each term, its field counts weighted and
// normalised by each field's length against the average, summed, then
// saturated by k1 and multiplied by the term's IDF; the terms' scores add
// up. A field of unknown length counts as of average length.
[[nodiscard]] double bm25fScore(const CandidatePage& page, const CollectionStats& stats,
                                const RankingWeights& weights);

// A page in rank order with its score.
struct RankedPage {
  std::string url;
  double score = 0;
};

// The pages in relevance order: highest score first, ties broken by URL.
[[nodiscard]] std::vector<RankedPage> rankPages(const std::vector<CandidatePage>& pages,
                                                const CollectionStats& stats,
                                                const RankingWeights& weights = {});

// What a ranked search found: the page's window of results in rank order,
// with scores, and the number of matching pages in all.
struct RankedSearch {
  std::vector<RankedPage> pages;
  std::int64_t total = 0;
};

// The statements: the body rows of the terms' pages (idUrl, mot, ratio, url
// and the five lengths, null without DocumentMesure), their field rows
// (idUrl, mot, champ, nb), the pages holding an excluded term, and the
// collection's figures.
[[nodiscard]] std::string candidateStatement(const std::vector<std::string>& terms,
                                             bool withLengths);
// The index's words that begin with one of the stems (at most a few
// hundred), for the stems' variants.
[[nodiscard]] std::string variantStatement(const std::vector<std::string>& stems);
[[nodiscard]] std::string fieldStatement(const std::vector<std::string>& terms);
[[nodiscard]] std::string excludedPagesStatement(const std::vector<std::string>& excluded);
[[nodiscard]] std::string collectionStatement();

// The plain page's search (same pages: one term, pages holding it; several,
// pages holding more than one; with exclusions, pages holding any term and
// no excluded one), in relevance order, then the pages that match the same
// way once words sharing a term's stem in their language count as the term
// (recoltes for recolte), in relevance order below them; windowed from
// firstRow for rowCount rows (0: all). nullopt without a search term; nothing found for a term both
// searched and excluded. An index without the ranking tables is ranked by
// its body alone. Blocks on the database; throws mysqlpp::Exception when a
// statement is rejected.
[[nodiscard]] std::optional<RankedSearch> runRankedSearch(
    IndexConnection& index, const std::vector<std::string>& searchTerms,
    const std::vector<std::string>& excludedTerms, std::int64_t firstRow, std::int64_t rowCount,
    const RankingWeights& weights = {});

}  // namespace theme_search
