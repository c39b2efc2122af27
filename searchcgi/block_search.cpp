#include "searchcgi/block_search.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <unordered_map>

#include "index/sql_text.h"

namespace theme_search {

namespace {

// Each batch of a word's rows read by ratio is twice as large as the one
// before, up to the largest.
constexpr std::int64_t kLargestBatch = 16384;

// The counting planes of searchLevels: enough bits for kMaxBlockSearchWords.
constexpr std::size_t kPlanes = 6;

struct Keyword {
  std::uint32_t id = 0;
  PageSet pages;
};

// The keywords of the words that are in the index, with their pages.
std::vector<Keyword> readKeywords(IndexConnection& index, const std::vector<std::string>& words) {
  std::vector<Keyword> keywords;
  index.forEachRow(blockStatement(words), [&keywords](const RowView& row) {
    const auto id = numberOf<std::uint32_t>(row.at(0));
    if (keywords.empty() || keywords.back().id != id) keywords.push_back(Keyword{id, {}});
    keywords.back().pages.flip(numberOf<std::uint32_t>(row.at(1)),
                               numberOf<std::uint64_t>(row.at(2)));
  });
  return keywords;
}

// A page of a level met while reading: the sum of the ratios known so far
// and which words' ratios they are (bit w for search word w).
struct MetPage {
  std::int64_t sum = 0;
  std::uint64_t known = 0;
};

// Finds the first `wanted` pages of one level in rank order, as described
// in the header, and returns their URLs.
class LevelTop {
 public:
  LevelTop(IndexConnection& index, const std::vector<Keyword>& words, const PageSet& level,
           int wordsPerPage, std::int64_t firstBatch)
      : index(index),
        words(words),
        level(level),
        wordsPerPage(wordsPerPage),
        firstBatch(std::max<std::int64_t>(firstBatch, 1)) {}

  std::vector<std::string> find(std::int64_t wanted) {
    const std::size_t count = words.size();
    std::vector<std::int64_t> read(count, 0);
    std::vector<std::int64_t> lowestRatio(count, std::numeric_limits<std::int64_t>::max());
    std::vector<bool> exhausted(count, false);
    std::int64_t threshold = std::numeric_limits<std::int64_t>::min();
    for (std::int64_t batch = firstBatch;; batch = std::min(batch * 2, kLargestBatch)) {
      for (std::size_t w = 0; w < count; ++w) {
        if (exhausted[w]) continue;
        const std::int64_t rows = readByRatio(w, read[w], batch, lowestRatio[w]);
        read[w] += rows;
        if (rows < batch) exhausted[w] = true;
      }
      completeMetPages();
      // The most a page not met yet can sum: each of its words' rows is at
      // most where that word's read has come down to.
      std::vector<std::int64_t> open;
      for (std::size_t w = 0; w < count; ++w)
        if (!exhausted[w]) open.push_back(lowestRatio[w]);
      const bool unmetPossible = open.size() >= static_cast<std::size_t>(wordsPerPage);
      std::int64_t unmetBound = std::numeric_limits<std::int64_t>::min();
      if (unmetPossible) {
        std::sort(open.rbegin(), open.rend());
        unmetBound = 0;
        for (int i = 0; i < wordsPerPage; ++i) unmetBound += open[i];
      }
      if (static_cast<std::int64_t>(met.size()) >= wanted) {
        std::vector<std::int64_t> sums;
        sums.reserve(met.size());
        for (const auto& page : met) sums.push_back(page.second.sum);
        std::nth_element(sums.begin(), sums.begin() + (wanted - 1), sums.end(),
                         std::greater<std::int64_t>());
        threshold = sums[wanted - 1];
        if (!unmetPossible || threshold > unmetBound) break;
      } else if (!unmetPossible) {
        break;
      }
    }
    return rankedUrls(threshold, wanted);
  }

 private:
  // Reads `batch` rows of word w from row `from` in ratio order; records
  // those of the level's pages. Returns the number of rows read.
  std::int64_t readByRatio(std::size_t w, std::int64_t from, std::int64_t batch,
                           std::int64_t& lowestRatio) {
    std::int64_t rows = 0;
    index.forEachRow("select idUrl, ratio from CorrespMotUrl where idMot=" +
                         std::to_string(words[w].id) + " order by ratio desc, idUrl desc limit " +
                         std::to_string(from) + "," + std::to_string(batch) + ";",
                     [&](const RowView& row) {
                       ++rows;
                       const auto page = numberOf<std::uint32_t>(row.at(0));
                       lowestRatio = numberOf<std::int64_t>(row.at(1));
                       if (level.contains(page)) record(page, w, lowestRatio);
                     });
    return rows;
  }

