// Relevance ranking of the readable views: BM25F over a page's fields.
#include "searchcgi/relevance.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "common/text.h"
#include "common/word_stems.h"
#include "index/sql_text.h"
#include "searchcgi/strategies.h"

namespace theme_search {

namespace {

// The server's code for a table that does not exist: an index made before
// the ranking tables.
constexpr unsigned kNoSuchTable = 1146;

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
    if (error.errnum() != kNoSuchTable) throw;
    return std::nullopt;
  }
}

}  // namespace

double inverseDocumentFrequency(std::int64_t pages, std::int64_t pagesWithTerm) {
  const double n = static_cast<double>(std::max<std::int64_t>(pagesWithTerm, 0));
  const double all = static_cast<double>(std::max<std::int64_t>(pages, pagesWithTerm));
  return std::log(1.0 + (all - n + 0.5) / (n + 0.5));
}

double bm25fScore(const CandidatePage& page, const CollectionStats& stats,
                  const RankingWeights& weights) {
  double score = 0;
  for (std::size_t term = 0; term < page.counts.size(); ++term) {
    double weighted = 0;
    for (std::size_t field = 0; field < kFieldCount; ++field) {
      const unsigned count = page.counts[term][field];
      if (count == 0) continue;
      const double average = stats.averageLength[field];
      const double ratio =
          page.length[field] == 0 || average <= 0 ? 1.0 : page.length[field] / average;
      weighted +=
          weights.weight[field] * count / (1.0 - weights.b[field] + weights.b[field] * ratio);
    }
    if (weighted == 0) continue;
    const std::int64_t withTerm =
        term < stats.pagesWithTerm.size() ? stats.pagesWithTerm[term] : stats.pages;
    score += inverseDocumentFrequency(stats.pages, withTerm) * weighted / (weights.k1 + weighted);
  }
  return score;
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

std::string candidateStatement(const std::vector<std::string>& terms) {
  return "select C.idUrl, M.mot, C.ratio from MotCle M straight_join CorrespMotUrl C where "
         "M.mot in " +
         wordList(terms) + " and C.idMot=M.idMot;";
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
  std::string statement = "select mot from MotCle where ";
  for (std::size_t i = 0; i < stems.size(); ++i) {
    if (i > 0) statement += " or ";
    statement += "mot like '" + escapeSql(stems[i]) + "%'";
  }
  return statement + " limit " + std::to_string(kMaxVariants) + ";";
}

std::string fieldStatement(const std::vector<std::string>& terms) {
  return "select F.idUrl, M.mot, F.champ, F.nb from MotCle M straight_join MotChamp F where "
         "M.mot in " +
         wordList(terms) + " and F.idMot=M.idMot;";
}

std::string excludedPagesStatement(const std::vector<std::string>& excluded) {
  return "select distinct C.idUrl from MotCle M straight_join CorrespMotUrl C where M.mot in " +
         wordList(excluded) + " and C.idMot=M.idMot;";
}

const IndexFigures::Page* IndexFigures::page(const std::string& id) const {
  const auto found = pages.find(id);
  return found == pages.end() ? nullptr : &found->second;
}

void IndexFigures::addRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    Page& page = pages[row.at(0)];
    page.url = row.at(1);
    for (std::size_t field = 0; field < kFieldCount; ++field)
      page.length[field] = static_cast<unsigned>(integerField(row.at(2 + field)));
    page.language = row.at(7);
  }
}

std::string collectionStatement() {
  return "select (select count(*) from Url where nbMotsTheme > 0), avg(nbMotsTitre), "
         "avg(nbMotsIntertitres), avg(nbMotsChemin), avg(nbMotsDescription), avg(nbMots) from "
         "DocumentMesure where nbMots > 0;";
}

void IndexFigures::refresh(IndexConnection& index) {
  const auto now = std::chrono::steady_clock::now();
  if (readAt && now - *readAt < maxAge && scope == Scope::wholeIndex) return;
  pages.clear();
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
  std::optional<std::vector<Row>> rows = rowsIfPresent(index, pagesStatement(true));
  rankingTables = rows.has_value();
  if (!rows) rows = index.query(pagesStatement(false));
  addRows(*rows);
  // The figures of the on-theme pages: their number, each field's average
  // length over the pages that have lengths, and their languages.
  stats.pages = static_cast<std::int64_t>(pages.size());
  std::array<double, kFieldCount> sums{};
  std::int64_t measured = 0;
  for (const auto& entry : pages) {
    const Page& page = entry.second;
    if (page.length[bodyField] == 0) continue;
    ++measured;
    for (std::size_t field = 0; field < kFieldCount; ++field) sums[field] += page.length[field];
    if (std::find(languages.begin(), languages.end(), page.language) == languages.end())
      languages.push_back(page.language);
  }
  for (std::size_t field = 0; field < kFieldCount; ++field)
    stats.averageLength[field] = measured == 0 ? 0.0 : sums[field] / measured;
  readAt = now;
}

