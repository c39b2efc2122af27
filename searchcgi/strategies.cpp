#include "searchcgi/strategies.h"

#include "index/sql_text.h"
#include "searchcgi/block_search.h"
#include "searchcgi/query_string.h"

namespace theme_search {

namespace {

// The column every search adds after its own: the number of rows the
// statement matches, before the window.
const char* const totalColumn = ", count(*) over () as total";

// The URLs of a search's rows (every strategy selects U.url first) and the
// total that each row carries in its last column.
SearchResult resultOf(const std::vector<Row>& rows) {
  SearchResult result;
  result.urls.reserve(rows.size());
  for (const Row& row : rows) result.urls.push_back(row.empty() ? std::string() : row.front());
  if (!rows.empty() && !rows.front().empty()) result.total = integerField(rows.front().back());
  return result;
}

}  // namespace

std::string limitClause(std::int64_t firstRow, std::int64_t rowCount) {
  if (rowCount == 0) return ";";
  return "LIMIT " + std::to_string(firstRow) + " , " + std::to_string(rowCount) + ";";
}

std::string wordList(const std::vector<std::string>& words) {
  std::string list = "(";
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += ',';
    list += "'" + escapeSql(words[i]) + "'";
  }
  return list + ")";
}

std::string singleWordSearch(const std::string& word, std::int64_t lastRow, PageCounts counts) {
  // W is the word's one row: its id, its number of pages and, when the
  // window ends at lastRow, the ratio of the row at lastRow in ratio order.
  // Every row up to lastRow has at least that ratio, so only those rows
  // need their page read and sorted (the primary key gives them by ratio).
  const std::string floor =
      lastRow < 0 ? std::string("null")
                  : "(select R.ratio from CorrespMotUrl R where R.idMot=M.idMot order by R.ratio "
                    "desc limit " +
                        std::to_string(lastRow) + ",1)";
  const std::string total =
      counts == PageCounts::kept
          ? "(select coalesce(sum(K.nbPages),0) from MotBloc K where K.idMot=M.idMot)"
          : "(select count(*) from CorrespMotUrl N where N.idMot=M.idMot)";
  return "select U.url, C.ratio, W.total from (select M.idMot, " + total + " as total, " + floor +
         " as floor from MotCle M where M.mot in ('" + escapeSql(word) +
         "') limit 1) W straight_join CorrespMotUrl C straight_join Url U where C.idMot=W.idMot "
         "and (W.floor is null or C.ratio >= W.floor) and U.idUrl=C.idUrl order by C.ratio desc, "
         "U.nbMotsTheme desc, U.url ";
}

namespace {

// The rows of pages holding the search words, grouped by page in a derived
// table (the keyword rows alone, read by word), then joined to their page.
// condition is added to the grouping's where clause, having to its group.
std::string groupedSearch(const std::vector<std::string>& searchWords, const std::string& condition,
                          const std::string& having) {
  return std::string("select U.url, G.ratio, G.nb") + totalColumn +
         " from (select C.idUrl, sum(C.ratio) as ratio, count(*) as nb from MotCle M "
         "straight_join CorrespMotUrl C where C.idMot=M.idMot and M.mot in " +
         wordList(searchWords) + condition + " group by C.idUrl" + having +
         ") G straight_join Url U where U.idUrl=G.idUrl order by G.nb desc, G.ratio desc, "
         "U.nbMotsTheme desc, U.url ";
}

}  // namespace

std::string conjunctiveSearch(const std::vector<std::string>& searchWords) {
  return groupedSearch(searchWords, "", " having nb > 1");
}

std::string exclusionSearch(const std::vector<std::string>& searchWords,
                            const std::vector<std::string>& excludedWords) {
  return groupedSearch(searchWords,
                       " and not exists (select 1 from CorrespMotUrl X, MotCle Y where "
                       "X.idUrl=C.idUrl and X.idMot=Y.idMot and Y.mot in " +
                           wordList(excludedWords) + ")",
                       "");
}

std::string countingStatement(const std::string& search) {
  return "select count(*) from (" + search + ") as found;";
}

bool contradictoryWords(const std::vector<std::string>& searchWords,
                        const std::vector<std::string>& excludedWords) {
  for (const std::string& word : searchWords)
    for (const std::string& excluded : excludedWords)
      if (sameTerm(word, excluded)) return true;
  return false;
}

std::optional<SearchResult> runSearch(IndexConnection& index,
                                      const std::vector<std::string>& searchWords,
                                      const std::vector<std::string>& excludedWords,
                                      std::int64_t firstRow, std::int64_t rowCount) {
  if (searchWords.empty()) return std::nullopt;
  if (contradictoryWords(searchWords, excludedWords)) return SearchResult{};
  if (searchWords.size() >= 2 || !excludedWords.empty())
    if (std::optional<SearchResult> found =
            runBlockSearch(index, searchWords, excludedWords, firstRow, rowCount))
      return found;
  std::string search;
  if (!excludedWords.empty())
    search = exclusionSearch(searchWords, excludedWords);
  else if (searchWords.size() >= 2)
    search = conjunctiveSearch(searchWords);
  else
    search = singleWordSearch(searchWords.front(), rowCount == 0 ? -1 : firstRow + rowCount - 1);
  SearchResult result;
  try {
    result = resultOf(index.query(search + limitClause(firstRow, rowCount)));
  } catch (const MysqlBadQuery& rejected) {
    // An index made before the keywords' blocks: count the rows.
    if (!isMissingTable(rejected) || searchWords.size() != 1 || !excludedWords.empty()) throw;
    search = singleWordSearch(searchWords.front(), rowCount == 0 ? -1 : firstRow + rowCount - 1,
                              PageCounts::counted);
    result = resultOf(index.query(search + limitClause(firstRow, rowCount)));
  }
  // A window past the last row carries no total: count on its own.
  // (Counting the single-word search with its floor still counts every row:
  // past the last row there is no floor.)
  if (result.urls.empty() && firstRow > 0)
    result.total = static_cast<std::int64_t>(index.count(countingStatement(search)));
  return result;
}

}  // namespace theme_search
