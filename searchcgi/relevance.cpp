// Relevance ranking of the readable views: BM25F over a page's fields.
#include "searchcgi/relevance.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "common/text.h"
#include "common/word_stems.h"
#include "index/sql_text.h"
#include "searchcgi/ranked_top.h"
#include "searchcgi/strategies.h"

namespace theme_search {

namespace {

// The most index words read as a query's stem variants.
constexpr int kMaxVariants = 200;

std::string lowerCase(std::string word) {
  return toLowerLatin1(word);
}

// The rows of a statement on a table an old index may lack: nullopt then.
std::optional<std::vector<Row>> rowsIfPresent(IndexConnection& index,
                                              const std::string& statement) {
  try {
    return index.query(statement);
  } catch (const MysqlBadQuery& error) {
    if (!isMissingTable(error)) throw;
    return std::nullopt;
  }
}

}  // namespace

std::optional<RankingWeights> parseRankingWeights(std::string_view text) {
  static constexpr std::array<const char*, kFieldCount> names = {"title", "headings", "path",
                                                                 "description", "body"};
  RankingWeights weights;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string name(item.substr(0, equals));
    const std::string number(item.substr(equals + 1));
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(value))
      return std::nullopt;
    const bool isB = name == "b" || name.rfind("b.", 0) == 0;
    if (isB ? value < 0 || value > 1 : value <= 0 || value > 100) return std::nullopt;
    if (name == "k1") {
      weights.k1 = value;
    } else if (name == "b") {
      weights.b.fill(value);
    } else {
      const std::string field = isB ? name.substr(2) : name;
      const auto found = std::find_if(names.begin(), names.end(),
                                      [&field](const char* known) { return field == known; });
      if (found == names.end()) return std::nullopt;
      const auto index = static_cast<std::size_t>(found - names.begin());
      (isB ? weights.b : weights.weight)[index] = value;
    }
  }
  return weights;
}

double inverseDocumentFrequency(std::int64_t pages, std::int64_t pagesWithTerm) {
  const double n = static_cast<double>(std::max<std::int64_t>(pagesWithTerm, 0));
  const double all = static_cast<double>(std::max<std::int64_t>(pages, pagesWithTerm));
  return std::log(1.0 + (all - n + 0.5) / (n + 0.5));
}

std::vector<double> termWeights(const CollectionStats& stats, std::size_t termCount) {
  std::vector<double> idf(termCount);
  for (std::size_t term = 0; term < termCount; ++term)
    idf[term] = inverseDocumentFrequency(
        stats.pages, term < stats.pagesWithTerm.size() ? stats.pagesWithTerm[term] : stats.pages);
  return idf;
}

double scoreOf(const FieldCounts* counts, const FieldCounts& length, const std::vector<double>& idf,
               const CollectionStats& stats, const RankingWeights& weights) {
  // Each field's weight divided by its length normalisation, once a page.
  std::array<double, kFieldCount> scale{};
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    const double average = stats.averageLength[field];
    const double ratio = length[field] == 0 || average <= 0 ? 1.0 : length[field] / average;
    scale[field] = weights.weight[field] / (1.0 - weights.b[field] + weights.b[field] * ratio);
  }
  double score = 0;
  for (std::size_t term = 0; term < idf.size(); ++term) {
    double weighted = 0;
    for (std::size_t field = 0; field < kFieldCount; ++field)
      weighted += scale[field] * counts[term][field];
    if (weighted > 0) score += idf[term] * weighted / (weights.k1 + weighted);
  }
  return score;
}

double bm25fScore(const CandidatePage& page, const CollectionStats& stats,
                  const RankingWeights& weights) {
  if (page.counts.empty()) return 0;
  return scoreOf(page.counts.data(), page.length, termWeights(stats, page.counts.size()), stats,
                 weights);
}

std::vector<RankedPage> rankPages(const std::vector<CandidatePage>& pages,
                                  const CollectionStats& stats, const RankingWeights& weights) {
  std::vector<RankedPage> ranked;
  ranked.reserve(pages.size());
  for (const CandidatePage& page : pages)
    ranked.push_back(RankedPage{page.url, bm25fScore(page, stats, weights)});
  std::sort(ranked.begin(), ranked.end(), [](const RankedPage& a, const RankedPage& b) {
    return a.score != b.score ? a.score > b.score : a.url < b.url;
  });
  return ranked;
}

