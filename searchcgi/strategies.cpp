#include "searchcgi/strategies.h"

#include "index/sql_text.h"

namespace theme_search {

namespace {

// The URLs of a strategy's rows: every strategy selects U.url first.
std::vector<std::string> urlsOf(const std::vector<Row>& rows) {
  std::vector<std::string> urls;
  urls.reserve(rows.size());
  for (const Row& row : rows) urls.push_back(row.empty() ? std::string() : row.front());
  return urls;
}

}  // namespace

std::string limitClause(std::int64_t firstRow, std::int64_t endRow) {
  if (firstRow == endRow) return ";";
  return "LIMIT " + std::to_string(firstRow) + " , " + std::to_string(endRow) + ";";
}

std::string wordList(const std::vector<std::string>& words) {
  std::string list = "(";
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += ',';
    list += "'" + escapeSql(words[i]) + "'";
  }
  return list + ")";
}

std::string scratchStatement(const std::vector<std::string>& excludedWords) {
  return "create temporary table tmp select C.idUrl from CorrespMotUrl C, MotCle M where "
         "C.idMot=M.idMot and M.mot in " +
         wordList(excludedWords) + " group by (C.idUrl);";
}

std::string singleWordSearch(const std::string& word) {
  return "select U.url, C.ratio from Url U, CorrespMotUrl C, MotCle M where  M.mot in ('" +
         escapeSql(word) +
         "') and C.idMot=M.idMot and C.idUrl=U.idUrl  order by C.ratio, U.nbMotsTheme desc, U.url ";
}

std::string conjunctiveSearch(const std::vector<std::string>& searchWords) {
  return "select U.url, sum(C.ratio) as ratio , count(M.mot) as nb from Url U, CorrespMotUrl C, "
         "MotCle M where C.idUrl=U.idUrl and C.idMot=M.idMot and M.mot in " +
         wordList(searchWords) +
         " group by (U.url) having nb > 1 order by nb desc, ratio desc, U.nbMotsTheme desc, U.url ";
}

std::string exclusionSearch(const std::vector<std::string>& searchWords) {
  // The comma join is parenthesised so the ON clause may name C.
  return "select U.url, sum(C.ratio) as ratio , count(M.mot) as nb from (Url U, CorrespMotUrl C, "
         "MotCle M) left join tmp T on C.idUrl=T.idUrl where (T.idUrl is NULL) and "
         "C.idUrl=U.idUrl and C.idMot=M.idMot and M.mot in " +
         wordList(searchWords) +
         " group by (U.url) order by nb desc, ratio desc, U.nbMotsTheme desc, U.url ";
}

SearchRun runSearch(IndexConnection& index, const std::vector<std::string>& searchWords,
                    const std::vector<std::string>& excludedWords, std::int64_t firstRow,
                    std::int64_t endRow) {
  if (searchWords.empty()) return std::nullopt;
  const std::string tail = limitClause(firstRow, endRow);
  if (!excludedWords.empty()) {
    index.execute(scratchStatement(excludedWords));
    return urlsOf(index.query(exclusionSearch(searchWords) + tail));
  }
  if (searchWords.size() >= 2) return urlsOf(index.query(conjunctiveSearch(searchWords) + tail));
  return urlsOf(index.query(singleWordSearch(searchWords.front()) + tail));
}

}  // namespace theme_search