void IndexFigures::addPages(IndexConnection& index, const std::vector<std::string>& ids) {
  std::string list;
  std::unordered_set<std::string> listed;
  for (const std::string& id : ids) {
    if (pages.count(id) != 0 || id.empty() || !listed.insert(id).second) continue;
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    if (!list.empty()) list += ',';
    list += id;
  }
  if (list.empty()) return;
  addRows(index.query(pagesStatement(rankingTables, list)));
}

namespace {

// Adds the body rows of a candidate statement: each row's word counts for
// the term `termOf` gives it (for the page's language). Returns the number
// of rows counted per term.
template <class TermOf>
std::vector<std::int64_t> addBodyRows(const std::vector<Row>& rows, std::size_t termCount,
                                      const TermOf& termOf, const IndexFigures& figures,
                                      std::unordered_map<std::string, CandidatePage>& pages) {
  std::vector<std::int64_t> perTerm(termCount, 0);
  for (const Row& row : rows) {
    const IndexFigures::Page* known = figures.page(row.at(0));
    const std::optional<std::size_t> term =
        termOf(row.at(1), known ? known->language : std::string());
    if (!term) continue;
    ++perTerm[*term];
    CandidatePage& page = pages[row.at(0)];
    if (page.counts.empty()) {
      page.counts.assign(termCount, {});
      if (known) {
        page.url = known->url;
        page.length = known->length;
      }
    }
    page.counts[*term][bodyField] += static_cast<unsigned>(integerField(row.at(2)));
  }
  return perTerm;
}

// Takes out of `pages` those that hold fewer than `needed` terms or an
// excluded one, and returns them.
std::unordered_map<std::string, CandidatePage> takeUnmatched(
    std::unordered_map<std::string, CandidatePage>& pages, std::size_t needed,
    const std::unordered_set<std::string>& excluded) {
  std::unordered_map<std::string, CandidatePage> taken;
  for (auto page = pages.begin(); page != pages.end();) {
    const auto held = std::count_if(page->second.counts.begin(), page->second.counts.end(),
                                    [](const auto& counts) { return counts[bodyField] != 0; });
    if (static_cast<std::size_t>(held) < needed || excluded.count(page->first) != 0) {
      taken.insert(std::move(*page));
      page = pages.erase(page);
    } else {
      ++page;
    }
  }
  return taken;
}

// A word of the index that shares a query term's stem in one language.
struct StemVariant {
  std::string word;
  std::size_t term;
  StemLanguage language;
};

// The index's words that share a term's stem, in the languages of the
// index's pages (a page without one counts as French), other than the
// terms themselves. The stems are looked up as prefixes of the index's
// words, which Snowball's stems of a-z words are but for a few English
// endings.
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
    const std::string word = lowerCase(row.at(0));
    if (terms.count(word) != 0) continue;
    for (const TermStem& stem : stems) {
      WordStemmer& stemmer = stemmers[stem.stemmer];
      if (stemmer.stem(word) == stem.stem)
        variants.push_back(StemVariant{row.at(0), stem.term, stemmer.language()});
    }
  }
  return variants;
}

// A window of a ranking.
std::vector<RankedPage> windowOf(std::vector<RankedPage> ranked, std::int64_t firstRow,
                                 std::int64_t rowCount) {
  const auto begin = std::min<std::size_t>(
      static_cast<std::size_t>(std::max<std::int64_t>(firstRow, 0)), ranked.size());
  const auto end = rowCount == 0 ? ranked.size()
                                 : std::min<std::size_t>(begin + static_cast<std::size_t>(rowCount),
                                                         ranked.size());
  return std::vector<RankedPage>(
      std::make_move_iterator(ranked.begin() + static_cast<std::ptrdiff_t>(begin)),
      std::make_move_iterator(ranked.begin() + static_cast<std::ptrdiff_t>(end)));
}

// The ids of the pages whose URL the figures do not hold.
std::vector<std::string> unknownPages(const std::unordered_map<std::string, CandidatePage>& pages) {
  std::vector<std::string> ids;
  for (const auto& [id, page] : pages)
    if (page.url.empty()) ids.push_back(id);
  return ids;
}