namespace {

// "(1,2,3)": a list of ids for an in clause.
std::string idList(const std::vector<std::uint32_t>& ids) {
  std::string list = "(";
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) list += ',';
    list += std::to_string(ids[i]);
  }
  return list + ")";
}

std::uint32_t idField(std::string_view text) {
  return static_cast<std::uint32_t>(integerField(text));
}

}  // namespace

std::string keywordIdStatement(const std::vector<std::string>& words) {
  return "select idMot, mot from MotCle where mot in " + wordList(words) + ";";
}

std::string candidateStatement(const std::vector<std::uint32_t>& keywordIds) {
  return "select idUrl, idMot, ratio from CorrespMotUrl where idMot in " + idList(keywordIds) + ";";
}

std::string pagesStatement(bool withRankingTables, const std::string& idList) {
  const std::string which = idList.empty() ? "U.nbMotsTheme > 0" : "U.idUrl in (" + idList + ")";
  if (!withRankingTables)
    return "select U.idUrl, U.url, null, null, null, null, null, null from Url U where " + which +
           ";";
  return "select U.idUrl, U.url, D.nbMotsTitre, D.nbMotsIntertitres, D.nbMotsChemin, "
         "D.nbMotsDescription, D.nbMots, D.langue from Url U left join DocumentMesure D on "
         "D.idUrl=U.idUrl where " +
         which + ";";
}

std::string variantStatement(const std::vector<std::string>& stems) {
  std::string statement = "select idMot, mot from MotCle where ";
  for (std::size_t i = 0; i < stems.size(); ++i) {
    if (i > 0) statement += " or ";
    statement += "mot like '" + escapeSql(stems[i]) + "%'";
  }
  return statement + " limit " + std::to_string(kMaxVariants) + ";";
}

std::string fieldStatement(const std::vector<std::uint32_t>& keywordIds) {
  return "select idUrl, idMot, champ, nb from MotChamp where idMot in " + idList(keywordIds) + ";";
}

std::string excludedPagesStatement(const std::vector<std::string>& excluded) {
  return "select distinct C.idUrl from MotCle M straight_join CorrespMotUrl C where M.mot in " +
         wordList(excluded) + " and C.idMot=M.idMot;";
}

void IndexFigures::clearPages() {
  pageList.clear();
  positions.clear();
  farPositions.clear();
  byLength.clear();
  added.clear();
}

void IndexFigures::addRow(const RowView& row) {
  const std::uint32_t id = idField(row.at(0));
  if (page(id)) return;
  pageList.emplace_back();
  const auto position = static_cast<std::uint32_t>(pageList.size());
  // Ids are mostly dense: the table grows with the pages, ids far beyond
  // them (gaps in the ids) go to the map.
  const std::size_t denseLimit = 4 * pageList.size() + 65536;
  if (id >= positions.size() && id < denseLimit)
    positions.resize(std::max<std::size_t>(id + 1, std::min(2 * positions.size(), denseLimit)));
  if (id < positions.size())
    positions[id] = position;
  else
    farPositions.emplace(id, position);
  Page& page = pageList.back();
  page.url = row.at(1);
  for (std::size_t field = 0; field < kFieldCount; ++field)
    page.length[field] = static_cast<unsigned>(integerField(row.at(2 + field)));
  page.language = row.at(7);
  page.stemLanguage = stemLanguageOf(page.language).value_or(StemLanguage::french);
}

std::string collectionStatement() {
  return "select (select count(*) from Url where nbMotsTheme > 0), avg(nbMotsTitre), "
         "avg(nbMotsIntertitres), avg(nbMotsChemin), avg(nbMotsDescription), avg(nbMots) from "
         "DocumentMesure where nbMots > 0;";
}