  void record(std::uint32_t page, std::size_t w, std::int64_t ratio) {
    MetPage& state = met[page];
    if (state.known >> w & 1) return;
    state.known |= std::uint64_t{1} << w;
    state.sum += ratio;
  }

  // Looks up the ratios of the other words of each page met.
  void completeMetPages() {
    for (std::size_t w = 0; w < words.size(); ++w) {
      std::vector<std::uint32_t> missing;
      for (const auto& [page, state] : met)
        if ((state.known >> w & 1) == 0 && words[w].pages.contains(page)) missing.push_back(page);
      for (std::size_t start = 0; start < missing.size(); start += kIdsPerStatement) {
        // Joined to a list of ids rather than "idUrl in (...)", which the
        // server may answer by reading all of the word's rows.
        index.forEachRow(
            "with P (id) as (values " + idList(missing, start, "(", ")") +
                ") select C.idUrl, C.ratio from P straight_join CorrespMotUrl C where C.idMot=" +
                std::to_string(words[w].id) + " and C.idUrl=P.id;",
            [&](const RowView& row) {
              record(numberOf<std::uint32_t>(row.at(0)), w, numberOf<std::int64_t>(row.at(1)));
            });
      }
    }
  }

  // The URLs of the first `wanted` pages among those met whose sum reaches
  // the threshold, ordered by sum, then nbMotsTheme (descending), then URL.
  std::vector<std::string> rankedUrls(std::int64_t threshold, std::int64_t wanted) {
    struct Ranked {
      std::int64_t sum;
      std::int64_t themeWords;
      std::string url;
    };
    std::vector<std::uint32_t> ids;
    for (const auto& [page, state] : met)
      if (state.sum >= threshold) ids.push_back(page);
    std::vector<Ranked> ranked;
    ranked.reserve(ids.size());
    for (std::size_t start = 0; start < ids.size(); start += kIdsPerStatement) {
      index.forEachRow(
          "select idUrl, nbMotsTheme, url from Url where idUrl in (" + idList(ids, start) + ");",
          [&](const RowView& row) {
            ranked.push_back(Ranked{met.at(numberOf<std::uint32_t>(row.at(0))).sum,
                                    numberOf<std::int64_t>(row.at(1)), std::string(row.at(2))});
          });
    }
    const auto before = [](const Ranked& a, const Ranked& b) {
      if (a.sum != b.sum) return a.sum > b.sum;
      if (a.themeWords != b.themeWords) return a.themeWords > b.themeWords;
      return a.url < b.url;
    };
    const auto end = ranked.begin() + std::min<std::int64_t>(wanted, ranked.size());
    std::partial_sort(ranked.begin(), end, ranked.end(), before);
    std::vector<std::string> urls;
    for (auto page = ranked.begin(); page != end; ++page) urls.push_back(std::move(page->url));
    return urls;
  }

