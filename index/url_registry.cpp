#include "index/url_registry.h"

#include "index/keyword_counts.h"
#include "index/sql_text.h"

namespace theme_search {

namespace {

// The derived table's rows compare to Url.url by its own collation, byte
// for byte, so the lookup uses the column's key.
const char kNotFetched[] =
    " v LEFT JOIN Url u ON u.url = v.url COLLATE latin1_nopad_bin WHERE u.idUrl IS NULL";

}  // namespace

bool isKnown(IndexConnection& connection, const std::string& url) {
  if (isFetched(connection, url)) return true;
  return !connection.query("select url from UrlInvalide where url=" + quote(url)).empty();
}

bool isFetched(IndexConnection& connection, const std::string& url) {
  return !connection.query("select url from Url where url=" + quote(url) + " ").empty();
}

std::string knownAmongStatement(const std::string& quotedUrls) {
  return "SELECT url FROM Url WHERE url IN (" + quotedUrls +
         ") UNION SELECT url FROM UrlInvalide WHERE url IN (" + quotedUrls + ")";
}

std::vector<std::string> knownAmong(IndexConnection& connection,
                                    const std::vector<std::string>& urls) {
  std::vector<std::string> quoted;
  quoted.reserve(urls.size());
  for (const std::string& url : urls) quoted.push_back(quote(url));
  std::vector<std::string> known;
  for (const std::string& list : joinedBatches(quoted))
    for (Row& row : connection.query(knownAmongStatement(list)))
      known.push_back(std::move(row.at(0)));
  return known;
}

void recordFetched(IndexConnection& connection, const std::string& url) {
  Transaction transaction(connection);
  addFetched(connection, url);
  transaction.commit();
}

void addFetched(IndexConnection& connection, const std::string& url) {
  connection.execute("INSERT IGNORE INTO Url (url, lastVisit) VALUES (" + quote(url) + ", NULL )");
  connection.execute("DELETE FROM UrlInvalide WHERE url = " + quote(url));
  connection.execute("DELETE FROM UrlInvalideRaison WHERE url = " + quote(url));
}

std::string invalidUrlsTable(const std::string& rows) {
  // The first, empty select names the columns.
  return "(SELECT '' AS url, '' AS raison FROM DUAL WHERE FALSE UNION ALL " + rows + ")";
}

std::string invalidInsertStatement(const std::string& table) {
  return "INSERT IGNORE INTO UrlInvalide (url) SELECT v.url FROM " + table + kNotFetched;
}

std::string reasonInsertStatement(const std::string& table) {
  return "INSERT INTO UrlInvalideRaison (url, raison, moment) SELECT v.url, v.raison, NOW() "
         "FROM " +
         table + kNotFetched +
         " ON DUPLICATE KEY UPDATE raison = VALUES(raison), moment = VALUES(moment)";
}

void markAllInvalid(IndexConnection& connection, const std::vector<InvalidUrl>& urls) {
  std::vector<std::string> rows;
  rows.reserve(urls.size());
  for (const InvalidUrl& invalid : urls)
    rows.push_back("SELECT " + quote(invalid.url) + ", " +
                   quote(invalid.reason.substr(0, kMaxReasonBytes)));
  for (const std::string& list : joinedBatches(rows, maxBatchBytes, " UNION ALL ")) {
    const std::string table = invalidUrlsTable(list);
    connection.execute(invalidInsertStatement(table));
    connection.execute(reasonInsertStatement(table));
  }
}

void markInvalid(IndexConnection& connection, const std::string& url, const std::string& reason) {
  markAllInvalid(connection, {InvalidUrl{url, reason}});
}

void removePage(IndexConnection& connection, const std::string& url, const std::string& reason) {
  Transaction transaction(connection);
  const std::string page = "(SELECT idUrl FROM Url WHERE url = " + quote(url) + ")";
  changeKeywordBlocks(connection, "IN " + page, -1, KeywordCountPart().next());
  connection.execute("DELETE FROM CorrespMotUrl WHERE idUrl IN " + page);
  for (const char* table : {"Document", "DocumentMesure", "MotChamp", "UrlValidateurs"})
    connection.execute(std::string("DELETE FROM ") + table + " WHERE idUrl IN " + page);
  connection.execute("DELETE FROM Url WHERE url = " + quote(url));
  markInvalid(connection, url, reason);
  transaction.commit();
}

}  // namespace theme_search
