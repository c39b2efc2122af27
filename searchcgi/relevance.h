#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/word_stems.h"
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
// weighs 1). The defaults are those that ranked the judged queries of
// bench/relevance/ best on their tune half (bench/relevance_tune.py).
struct RankingWeights {
  double k1 = 2.0;
  std::array<double, kFieldCount> b = {0.75, 0.75, 0.75, 0.75, 0.75};
  std::array<double, kFieldCount> weight = {8.0, 4.0, 1.5, 1.5, 1.0};
};

// Weights from a text such as "k1=1.5,title=6,body=1,b.body=0.6": any of
// k1, b (every field's b), the field weights title, headings, path,
// description and body, and b.FIELD for one field's b, separated by
// commas, over the defaults. nullopt for an unknown name or a value out of
// range (k1 and the weights positive and at most 100, b from 0 to 1).
[[nodiscard]] std::optional<RankingWeights> parseRankingWeights(std::string_view text);

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

// How often one term stands in each field of a page.
using FieldCounts = std::array<unsigned, kFieldCount>;

// Each of a query's terms' IDF, from the collection's figures.
[[nodiscard]] std::vector<double> termWeights(const CollectionStats& stats, std::size_t termCount);

// The BM25F score of a page of these field lengths whose terms stand
// counts[term] times in its fields, for each of the idf's terms. For given
// terms it grows with every count, and falls as the body grows longer.
[[nodiscard]] double scoreOf(const FieldCounts* counts, const FieldCounts& length,
                             const std::vector<double>& idf, const CollectionStats& stats,
                             const RankingWeights& weights);

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

// What the ranking reads besides the query's keyword rows: the
// collection's figures, the languages of the index's pages and each
// candidate page's URL, field lengths and language. A process that answers
// many requests (FastCGI) reads every on-theme page's figures at once and
// keeps them from one request to the next, reading them again once they
// are older than their maximum age, so a request reads only its words'
// keyword rows (pages indexed since are looked up on their own); a process
// that answers one request (CGI) reads the collection's figures and the
// figures of the query's pages only. Used by one thread; not copyable.
class IndexFigures {
 public:
  enum class Scope { queryPages, wholeIndex };

  struct Page {
    std::string url;
    std::array<unsigned, kFieldCount> length{};
    std::string language;
    // The language its words are stemmed in: French when it has none.
    StemLanguage stemLanguage = StemLanguage::french;
  };

  explicit IndexFigures(Scope scope = Scope::queryPages,
                        std::chrono::seconds maxAge = std::chrono::seconds(60))
      : scope(scope), maxAge(maxAge) {}
  IndexFigures(const IndexFigures&) = delete;
  IndexFigures& operator=(const IndexFigures&) = delete;

  // Reads the figures when they are older than the maximum age (or were
  // never read). Blocks on the database; throws mysqlpp::Exception when a
  // statement is rejected (an index without the ranking tables is read
  // without them).
  void refresh(IndexConnection& index);
  // Adds the pages of these ids that the figures do not hold yet (indexed
  // since they were read), in one statement.
  void addPages(IndexConnection& index, const std::vector<std::uint32_t>& ids);

  [[nodiscard]] const CollectionStats& collection() const { return stats; }
  // The languages of the index's pages, "" for a page without one.
  [[nodiscard]] const std::vector<std::string>& pageLanguages() const { return languages; }
  // The page of an idUrl; nullptr when the figures do not hold it. The
  // page stays where it is until the next refresh.
  [[nodiscard]] const Page* page(std::uint32_t id) const {
    if (id < positions.size()) return positions[id] == 0 ? nullptr : &pageList[positions[id] - 1];
    const auto found = farPositions.find(id);
    return found == farPositions.end() ? nullptr : &pageList[found->second - 1];
  }
  // False for an index made before the ranking tables.
  [[nodiscard]] bool hasRankingTables() const { return rankingTables; }
  // True when the figures hold every on-theme page of the index.
  [[nodiscard]] bool holdWholeIndex() const { return scope == Scope::wholeIndex; }
  // The pages read by the last refresh of the whole index, the shortest
  // body first (a page of unknown length counts as of average length), so
  // the pages whose body weighs most first, whatever the weights.
  [[nodiscard]] const std::vector<std::uint32_t>& shortestFirst() const { return byLength; }
  // The pages added since the last refresh, by addPages.
  [[nodiscard]] const std::vector<std::uint32_t>& addedPages() const { return added; }

 private:
  void addRow(const RowView& row);
  void clearPages();

  const Scope scope;
  const std::chrono::seconds maxAge;
  std::optional<std::chrono::steady_clock::time_point> readAt;
  CollectionStats stats;
  std::vector<std::string> languages;
  // The pages, where they stay (a deque), found by idUrl: through a table
  // indexed by id (position + 1, 0 for none) for ids up to a few times the
  // number of pages, through a map beyond.
  std::deque<Page> pageList;
  std::vector<std::uint32_t> positions;
  std::unordered_map<std::uint32_t, std::uint32_t> farPositions;
  std::vector<std::uint32_t> byLength;
  std::vector<std::uint32_t> added;
  bool rankingTables = true;
};

// What a ranked search found: the page's window of results in rank order,
// with scores, and the number of matching pages in all.
struct RankedSearch {
  std::vector<RankedPage> pages;
  std::int64_t total = 0;
};

// The statements: the keyword ids of words (idMot, mot), the body rows of
// keyword ids (idUrl, idMot, ratio), their field rows (idUrl, idMot, champ,
// nb), the pages holding an excluded term, and the pages of the index (all
// on-theme ones, or those of a list of ids) with their URLs, lengths and
// languages (idUrl, url, the five lengths, langue; null without
// DocumentMesure).
[[nodiscard]] std::string keywordIdStatement(const std::vector<std::string>& words);
[[nodiscard]] std::string candidateStatement(const std::vector<std::uint32_t>& keywordIds);
[[nodiscard]] std::string pagesStatement(bool withRankingTables, const std::string& idList = "");
// The collection's figures: the number of on-theme pages and each field's
// average length over the pages that have lengths.
[[nodiscard]] std::string collectionStatement();
// The index's words that begin with one of the stems (at most a few
// hundred), for the stems' variants: (idMot, mot).
[[nodiscard]] std::string variantStatement(const std::vector<std::string>& stems);
[[nodiscard]] std::string fieldStatement(const std::vector<std::uint32_t>& keywordIds);
[[nodiscard]] std::string excludedPagesStatement(const std::vector<std::string>& excluded);

// A word of the index that shares a query term's stem in one language.
struct StemVariant {
  std::uint32_t keyword;
  std::size_t term;
  StemLanguage language;
};

// The index's words that share a search term's stem, in the languages of
// the index's pages (a page without one counts as French), other than the
// terms themselves. Blocks on the database.
[[nodiscard]] std::vector<StemVariant> stemVariants(IndexConnection& index,
                                                    const IndexFigures& figures,
                                                    const std::vector<std::string>& searchTerms);

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
    IndexConnection& index, IndexFigures& figures, const std::vector<std::string>& searchTerms,
    const std::vector<std::string>& excludedTerms, std::int64_t firstRow, std::int64_t rowCount,
    const RankingWeights& weights = {});

}  // namespace theme_search
