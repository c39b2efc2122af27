#include "searchcgi/strategies.h"

#include <charconv>

#include "index/sql_text.h"

namespace theme_search {

namespace {

// The column every search adds after its own: the number of rows the
// statement matches, before the window.
const char* const totalColumn = ", count(*) over () as total";

std::int64_t numberOf(const std::string& text) {
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The URLs of a search's rows (every strategy selects U.url first) and the
// total that each row carries in its last column.
SearchResult resultOf(const std::vector<Row>& rows) {
  SearchResult result;
  result.urls.reserve(rows.size());
  for (const Row& row : rows) result.urls.push_back(row.empty() ? std::string() : row.front());
  if (!rows.empty() && !rows.front().empty()) result.total = numberOf(rows.front().back());
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

std::string singleWordSearch(const std::string& word) {
  return std::string("select U.url, C.ratio") + totalColumn +
         " from Url U, CorrespMotUrl C, MotCle M where  M.mot in ('" + escapeSql(word) +
         "') and C.idMot=M.idMot and C.idUrl=U.idUrl  order by C.ratio desc, U.nbMotsTheme desc, "
         "U.url ";
}

std::string conjunctiveSearch(const std::vector<std::string>& searchWords) {
  return std::string("select U.url, sum(C.ratio) as ratio , count(M.mot) as nb") + totalColumn +
         " from Url U, CorrespMotUrl C, MotCle M where C.idUrl=U.idUrl and C.idMot=M.idMot and "
         "M.mot in " +
         wordList(searchWords) +
         " group by U.idUrl having nb > 1 order by nb desc, ratio desc, U.nbMotsTheme desc, "
         "U.url ";
}

std::string exclusionSearch(const std::vector<std::string>& searchWords,
                            const std::vector<std::string>& excludedWords) {
  return std::string("select U.url, sum(C.ratio) as ratio , count(M.mot) as nb") + totalColumn +
         " from Url U, CorrespMotUrl C, MotCle M where C.idUrl=U.idUrl and C.idMot=M.idMot and "
         "M.mot in " +
         wordList(searchWords) +
         " and not exists (select 1 from CorrespMotUrl X, MotCle Y where X.idUrl=C.idUrl and "
         "X.idMot=Y.idMot and Y.mot in " +
         wordList(excludedWords) +
         ") group by U.idUrl order by nb desc, ratio desc, U.nbMotsTheme desc, U.url ";
}

std::string countingStatement(const std::string& search) {
  return "select count(*) from (" + search + ") as found;";
}

std::optional<SearchResult> runSearch(IndexConnection& index,
                                      const std::vector<std::string>& searchWords,
                                      const std::vector<std::string>& excludedWords,
                                      std::int64_t firstRow, std::int64_t rowCount) {
  if (searchWords.empty()) return std::nullopt;
  std::string search;
  if (!excludedWords.empty())
    search = exclusionSearch(searchWords, excludedWords);
  else if (searchWords.size() >= 2)
    search = conjunctiveSearch(searchWords);
  else
    search = singleWordSearch(searchWords.front());
  SearchResult result = resultOf(index.query(search + limitClause(firstRow, rowCount)));
  // A window past the last row carries no total: count on its own.
  if (result.urls.empty() && firstRow > 0)
    result.total = static_cast<std::int64_t>(index.count(countingStatement(search)));
  return result;
}

}  // namespace theme_search