// Fills in the URL and lengths of pages read since the figures were.
void completePages(IndexConnection& index, IndexFigures& figures,
                   std::unordered_map<std::string, CandidatePage>& pages) {
  const std::vector<std::string> unknown = unknownPages(pages);
  if (unknown.empty()) return;
  figures.addPages(index, unknown);
  for (const std::string& id : unknown) {
    if (const IndexFigures::Page* known = figures.page(id)) {
      pages[id].url = known->url;
      pages[id].length = known->length;
    }
  }
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

  // Each row's keyword is matched to its term as the keyword column
  // compares them: without regard to letter case.
  std::unordered_map<std::string, std::size_t> termIndex;
  for (std::size_t i = 0; i < searchTerms.size(); ++i)
    termIndex.emplace(lowerCase(searchTerms[i]), i);
  const auto termOf = [&termIndex](const std::string& word,
                                   const std::string&) -> std::optional<std::size_t> {
    const auto found = termIndex.find(lowerCase(word));
    if (found == termIndex.end()) return std::nullopt;
    return found->second;
  };

  CollectionStats stats = figures.collection();
  std::unordered_map<std::string, CandidatePage> exact;
  stats.pagesWithTerm = addBodyRows(index.query(candidateStatement(searchTerms)),
                                    searchTerms.size(), termOf, figures, exact);

  // The plain page's set: with exclusions, any term and no excluded one;
  // otherwise one term, or more than one of several.
  std::unordered_set<std::string> excluded;
  if (!excludedTerms.empty())
    for (const Row& row : index.query(excludedPagesStatement(excludedTerms)))
      excluded.insert(row.at(0));
  const std::size_t needed = excludedTerms.empty() && searchTerms.size() >= 2 ? 2 : 1;
  std::unordered_map<std::string, CandidatePage> stemmed = takeUnmatched(exact, needed, excluded);
  completePages(index, figures, exact);
  stats.pages = std::max<std::int64_t>(stats.pages, 1);

  if (figures.hasRankingTables())
    for (const Row& row : index.query(fieldStatement(searchTerms))) {
      const auto page = exact.find(row.at(0));
      const std::optional<std::size_t> term = termOf(row.at(1), "");
      const std::int64_t field = integerField(row.at(2)) - 1;
      if (page == exact.end() || !term || field < 0 || field >= std::int64_t{bodyField}) continue;
      page->second.counts[*term][static_cast<std::size_t>(field)] =
          static_cast<unsigned>(integerField(row.at(3)));
    }
  std::vector<CandidatePage> candidates;
  candidates.reserve(exact.size());
  for (auto& entry : exact)
    if (!entry.second.url.empty()) candidates.push_back(std::move(entry.second));
  std::vector<RankedPage> ranked = rankPages(candidates, stats, weights);

  // Pages that hold a word sharing a term's stem, in their own language,
  // come below every page of the plain page's set: the exact pages that
  // missed a term, and pages of no exact term at all.
  const std::vector<StemVariant> variants = stemVariants(index, figures, searchTerms);
  if (!variants.empty()) {
    std::vector<std::string> words;
    for (const StemVariant& variant : variants) words.push_back(variant.word);
    const auto variantOf = [&variants](const std::string& word,
                                       const std::string& language) -> std::optional<std::size_t> {
      const StemLanguage pageLanguage = stemLanguageOf(language).value_or(StemLanguage::french);
      for (const StemVariant& variant : variants)
        if (variant.language == pageLanguage && lowerCase(variant.word) == lowerCase(word))
          return variant.term;
      return std::nullopt;
    };
    // A variant counts in its page's language: the pages' figures first.
    const std::vector<Row> variantRows = index.query(candidateStatement(words));
    std::vector<std::string> ids;
    ids.reserve(variantRows.size());
    for (const Row& row : variantRows) ids.push_back(row.at(0));
    figures.addPages(index, ids);
    const std::vector<std::int64_t> variantPages =
        addBodyRows(variantRows, searchTerms.size(), variantOf, figures, stemmed);
    for (std::size_t term = 0; term < searchTerms.size(); ++term)
      stats.pagesWithTerm[term] += variantPages[term];
    std::unordered_set<std::string> inExact;
    for (const RankedPage& page : ranked) inExact.insert(page.url);
    static_cast<void>(takeUnmatched(stemmed, needed, excluded));
    completePages(index, figures, stemmed);
    std::vector<CandidatePage> below;
    for (auto& entry : stemmed)
      if (!entry.second.url.empty() && inExact.count(entry.second.url) == 0)
        below.push_back(std::move(entry.second));
    for (RankedPage& page : rankPages(below, stats, weights)) ranked.push_back(std::move(page));
  }
  search.total = static_cast<std::int64_t>(ranked.size());
  search.pages = windowOf(std::move(ranked), firstRow, rowCount);
  return search;
}

}  // namespace theme_search
