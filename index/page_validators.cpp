// A page's reply validators, and the visit of a page the server says has
// not changed.
#include "index/page_validators.h"

#include "index/sql_text.h"

namespace theme_search {

PageValidators readValidators(IndexConnection& connection, const std::string& url) {
  const std::vector<Row> rows = connection.query(
      "SELECT v.etag, v.lastModified FROM UrlValidateurs v JOIN Url u ON u.idUrl = v.idUrl "
      "WHERE u.url = " +
      quote(url));
  if (rows.empty()) return PageValidators{};
  return PageValidators{rows.front().at(0), rows.front().at(1)};
}

void recordUnchangedVisit(IndexConnection& connection, const std::string& url) {
  connection.execute("UPDATE Url SET lastVisit = NOW() WHERE url = " + quote(url) + " LIMIT 1");
}

std::string validatorsRow(std::uint64_t pageId, const PageValidators& validators) {
  return "(" + std::to_string(pageId) + ", " + quote(validators.etag) + ", " +
         quote(validators.lastModified) + ")";
}

std::string validatorsRowsStatement(const std::string& rows) {
  return "INSERT INTO UrlValidateurs ( idUrl, etag, lastModified ) VALUES " + rows +
         " ON DUPLICATE KEY UPDATE etag = VALUES(etag), lastModified = VALUES(lastModified)";
}

std::string validatorsStatement(std::uint64_t pageId, const PageValidators& validators) {
  return validatorsRowsStatement(validatorsRow(pageId, validators));
}

std::string validatorsRemovalStatement(std::uint64_t pageId) {
  return "DELETE FROM UrlValidateurs WHERE idUrl = " + std::to_string(pageId);
}

}  // namespace theme_search