void IndexFigures::refresh(IndexConnection& index) {
  const auto now = std::chrono::steady_clock::now();
  if (readAt && now - *readAt < maxAge && scope == Scope::wholeIndex) return;
  clearPages();
  languages.clear();
  stats = CollectionStats{};
  if (scope == Scope::queryPages) {
    const std::optional<std::vector<Row>> figures = rowsIfPresent(index, collectionStatement());
    rankingTables = figures.has_value();
    if (figures && !figures->empty()) {
      stats.pages = integerField(figures->front().at(0));
      for (std::size_t field = 0; field < kFieldCount; ++field)
        stats.averageLength[field] = std::strtod(figures->front().at(1 + field).c_str(), nullptr);
      for (const Row& row : index.query("select distinct langue from DocumentMesure;"))
        languages.push_back(row.at(0));
    } else {
      stats.pages =
          static_cast<std::int64_t>(index.count("select count(*) from Url where nbMotsTheme > 0;"));
    }
    readAt = now;
    return;
  }
  const auto add = [this](const RowView& row) { addRow(row); };
  try {
    index.forEachRow(pagesStatement(true), add);
    rankingTables = true;
  } catch (const MysqlBadQuery& error) {
    if (!isMissingTable(error)) throw;
    rankingTables = false;
    clearPages();
    index.forEachRow(pagesStatement(false), add);
  }
  // The figures of the on-theme pages: their number, each field's average
  // length over the pages that have lengths, and their languages.
  stats.pages = static_cast<std::int64_t>(pageList.size());
  std::array<double, kFieldCount> sums{};
  std::int64_t measured = 0;
  for (const Page& page : pageList) {
    if (page.length[bodyField] == 0) continue;
    ++measured;
    for (std::size_t field = 0; field < kFieldCount; ++field) sums[field] += page.length[field];
    if (std::find(languages.begin(), languages.end(), page.language) == languages.end())
      languages.push_back(page.language);
  }
  for (std::size_t field = 0; field < kFieldCount; ++field)
    stats.averageLength[field] = measured == 0 ? 0.0 : sums[field] / measured;
  // Shortest body first; a page of unknown length is scored as one of
  // average length.
  const double average = stats.averageLength[bodyField];
  const auto bodyLength = [average](const Page& page) {
    return page.length[bodyField] == 0 || average <= 0 ? average : page.length[bodyField];
  };
  std::vector<std::pair<double, std::uint32_t>> lengths;
  lengths.reserve(pageList.size());
  for (std::uint32_t id = 0; id < positions.size(); ++id)
    if (positions[id] != 0) lengths.emplace_back(bodyLength(pageList[positions[id] - 1]), id);
  for (const auto& [id, position] : farPositions)
    lengths.emplace_back(bodyLength(pageList[position - 1]), id);
  std::sort(lengths.begin(), lengths.end());
  byLength.reserve(lengths.size());
  for (const auto& entry : lengths) byLength.push_back(entry.second);
  readAt = now;
}

void IndexFigures::addPages(IndexConnection& index, const std::vector<std::uint32_t>& ids) {
  std::string list;
  std::unordered_set<std::uint32_t> listed;
  for (const std::uint32_t id : ids) {
    if (page(id) || !listed.insert(id).second) continue;
    if (!list.empty()) list += ',';
    list += std::to_string(id);
  }
  if (list.empty()) return;
  index.forEachRow(pagesStatement(rankingTables, list), [this](const RowView& row) {
    addRow(row);
    added.push_back(idField(row.at(0)));
  });
}

namespace {

// The pages a query's keyword rows name, each with every term's count in
// every field, in flat storage: a query of frequent words meets thousands.
class CandidateTable {
 public:
  explicit CandidateTable(std::size_t termCount) : termCount(termCount) {}

  void reserve(std::size_t pages) {
    slots.reserve(pages);
    ids.reserve(pages);
    counts.reserve(pages * termCount);
  }

