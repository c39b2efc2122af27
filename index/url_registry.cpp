#include "index/url_registry.h"

#include "index/sql_text.h"

namespace theme_search {

bool isKnown(IndexConnection& connection, const std::string& url) {
  if (!connection.query("select url from Url where url=" + quote(url) + " ").empty()) return true;
  return !connection.query("select url from UrlInvalide where url=" + quote(url)).empty();
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

void markInvalid(IndexConnection& connection, const std::string& url) {
  connection.execute("insert ignore into UrlInvalide values(" + quote(url) + ")");
}

void markAllInvalid(IndexConnection& connection, const std::vector<std::string>& urls) {
  std::vector<std::string> rows;
  rows.reserve(urls.size());
  for (const std::string& url : urls) rows.push_back("(" + quote(url) + ")");
  for (const std::string& list : joinedBatches(rows))
    connection.execute("insert ignore into UrlInvalide values" + list);
}

}  // namespace theme_search
