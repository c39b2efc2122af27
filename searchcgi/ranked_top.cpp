#include "searchcgi/ranked_top.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "common/text.h"
#include "searchcgi/strategies.h"

namespace theme_search {

namespace {

// Each batch of a term's rows read by ratio is twice as large as the one
// before, up to the largest.
constexpr std::int64_t kLargestBatch = 16384;

// A term whose IDF is this many times below another's (it is on nearly
// every page) has its field rows looked up for the pages met only.
constexpr double kLazyFieldsRatio = 100;

std::uint32_t idOf(std::string_view text) {
  return numberOf<std::uint32_t>(text);
}

std::int64_t integerOf(std::string_view text) {
  return numberOf<std::int64_t>(text);
}

std::string lowerCase(std::string word) {
  return toLowerLatin1(word);
}

PageSet unionOf(const SearchLevels& levels) {
  PageSet all;
  for (const auto& level : levels.levels) all.addAll(level.second);
  return all;
}

// The keyword rows of these keywords whose ratio is not positive: such a
// row makes its page count among the keyword's pages, but the page does
// not hold the term for the ranking. (idMot, idUrl), read by key.
std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> zeroRatioPages(
    IndexConnection& index, const std::vector<std::uint32_t>& keywordIds) {
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> pages;
  if (keywordIds.empty()) return pages;
  index.forEachRow(
      "select idMot, idUrl from CorrespMotUrl where idMot in (" + idList(keywordIds, 0) +
          ") and ratio <= 0;",
      [&pages](const RowView& row) { pages[idOf(row.at(0))].push_back(idOf(row.at(1))); });
  return pages;
}

// Finds the first pages of a set in rank order, as described in the header.
class TopPages {
 public:
  struct Query {
    // Each term's keyword (0: none) and the pages that hold it.
    std::vector<std::uint32_t> keyword;
    std::vector<PageSet> pages;
    // The pages ranked, all known to the figures.
    PageSet set;
    // Pages met before any read: those of the shortest bodies and those
    // the cut does not bound.
    std::vector<std::uint32_t> metFirst;
    // The page of the shortest body that is not met first (every other
    // such page's body is at least as long), 0 when there is none.
    const IndexFigures::Page* cut = nullptr;
    // Each page's counts of the terms in fields other than the body, of
    // the terms whose field rows are read first.
    std::unordered_map<std::uint32_t, std::vector<FieldCounts>> fields;
    // The terms whose field rows are looked up for the pages met only.
    std::vector<bool> lazyFields;
  };

  TopPages(IndexConnection& index, const IndexFigures& figures, const Query& query,
           const std::vector<double>& idf, const CollectionStats& stats,
           const RankingWeights& weights, std::int64_t firstBatch)
      : index(index),
        figures(figures),
        query(query),
        idf(idf),
        stats(stats),
        weights(weights),
        termCount(query.keyword.size()),
        firstBatch(std::max<std::int64_t>(firstBatch, 1)) {}