  // The slot of a page, added with zero counts when new.
  std::size_t slotOf(std::uint32_t id) {
    const auto [found, added] = slots.emplace(id, ids.size());
    if (added) {
      ids.push_back(id);
      counts.resize(counts.size() + termCount);
    }
    return found->second;
  }
  [[nodiscard]] std::optional<std::size_t> find(std::uint32_t id) const {
    const auto found = slots.find(id);
    if (found == slots.end()) return std::nullopt;
    return found->second;
  }
  FieldCounts& at(std::size_t slot, std::size_t term) { return counts[slot * termCount + term]; }
  [[nodiscard]] const FieldCounts* termsOf(std::size_t slot) const {
    return &counts[slot * termCount];
  }
  // The number of terms the page's body holds.
  [[nodiscard]] std::size_t termsHeld(std::size_t slot) const {
    std::size_t held = 0;
    for (std::size_t term = 0; term < termCount; ++term)
      if (counts[slot * termCount + term][bodyField] != 0) ++held;
    return held;
  }
  [[nodiscard]] std::size_t size() const { return ids.size(); }

  const std::size_t termCount;
  std::vector<std::uint32_t> ids;

 private:
  std::unordered_map<std::uint32_t, std::size_t> slots;
  std::vector<FieldCounts> counts;
};

// A keyword row: the page, the keyword, its count on the page.
struct KeywordRow {
  std::uint32_t page;
  std::uint32_t keyword;
  unsigned count;
};

std::vector<KeywordRow> keywordRows(IndexConnection& index,
                                    const std::vector<std::uint32_t>& keywordIds) {
  std::vector<KeywordRow> rows;
  if (keywordIds.empty()) return rows;
  index.forEachRow(candidateStatement(keywordIds), [&rows](const RowView& row) {
    rows.push_back(KeywordRow{idField(row.at(0)), idField(row.at(1)),
                              static_cast<unsigned>(integerField(row.at(2)))});
  });
  return rows;
}

// Whether a page is of the plain page's set: it holds `needed` terms and no
// excluded one.
bool matches(const CandidateTable& table, std::size_t slot, std::size_t needed,
             const std::unordered_set<std::uint32_t>& excluded) {
  return table.termsHeld(slot) >= needed && excluded.count(table.ids[slot]) == 0;
}

}  // namespace

// The stems are looked up as prefixes of the index's words, which
// Snowball's stems of a-z words are but for a few English endings.
std::vector<StemVariant> stemVariants(IndexConnection& index, const IndexFigures& figures,
                                      const std::vector<std::string>& searchTerms) {
  std::vector<StemLanguage> languages;
  for (const std::string& tag : figures.pageLanguages()) {
    const StemLanguage language = stemLanguageOf(tag).value_or(StemLanguage::french);
    if (std::find(languages.begin(), languages.end(), language) == languages.end())
      languages.push_back(language);
  }
  struct TermStem {
    std::size_t term;
    std::size_t stemmer;
    std::string stem;
  };
  std::vector<WordStemmer> stemmers;
  std::vector<TermStem> stems;
  std::vector<std::string> prefixes;
  for (const StemLanguage language : languages) {
    std::optional<WordStemmer> stemmer = WordStemmer::create(language);
    if (!stemmer) continue;
    for (std::size_t term = 0; term < searchTerms.size(); ++term) {
      const std::optional<std::string> stem = stemmer->stem(lowerCase(searchTerms[term]));
      if (!stem || stem->size() < 3) continue;
      stems.push_back(TermStem{term, stemmers.size(), *stem});
      if (std::find(prefixes.begin(), prefixes.end(), *stem) == prefixes.end())
        prefixes.push_back(*stem);
    }
    stemmers.push_back(std::move(*stemmer));
  }
  std::vector<StemVariant> variants;
  if (prefixes.empty()) return variants;
  std::unordered_set<std::string> terms;
  for (const std::string& term : searchTerms) terms.insert(lowerCase(term));
  for (const Row& row : index.query(variantStatement(prefixes))) {
    const std::string word = lowerCase(row.at(1));
    if (terms.count(word) != 0) continue;
    for (const TermStem& stem : stems) {
      WordStemmer& stemmer = stemmers[stem.stemmer];
      if (stemmer.stem(word) == stem.stem)
        variants.push_back(StemVariant{idField(row.at(0)), stem.term, stemmer.language()});
    }
  }
  return variants;
}

