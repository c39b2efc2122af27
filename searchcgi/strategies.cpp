#include "strategies.h"

std::string limitClause(std::int64_t firstRow, std::int64_t endRow) {
  if (firstRow == endRow) return ";";
  return "LIMIT " + std::to_string(firstRow) + " , " + std::to_string(endRow) + ";";
}

std::string sqlWord(const std::string& word) {
  std::string escaped;
  escaped.reserve(word.size());
  for (char byte : word) {
    if (byte == '\0') {
      escaped += "\\0";
      continue;
    }
    if (byte == '\'' || byte == '\\') escaped += '\\';
    escaped += byte;
  }
  return escaped;
}

std::string wordList(const std::vector<std::string>& words) {
  std::string list = "(";
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += ',';
    list += "'" + sqlWord(words[i]) + "'";
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
         sqlWord(word) +
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

void runSearch(IndexConnection& index, const std::vector<std::string>& searchWords,
               const std::vector<std::string>& excludedWords, std::int64_t firstRow,
               std::int64_t endRow, std::ostream& page) {
  const std::string tail = limitClause(firstRow, endRow);
  if (searchWords.empty()) {
    page << "Erreur de param\xe8tres"
         << "<BR>\n"
         << std::flush;
  } else if (!excludedWords.empty()) {
    index.executeStatement(scratchStatement(excludedWords));
    index.storeStatement(exclusionSearch(searchWords) + tail);
  } else if (searchWords.size() >= 2) {
    index.storeStatement(conjunctiveSearch(searchWords) + tail);
  } else {
    index.storeStatement(singleWordSearch(searchWords.front()) + tail);
  }
}