  IndexConnection& index;
  const std::vector<Keyword>& words;
  const PageSet& level;
  const int wordsPerPage;
  const std::int64_t firstBatch;
  std::unordered_map<std::uint32_t, MetPage> met;
};

}  // namespace

std::string idList(const std::vector<std::uint32_t>& ids, std::size_t start, const char* before,
                   const char* after) {
  std::string list;
  const std::size_t end = std::min(ids.size(), start + kIdsPerStatement);
  for (std::size_t i = start; i < end; ++i) {
    if (i > start) list += ',';
    list += before + std::to_string(ids[i]) + after;
  }
  return list;
}

std::int64_t PageSet::size() const {
  std::int64_t count = 0;
  for (const std::uint64_t pages : blocks) count += __builtin_popcountll(pages);
  return count;
}

SearchLevels searchLevels(const std::vector<PageSet>& searchWords, const PageSet& excluded,
                          int fewestWords) {
  const int wordCount = static_cast<int>(searchWords.size());
  std::size_t blockCount = 0;
  for (const PageSet& word : searchWords) blockCount = std::max(blockCount, word.blocks.size());
  std::vector<PageSet> byCount(searchWords.size() + 1);
  for (std::size_t block = 0; block < blockCount; ++block) {
    // How many words hold each page of the block, in binary: bit k of the
    // count of page i is bit i of plane k.
    std::array<std::uint64_t, kPlanes> plane{};
    for (const PageSet& word : searchWords) {
      std::uint64_t carry = block < word.blocks.size() ? word.blocks[block] : 0;
      for (std::size_t k = 0; k < kPlanes && carry != 0; ++k) {
        const std::uint64_t next = plane[k] & carry;
        plane[k] ^= carry;
        carry = next;
      }
    }
    const std::uint64_t kept = block < excluded.blocks.size() ? ~excluded.blocks[block] : ~0ULL;
    for (int count = std::max(fewestWords, 1); count <= wordCount; ++count) {
      std::uint64_t pages = kept;
      for (std::size_t k = 0; k < kPlanes; ++k) pages &= (count >> k & 1) ? plane[k] : ~plane[k];
      if (pages != 0) byCount[count].flip(static_cast<std::uint32_t>(block), pages);
    }
  }
  SearchLevels levels;
  for (int count = wordCount; count >= std::max(fewestWords, 1); --count) {
    const std::int64_t size = byCount[count].size();
    if (size == 0) continue;
    levels.total += size;
    levels.levels.emplace_back(count, std::move(byCount[count]));
  }
  return levels;
}

std::string blockStatement(const std::vector<std::string>& words) {
  return "select B.idMot, B.bloc, B.pages from MotCle M straight_join MotBloc B where M.mot in " +
         wordList(words) + " and B.idMot=M.idMot;";
}

std::string keywordBlockStatement(const std::vector<std::uint32_t>& keywordIds) {
  return "select idMot, bloc, pages from MotBloc where idMot in (" + idList(keywordIds, 0) + ");";
}

std::unordered_map<std::uint32_t, PageSet> readKeywordPages(IndexConnection& index,
                                                            const std::string& statement) {
  std::unordered_map<std::uint32_t, PageSet> pages;
  index.forEachRow(statement, [&pages](const RowView& row) {
    pages[numberOf<std::uint32_t>(row.at(0))].flip(numberOf<std::uint32_t>(row.at(1)),
                                                   numberOf<std::uint64_t>(row.at(2)));
  });
  return pages;
}

std::optional<SearchResult> runBlockSearch(IndexConnection& index,
                                           const std::vector<std::string>& searchWords,
                                           const std::vector<std::string>& excludedWords,
                                           std::int64_t firstRow, std::int64_t rowCount,
                                           std::int64_t firstBatch) {
  if (rowCount <= 0 || searchWords.empty()) return std::nullopt;
  // Every statement of the search reads the same snapshot of the index.
  index.execute("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ");
  Transaction snapshot(index);
  std::vector<Keyword> words;
  try {
    words = readKeywords(index, searchWords);
  } catch (const MysqlBadQuery& rejected) {
    if (!isMissingTable(rejected)) throw;
    return std::nullopt;
  }
  if (words.size() > kMaxBlockSearchWords) return std::nullopt;
  PageSet excluded;
  if (!excludedWords.empty())
    for (const Keyword& word : readKeywords(index, excludedWords)) excluded.addAll(word.pages);
  std::vector<PageSet> sets;
  sets.reserve(words.size());
  for (const Keyword& word : words) sets.push_back(word.pages);
  const SearchLevels levels = searchLevels(sets, excluded, excludedWords.empty() ? 2 : 1);

  SearchResult result;
  result.total = levels.total;
  const std::int64_t windowEnd = firstRow + rowCount;
  std::int64_t levelStart = 0;
  for (const auto& [wordsPerPage, pages] : levels.levels) {
    const std::int64_t size = pages.size();
    const std::int64_t levelEnd = levelStart + size;
    if (levelEnd > firstRow && levelStart < windowEnd) {
      std::vector<std::string> urls = LevelTop(index, words, pages, wordsPerPage, firstBatch)
                                          .find(std::min(size, windowEnd - levelStart));
      for (std::size_t i =
               static_cast<std::size_t>(std::max<std::int64_t>(0, firstRow - levelStart));
           i < urls.size(); ++i)
        result.urls.push_back(std::move(urls[i]));
    }
    levelStart = levelEnd;
  }
  snapshot.commit();
  return result;
}

}  // namespace theme_search