namespace {

// A page of a ranking before its window is cut: its score and URL (owned by
// the figures).
struct ScoredPage {
  double score;
  const std::string* url;
};

// The pages of the table's slots that the figures know, scored.
std::vector<ScoredPage> scorePages(const CandidateTable& table,
                                   const std::vector<std::size_t>& slots,
                                   const IndexFigures& figures, const CollectionStats& stats,
                                   const RankingWeights& weights) {
  const std::vector<double> idf = termWeights(stats, table.termCount);
  std::vector<ScoredPage> scored;
  scored.reserve(slots.size());
  for (const std::size_t slot : slots) {
    const IndexFigures::Page* page = figures.page(table.ids[slot]);
    if (!page) continue;
    scored.push_back(
        ScoredPage{scoreOf(table.termsOf(slot), page->length, idf, stats, weights), &page->url});
  }
  return scored;
}

// Puts the first `needed` pages in rank order (all of them for 0): highest
// score first, ties broken by URL.
void orderPages(std::vector<ScoredPage>& pages, std::size_t needed) {
  const auto before = [](const ScoredPage& a, const ScoredPage& b) {
    return a.score != b.score ? a.score > b.score : *a.url < *b.url;
  };
  if (needed == 0 || needed >= pages.size())
    std::sort(pages.begin(), pages.end(), before);
  else
    std::partial_sort(pages.begin(), pages.begin() + static_cast<std::ptrdiff_t>(needed),
                      pages.end(), before);
}

// The ids of the table's pages that the figures do not hold.
std::vector<std::uint32_t> unknownPages(const CandidateTable& table, const IndexFigures& figures) {
  std::vector<std::uint32_t> ids;
  for (const std::uint32_t id : table.ids)
    if (!figures.page(id)) ids.push_back(id);
  return ids;
}

}  // namespace

