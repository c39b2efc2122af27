#include "index/url_registry.h"

#include "index/sql_text.h"

namespace theme_search {

bool isKnown(IndexConnection& connection, const std::string& url) {
  if (!connection.query("select url from Url where url=" + quote(url) + " ").empty()) return true;
  return !connection.query("select url from UrlInvalide where url=" + quote(url)).empty();
}

void markInvalid(IndexConnection& connection, const std::string& url) {
  connection.execute("insert ignore into UrlInvalide values(" + quote(url) + ")");
}

}  // namespace theme_search