  std::vector<RankedPage> find(std::size_t wanted) {
    for (const std::uint32_t page : query.metFirst) meet(page);
    completeMetPages();
    std::vector<std::int64_t> read(termCount, 0);
    std::vector<std::int64_t> lowestRatio(termCount, 0);
    std::vector<bool> exhausted(termCount, false);
    for (std::size_t t = 0; t < termCount; ++t)
      exhausted[t] = query.keyword[t] == 0 || query.pages[t].blocks.empty();
    // The pages with field rows not met yet whose bound may still reach
    // the window.
    std::vector<std::uint32_t> fieldPages;
    for (const auto& entry : query.fields) fieldPages.push_back(entry.first);
    for (std::int64_t batch = firstBatch;; batch = std::min(batch * 2, kLargestBatch)) {
      readByRatio(read, batch, lowestRatio, exhausted);
      completeMetPages();
      // Whether a page not met yet may hold term t.
      const auto mayHold = [&](std::uint32_t page, std::size_t t) {
        return !exhausted[t] && query.pages[t].contains(page);
      };
      std::optional<double> threshold;
      if (ids.size() >= wanted) {
        std::vector<double> top(scores);
        std::nth_element(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(wanted - 1),
                         top.end(), std::greater<double>());
        threshold = top[wanted - 1];
      }
      // Strictly above, with room for rounding: pages tied with the
      // window's last one may come before it by URL.
      const auto below = [&threshold](double bound) {
        return threshold && *threshold > bound + 1e-9 * std::fabs(bound);
      };
      // A page without field rows not met yet holds only terms whose reads
      // go on, at most as often as they have come down to, and weighs its
      // body at most as the cut page does.
      // A term whose field rows are not known adds at most its IDF.
      bool open = false;
      double lazyBound = 0;
      std::vector<FieldCounts> most(termCount, FieldCounts{});
      for (std::size_t t = 0; t < termCount; ++t) {
        if (exhausted[t]) continue;
        open = true;
        if (query.lazyFields[t])
          lazyBound += idf[t];
        else
          most[t][bodyField] = static_cast<unsigned>(std::max<std::int64_t>(lowestRatio[t], 0));
      }
      const bool othersDone =
          query.cut == nullptr || !open ||
          below(scoreOf(most.data(), query.cut->length, idf, stats, weights) + lazyBound);
      // A page with field rows is bounded on its own: its fields as they
      // are, its body counts as above, its own length. Those that cannot
      // reach the window never will (the bounds only fall, the threshold
      // only rises); the highest of the others are met.
      std::vector<std::pair<double, std::uint32_t>> reaching;
      std::size_t kept = 0;
      for (const std::uint32_t page : fieldPages) {
        if (slots.count(page) != 0) continue;
        std::vector<FieldCounts> counts = query.fields.at(page);
        for (std::size_t t = 0; t < termCount; ++t)
          counts[t][bodyField] =
              mayHold(page, t) && !query.lazyFields[t]
                  ? static_cast<unsigned>(std::max<std::int64_t>(lowestRatio[t], 0))
                  : 0;
        const double bound =
            scoreOf(counts.data(), figures.page(page)->length, idf, stats, weights) + lazyBound;
        if (below(bound)) continue;
        fieldPages[kept++] = page;
        reaching.emplace_back(bound, page);
      }
      fieldPages.resize(kept);
      if (othersDone && reaching.empty()) break;
      if (reaching.size() > static_cast<std::size_t>(batch)) {
        std::nth_element(reaching.begin(), reaching.begin() + batch, reaching.end(),
                         std::greater<std::pair<double, std::uint32_t>>());
        reaching.resize(static_cast<std::size_t>(batch));
      }
      for (const auto& entry : reaching) meet(entry.second);
      completeMetPages();
    }
    return ranked(wanted);
  }

 private:
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

  // The slot of a page of the set, made when first met; kNone for a page
  // outside the set.
  std::size_t meet(std::uint32_t page) {
    if (!query.set.contains(page)) return kNone;
    const auto [found, added] = slots.emplace(page, ids.size());
    if (!added) return found->second;
    ids.push_back(page);
    known.push_back(0);
    const auto fields = query.fields.find(page);
    if (fields == query.fields.end())
      counts.resize(counts.size() + termCount, FieldCounts{});
    else
      counts.insert(counts.end(), fields->second.begin(), fields->second.end());
    return found->second;
  }

  void record(std::uint32_t page, std::size_t term, std::int64_t ratio) {
    const std::size_t slot = meet(page);
    if (slot == kNone || (known[slot] >> term & 1) != 0) return;
    known[slot] |= std::uint64_t{1} << term;
    counts[slot * termCount + term][bodyField] =
        static_cast<unsigned>(std::max<std::int64_t>(ratio, 0));
  }

  // Reads the next batch of rows by ratio of every term whose rows are
  // not exhausted, in one statement: rows [read[t], read[t] + batch) of
  // term t, a term returning fewer being exhausted.
  void readByRatio(std::vector<std::int64_t>& read, std::int64_t batch,
                   std::vector<std::int64_t>& lowestRatio, std::vector<bool>& exhausted) {
    std::string statement;
    for (std::size_t term = 0; term < termCount; ++term) {
      if (exhausted[term]) continue;
      if (!statement.empty()) statement += " union all ";
      statement +=
          "(select " + std::to_string(term) +
          ", idUrl, ratio from CorrespMotUrl where idMot=" + std::to_string(query.keyword[term]) +
          " order by ratio desc, idUrl desc limit " + std::to_string(read[term]) + "," +
          std::to_string(batch) + ")";
    }
    if (statement.empty()) return;
    std::vector<std::int64_t> rows(termCount, 0);
    index.forEachRow(statement + ";", [&](const RowView& row) {
      const auto term = numberOf<std::size_t>(row.at(0));
      if (term >= termCount) return;
      const std::int64_t ratio = integerOf(row.at(2));
      // Each term's rows come by descending ratio; the lowest is kept
      // whatever order the server gives the terms in.
      lowestRatio[term] = rows[term] == 0 ? ratio : std::min(lowestRatio[term], ratio);
      ++rows[term];
      record(idOf(row.at(1)), term, ratio);
    });
    for (std::size_t term = 0; term < termCount; ++term) {
      if (exhausted[term]) continue;
      read[term] += rows[term];
      if (rows[term] < batch) exhausted[term] = true;
    }
  }