std::optional<RankedSearch> runRankedSearch(IndexConnection& index, IndexFigures& figures,
                                            const std::vector<std::string>& searchTerms,
                                            const std::vector<std::string>& excludedTerms,
                                            std::int64_t firstRow, std::int64_t rowCount,
                                            const RankingWeights& weights) {
  if (searchTerms.empty()) return std::nullopt;
  RankedSearch search;
  if (contradictoryWords(searchTerms, excludedTerms)) return search;
  figures.refresh(index);
  if (std::optional<RankedSearch> top = runRankedTopSearch(
          index, figures, searchTerms, excludedTerms, firstRow, rowCount, weights))
    return top;
  const std::size_t termCount = searchTerms.size();

  // Each keyword is matched to its term as the keyword column compares
  // them: without regard to letter case.
  std::unordered_map<std::string, std::size_t> termIndex;
  for (std::size_t i = 0; i < termCount; ++i) termIndex.emplace(lowerCase(searchTerms[i]), i);
  std::unordered_map<std::uint32_t, std::size_t> termOfKeyword;
  std::vector<std::uint32_t> keywordIds;
  for (const Row& row : index.query(keywordIdStatement(searchTerms))) {
    const auto term = termIndex.find(lowerCase(row.at(1)));
    if (term == termIndex.end()) continue;
    termOfKeyword.emplace(idField(row.at(0)), term->second);
    keywordIds.push_back(idField(row.at(0)));
  }

  CollectionStats stats = figures.collection();
  stats.pagesWithTerm.assign(termCount, 0);
  CandidateTable exact(termCount);
  const std::vector<KeywordRow> rows = keywordRows(index, keywordIds);
  exact.reserve(rows.size());
  for (const KeywordRow& row : rows) {
    const auto term = termOfKeyword.find(row.keyword);
    if (term == termOfKeyword.end()) continue;
    ++stats.pagesWithTerm[term->second];
    exact.at(exact.slotOf(row.page), term->second)[bodyField] += row.count;
  }

  // The plain page's set: with exclusions, any term and no excluded one;
  // otherwise one term, or more than one of several.
  std::unordered_set<std::uint32_t> excluded;
  if (!excludedTerms.empty())
    index.forEachRow(excludedPagesStatement(excludedTerms),
                     [&excluded](const RowView& row) { excluded.insert(idField(row.at(0))); });
  const std::size_t needed = excludedTerms.empty() && termCount >= 2 ? 2 : 1;
  std::vector<std::size_t> inSet;
  for (std::size_t slot = 0; slot < exact.size(); ++slot)
    if (matches(exact, slot, needed, excluded)) inSet.push_back(slot);
  figures.addPages(index, unknownPages(exact, figures));
  stats.pages = std::max<std::int64_t>(stats.pages, 1);

  if (figures.hasRankingTables() && !keywordIds.empty())
    index.forEachRow(fieldStatement(keywordIds), [&](const RowView& row) {
      const std::optional<std::size_t> slot = exact.find(idField(row.at(0)));
      const auto term = termOfKeyword.find(idField(row.at(1)));
      const std::int64_t field = integerField(row.at(2)) - 1;
      if (!slot || term == termOfKeyword.end() || field < 0 || field >= std::int64_t{bodyField})
        return;
      exact.at(*slot, term->second)[static_cast<std::size_t>(field)] =
          static_cast<unsigned>(integerField(row.at(3)));
    });
  const std::size_t windowEnd =
      rowCount == 0 ? 0 : static_cast<std::size_t>(std::max<std::int64_t>(firstRow, 0) + rowCount);
  std::vector<ScoredPage> ranked = scorePages(exact, inSet, figures, stats, weights);
  orderPages(ranked, windowEnd);
  const std::size_t exactCount = ranked.size();

  // Pages that hold a word sharing a term's stem, in their own language,
  // come below every page of the plain page's set: the exact pages that
  // missed a term, and pages of no exact term at all.
  const std::vector<StemVariant> variants = stemVariants(index, figures, searchTerms);
  if (!variants.empty()) {
    std::unordered_map<std::uint32_t, std::vector<const StemVariant*>> variantsOf;
    std::vector<std::uint32_t> variantIds;
    for (const StemVariant& variant : variants) {
      std::vector<const StemVariant*>& of = variantsOf[variant.keyword];
      if (of.empty()) variantIds.push_back(variant.keyword);
      of.push_back(&variant);
    }
    // A variant counts in its page's language: the pages' figures first.
    const std::vector<KeywordRow> variantRows = keywordRows(index, variantIds);
    CandidateTable stemmed(termCount);
    for (std::size_t slot = 0; slot < exact.size(); ++slot) {
      if (matches(exact, slot, needed, excluded)) continue;
      const std::size_t copy = stemmed.slotOf(exact.ids[slot]);
      for (std::size_t term = 0; term < termCount; ++term)
        stemmed.at(copy, term) = exact.at(slot, term);
    }
    std::vector<std::uint32_t> ids;
    ids.reserve(variantRows.size());
    for (const KeywordRow& row : variantRows) ids.push_back(row.page);
    figures.addPages(index, ids);
    for (const KeywordRow& row : variantRows) {
      const IndexFigures::Page* page = figures.page(row.page);
      const StemLanguage language = page ? page->stemLanguage : StemLanguage::french;
      for (const StemVariant* variant : variantsOf[row.keyword]) {
        if (variant->language != language) continue;
        ++stats.pagesWithTerm[variant->term];
        if (exact.find(row.page) && matches(exact, *exact.find(row.page), needed, excluded))
          continue;
        stemmed.at(stemmed.slotOf(row.page), variant->term)[bodyField] += row.count;
      }
    }
    std::vector<std::size_t> below;
    for (std::size_t slot = 0; slot < stemmed.size(); ++slot)
      if (matches(stemmed, slot, needed, excluded)) below.push_back(slot);
    std::vector<ScoredPage> stemRanked = scorePages(stemmed, below, figures, stats, weights);
    // Below the exact pages: ordered only as far as the window reaches.
    if (windowEnd == 0 || windowEnd > exactCount)
      orderPages(stemRanked, windowEnd == 0 ? 0 : windowEnd - exactCount);
    ranked.insert(ranked.end(), stemRanked.begin(), stemRanked.end());
  }
  search.total = static_cast<std::int64_t>(ranked.size());
  const std::size_t begin =
      std::min(static_cast<std::size_t>(std::max<std::int64_t>(firstRow, 0)), ranked.size());
  const std::size_t end = rowCount == 0 ? ranked.size() : std::min(windowEnd, ranked.size());
  for (std::size_t i = begin; i < end; ++i)
    search.pages.push_back(RankedPage{*ranked[i].url, ranked[i].score});
  return search;
}

}  // namespace theme_search
