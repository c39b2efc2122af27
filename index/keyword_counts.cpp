#include "index/keyword_counts.h"

namespace theme_search {

namespace {

// The server's code for a table that does not exist.
constexpr unsigned kNoSuchTable = 1146;

}  // namespace

std::string keywordCountChange(std::string_view pagesCondition, int sign, unsigned part) {
  // Rows in key order, so two transactions that share a part lock the
  // counts they share in the same order.
  return "INSERT INTO MotCompte ( idMot, part, nbPages ) SELECT idMot, " + std::to_string(part) +
         ", " + (sign < 0 ? "-COUNT(*)" : "COUNT(*)") + " FROM CorrespMotUrl WHERE idUrl " +
         std::string(pagesCondition) +
         " GROUP BY idMot ORDER BY idMot ON DUPLICATE KEY UPDATE nbPages = nbPages + "
         "VALUES(nbPages)";
}

std::string pagesOfUrls(const std::string& quotedUrls) {
  return "IN (SELECT idUrl FROM Url WHERE url IN (" + quotedUrls + "))";
}

void changeKeywordCounts(IndexConnection& connection, std::string_view pagesCondition, int sign,
                         unsigned part) {
  try {
    connection.execute(keywordCountChange(pagesCondition, sign, part));
  } catch (const MysqlBadQuery& rejected) {
    if (rejected.errnum() != kNoSuchTable) throw;
  }
}

}  // namespace theme_search