  // Looks up the ratios of the other terms of each page met, then scores
  // the pages met since the last time.
  void completeMetPages() {
    // Each term's pages met that hold it and miss its ratio, looked up in
    // one statement for all terms.
    std::vector<std::vector<std::uint32_t>> missing(termCount);
    for (std::size_t term = 0; term < termCount; ++term)
      for (std::size_t slot = scored; slot < ids.size(); ++slot)
        if ((known[slot] >> term & 1) == 0 && query.pages[term].contains(ids[slot]))
          missing[term].push_back(ids[slot]);
    for (std::size_t start = 0;; start += kIdsPerStatement) {
      // Joined to lists of ids rather than "idUrl in (...)", which the
      // server may answer by reading all of the keyword's rows.
      std::string lists, selects;
      for (std::size_t term = 0; term < termCount; ++term) {
        if (start >= missing[term].size()) continue;
        const std::string name = "P" + std::to_string(term);
        lists += (lists.empty() ? "with " : ", ") + name + " (id) as (values " +
                 idList(missing[term], start, "(", ")") + ")";
        selects +=
            (selects.empty() ? " select " : " union all select ") + std::to_string(term) +
            ", C.idUrl, C.ratio from " + name +
            " straight_join CorrespMotUrl C where C.idMot=" + std::to_string(query.keyword[term]) +
            " and C.idUrl=" + name + ".id";
      }
      if (selects.empty()) break;
      index.forEachRow(lists + selects + ";", [&](const RowView& row) {
        const auto term = numberOf<std::size_t>(row.at(0));
        if (term < termCount) record(idOf(row.at(1)), term, integerOf(row.at(2)));
      });
    }
    for (std::size_t term = 0; term < termCount; ++term) {
      if (!query.lazyFields[term]) continue;
      const std::vector<std::uint32_t> added(ids.begin() + static_cast<std::ptrdiff_t>(scored),
                                             ids.end());
      for (std::size_t start = 0; start < added.size(); start += kIdsPerStatement)
        index.forEachRow(
            "with P (id) as (values " + idList(added, start, "(", ")") +
                ") select C.idUrl, C.champ, C.nb from P straight_join MotChamp C "
                "where C.idMot=" +
                std::to_string(query.keyword[term]) + " and C.idUrl=P.id;",
            [&](const RowView& row) {
              const std::int64_t field = integerOf(row.at(1)) - 1;
              const auto slot = slots.find(idOf(row.at(0)));
              if (slot == slots.end() || field < 0 || field >= std::int64_t{bodyField}) return;
              counts[slot->second * termCount + term][static_cast<std::size_t>(field)] =
                  static_cast<unsigned>(integerOf(row.at(2)));
            });
    }
    for (; scored < ids.size(); ++scored)
      scores.push_back(scoreOf(&counts[scored * termCount], figures.page(ids[scored])->length, idf,
                               stats, weights));
  }

  // The first `wanted` pages met: highest score first, ties broken by URL.
  std::vector<RankedPage> ranked(std::size_t wanted) const {
    struct Scored {
      double score;
      const std::string* url;
    };
    std::vector<Scored> pages;
    pages.reserve(ids.size());
    for (std::size_t slot = 0; slot < ids.size(); ++slot)
      pages.push_back(Scored{scores[slot], &figures.page(ids[slot])->url});
    const auto end = pages.begin() + static_cast<std::ptrdiff_t>(std::min(wanted, pages.size()));
    std::partial_sort(pages.begin(), end, pages.end(), [](const Scored& a, const Scored& b) {
      return a.score != b.score ? a.score > b.score : *a.url < *b.url;
    });
    std::vector<RankedPage> top;
    for (auto page = pages.begin(); page != end; ++page)
      top.push_back(RankedPage{*page->url, page->score});
    return top;
  }

