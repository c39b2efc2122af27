#include "index/keyword_counts.h"

namespace theme_search {

namespace {

// The server's code for a table that does not exist.
constexpr unsigned kNoSuchTable = 1146;

void sendUnlessTableMissing(IndexConnection& connection, const std::string& statement) {
  try {
    connection.execute(statement);
  } catch (const MysqlBadQuery& rejected) {
    if (rejected.errnum() != kNoSuchTable) throw;
  }
}

}  // namespace

// Both statements write their rows in key order, so two transactions that
// share a part lock the rows they share in the same order.

std::string keywordCountChange(std::string_view pagesCondition, int sign, unsigned part) {
  return "INSERT INTO MotCompte ( idMot, part, nbPages ) SELECT idMot, " + std::to_string(part) +
         ", " + (sign < 0 ? "-COUNT(*)" : "COUNT(*)") + " FROM CorrespMotUrl WHERE idUrl " +
         std::string(pagesCondition) +
         " GROUP BY idMot ORDER BY idMot ON DUPLICATE KEY UPDATE nbPages = nbPages + "
         "VALUES(nbPages)";
}

std::string keywordBlockFlip(std::string_view pagesCondition, unsigned part) {
  return "INSERT INTO MotBloc ( idMot, bloc, part, pages ) SELECT idMot, idUrl DIV 64, " +
         std::to_string(part) + ", BIT_XOR(1 << (idUrl MOD 64)) FROM CorrespMotUrl WHERE idUrl " +
         std::string(pagesCondition) +
         " GROUP BY idMot, idUrl DIV 64 ORDER BY idMot, idUrl DIV 64 ON DUPLICATE KEY UPDATE "
         "pages = pages ^ VALUES(pages)";
}

std::string pagesOfUrls(const std::string& quotedUrls) {
  return "IN (SELECT idUrl FROM Url WHERE url IN (" + quotedUrls + "))";
}

void changeKeywordCounts(IndexConnection& connection, std::string_view pagesCondition, int sign,
                         unsigned part) {
  sendUnlessTableMissing(connection, keywordCountChange(pagesCondition, sign, part));
  sendUnlessTableMissing(connection, keywordBlockFlip(pagesCondition, part));
}

}  // namespace theme_search
