#include "index/keyword_counts.h"

#include "index/sql_text.h"

namespace theme_search {

namespace {

void sendUnlessTableMissing(IndexConnection& connection, const std::string& statement) {
  try {
    connection.execute(statement);
  } catch (const MysqlBadQuery& rejected) {
    if (!isMissingTable(rejected)) throw;
  }
}

// What an existing block row becomes: its pages flipped, its count added.
const char* const kBlockUpdate =
    " ON DUPLICATE KEY UPDATE pages = pages ^ VALUES(pages), nbPages = nbPages + VALUES(nbPages)";

}  // namespace

// Both ways write their rows in key order, so two transactions that share
// a part lock the rows they share in the same order.

std::string keywordBlockChange(std::string_view pagesCondition, int sign, unsigned part) {
  return "INSERT INTO MotBloc ( idMot, bloc, part, pages, nbPages ) SELECT idMot, idUrl DIV 64, " +
         std::to_string(part) + ", BIT_XOR(1 << (idUrl MOD 64)), " +
         (sign < 0 ? "-COUNT(*)" : "COUNT(*)") + " FROM CorrespMotUrl WHERE idUrl " +
         std::string(pagesCondition) +
         " GROUP BY idMot, idUrl DIV 64 ORDER BY idMot, idUrl DIV 64" + kBlockUpdate;
}

void changeKeywordBlocks(IndexConnection& connection, std::string_view pagesCondition, int sign,
                         unsigned part) {
  sendUnlessTableMissing(connection, keywordBlockChange(pagesCondition, sign, part));
}

void KeywordChanges::merge(const KeywordChanges& other) {
  for (const auto& [key, block] : other.blocks) {
    Block& mine = blocks[key];
    mine.pages ^= block.pages;
    mine.count += block.count;
  }
}

std::vector<std::string> KeywordChanges::statements(unsigned part) const {
  const std::string partText = std::to_string(part);
  std::vector<std::string> rows;
  for (const auto& [key, block] : blocks)
    rows.push_back("(" + std::to_string(key.first) + "," + std::to_string(key.second) + "," +
                   partText + "," + std::to_string(block.pages) + "," +
                   std::to_string(block.count) + ")");
  std::vector<std::string> statements;
  for (const std::string& list : joinedBatches(rows))
    statements.push_back("INSERT INTO MotBloc ( idMot, bloc, part, pages, nbPages ) VALUES " +
                         list + kBlockUpdate);
  return statements;
}

void applyKeywordChanges(IndexConnection& connection, const KeywordChanges& changes,
                         unsigned part) {
  for (const std::string& statement : changes.statements(part))
    sendUnlessTableMissing(connection, statement);
}

}  // namespace theme_search