  IndexConnection& index;
  const IndexFigures& figures;
  const Query& query;
  const std::vector<double>& idf;
  const CollectionStats& stats;
  const RankingWeights& weights;
  const std::size_t termCount;
  const std::int64_t firstBatch;
  // The pages met, by slot: id, which terms' ratios are known (bit t), the
  // counts (termCount a slot) and, once complete, the score.
  std::unordered_map<std::uint32_t, std::size_t> slots;
  std::vector<std::uint32_t> ids;
  std::vector<std::uint64_t> known;
  std::vector<FieldCounts> counts;
  std::vector<double> scores;
  std::size_t scored = 0;
};

}  // namespace

std::optional<RankedSearch> runRankedTopSearch(IndexConnection& index, IndexFigures& figures,
                                               const std::vector<std::string>& searchTerms,
                                               const std::vector<std::string>& excludedTerms,
                                               std::int64_t firstRow, std::int64_t rowCount,
                                               const RankingWeights& weights,
                                               std::int64_t firstBatch, std::size_t shortPagesMet) {
  const std::size_t termCount = searchTerms.size();
  if (rowCount <= 0 || termCount == 0 || termCount > kMaxBlockSearchWords ||
      !figures.holdWholeIndex() || !figures.hasRankingTables())
    return std::nullopt;
  firstRow = std::max<std::int64_t>(firstRow, 0);
  // Every statement of the search reads the same snapshot of the index.
  index.execute("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ");
  Transaction snapshot(index);

  // Each term's keyword, matched as runRankedSearch matches them: without
  // regard to letter case, the first of equal terms taking it.
  TopPages::Query query;
  query.keyword.assign(termCount, 0);
  std::unordered_map<std::string, std::size_t> termIndex;
  for (std::size_t t = 0; t < termCount; ++t) termIndex.emplace(lowerCase(searchTerms[t]), t);
  std::vector<std::uint32_t> keywordIds;
  for (const Row& row : index.query(keywordIdStatement(searchTerms))) {
    const auto term = termIndex.find(lowerCase(row.at(1)));
    if (term == termIndex.end()) continue;
    if (query.keyword[term->second] != 0) return std::nullopt;
    query.keyword[term->second] = idOf(row.at(0));
    keywordIds.push_back(idOf(row.at(0)));
  }
  const std::vector<StemVariant> variants = stemVariants(index, figures, searchTerms);
  std::vector<std::uint32_t> allKeywords = keywordIds;
  for (const StemVariant& variant : variants) allKeywords.push_back(variant.keyword);
  std::sort(allKeywords.begin(), allKeywords.end());
  allKeywords.erase(std::unique(allKeywords.begin(), allKeywords.end()), allKeywords.end());
  std::unordered_map<std::uint32_t, PageSet> blocks;
  if (!allKeywords.empty()) {
    try {
      blocks = readKeywordPages(index, keywordBlockStatement(allKeywords));
    } catch (const MysqlBadQuery& rejected) {
      if (!isMissingTable(rejected)) throw;
      return std::nullopt;
    }
  }
  // A keyword's pages are those of its rows; those of a row without count
  // do not hold its term.
  const auto zeroRatio = zeroRatioPages(index, allKeywords);
  const auto heldPages = [&](std::uint32_t keyword) {
    PageSet pages = blocks[keyword];
    const auto zero = zeroRatio.find(keyword);
    if (zero != zeroRatio.end())
      for (const std::uint32_t page : zero->second) pages.erase(page);
    return pages;
  };
  CollectionStats stats = figures.collection();
  stats.pagesWithTerm.assign(termCount, 0);
  query.pages.resize(termCount);
  for (std::size_t t = 0; t < termCount; ++t) {
    if (query.keyword[t] == 0) continue;
    stats.pagesWithTerm[t] = blocks[query.keyword[t]].size();
    query.pages[t] = heldPages(query.keyword[t]);
  }
  stats.pages = std::max<std::int64_t>(stats.pages, 1);

  PageSet excluded;
  if (!excludedTerms.empty())
    for (const auto& keyword : readKeywordPages(index, blockStatement(excludedTerms)))
      excluded.addAll(keyword.second);
  const int needed = excludedTerms.empty() && termCount >= 2 ? 2 : 1;
  const PageSet inSet = unionOf(searchLevels(query.pages, excluded, needed));

  // Pages indexed since the figures were read are looked up; a page
  // without a Url row is not ranked.
  const auto addUnknownPages = [&](const PageSet& pages) {
    std::vector<std::uint32_t> unknown;
    pages.forEach([&](std::uint32_t page) {
      if (!figures.page(page)) unknown.push_back(page);
    });
    if (!unknown.empty()) figures.addPages(index, unknown);
  };
  addUnknownPages(inSet);
  std::int64_t exactCount = 0;
  inSet.forEach([&](std::uint32_t page) {
    if (!figures.page(page)) return;
    query.set.insert(page);
    ++exactCount;
  });
  const std::int64_t windowEnd = firstRow + rowCount;
  if (windowEnd > exactCount) return std::nullopt;

  // The pages the stems' variants add below, counted: those that hold
  // enough terms once a variant of a term, in the page's language, counts
  // as the term.
  std::int64_t stemmedCount = 0;
  if (!variants.empty()) {
    std::vector<PageSet> withVariants = query.pages;
    std::unordered_map<std::uint32_t, PageSet> variantPages;
    for (const StemVariant& variant : variants)
      if (variantPages.count(variant.keyword) == 0) {
        variantPages.emplace(variant.keyword, heldPages(variant.keyword));
        addUnknownPages(blocks[variant.keyword]);
      }
    for (const StemVariant& variant : variants)
      variantPages[variant.keyword].forEach([&](std::uint32_t page) {
        const IndexFigures::Page* known = figures.page(page);
        if ((known ? known->stemLanguage : StemLanguage::french) == variant.language)
          withVariants[variant.term].insert(page);
      });
    unionOf(searchLevels(withVariants, excluded, needed)).forEach([&](std::uint32_t page) {
      if (!inSet.contains(page) && figures.page(page)) ++stemmedCount;
    });
  }

  // The field rows of the terms of the index's most pages (of almost no
  // weight, and often thousands of rows) are looked up for the pages met
  // only, when another term weighs; the others' are read first.
  const std::vector<double> idf = termWeights(stats, termCount);
  const double heaviest = *std::max_element(idf.begin(), idf.end());
  query.lazyFields.assign(termCount, false);
  std::vector<std::uint32_t> readFields;
  for (std::size_t t = 0; t < termCount; ++t) {
    if (query.keyword[t] == 0) continue;
    query.lazyFields[t] = idf[t] * kLazyFieldsRatio < heaviest;
    if (!query.lazyFields[t]) readFields.push_back(query.keyword[t]);
  }
  // Met first: the pages of the shortest bodies and those indexed since the
  // figures were read.
  for (const Row& row :
       readFields.empty() ? std::vector<Row>{} : index.query(fieldStatement(readFields))) {
    const std::uint32_t page = idOf(row.at(0));
    const std::uint32_t keyword = idOf(row.at(1));
    const std::int64_t field = integerOf(row.at(2)) - 1;
    const auto term = std::find(query.keyword.begin(), query.keyword.end(), keyword);
    if (!query.set.contains(page) || term == query.keyword.end() || field < 0 ||
        field >= std::int64_t{bodyField})
      continue;
    std::vector<FieldCounts>& counts = query.fields[page];
    if (counts.empty()) counts.resize(termCount, FieldCounts{});
    counts[static_cast<std::size_t>(term - query.keyword.begin())]
          [static_cast<std::size_t>(field)] = static_cast<unsigned>(integerOf(row.at(3)));
  }
  const std::vector<std::uint32_t>& shortest = figures.shortestFirst();
  std::size_t looked = 0, shortMet = 0;
  for (; looked < shortest.size() && looked < kShortPagesLooked && shortMet < shortPagesMet;
       ++looked)
    if (query.set.contains(shortest[looked])) {
      query.metFirst.push_back(shortest[looked]);
      ++shortMet;
    }
  if (looked < shortest.size()) query.cut = figures.page(shortest[looked]);
  for (const std::uint32_t page : figures.addedPages())
    if (query.set.contains(page)) query.metFirst.push_back(page);

  std::vector<RankedPage> top = TopPages(index, figures, query, idf, stats, weights, firstBatch)
                                    .find(static_cast<std::size_t>(windowEnd));
  snapshot.commit();
  RankedSearch search;
  search.total = exactCount + stemmedCount;
  for (std::size_t i = static_cast<std::size_t>(firstRow); i < top.size(); ++i)
    search.pages.push_back(std::move(top[i]));
  return search;
}

}  // namespace theme_search
