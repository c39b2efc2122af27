// The URL registry: which URLs the index already knows (fetched into Url or
// given up into UrlInvalide), and the quoting used by the crawler's
// statements. Every URL goes through quote, so none can change a statement.
#include "index_connection.h"

std::string quote(const std::string& value) {
  // The client library's escapes, byte for byte (exact for a single-byte
  // character set such as the index's Latin-1).
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted += '"';
  for (char byte : value) {
    switch (byte) {
      case '\0':
        quoted += "\\0";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\032':
        quoted += "\\Z";
        break;
      case '\\':
      case '\'':
      case '"':
        quoted += '\\';
        quoted += byte;
        break;
      default:
        quoted += byte;
    }
  }
  quoted += '"';
  return quoted;
}

bool IndexConnection::isKnown(const std::string& url) {
  storeStatement("select url from Url where url=" + quote(url) + " ");
  if (resultCount() > 0) return true;
  storeStatement("select url from UrlInvalide where url=" + quote(url));
  return resultCount() > 0;
}

void IndexConnection::markInvalid(const std::string& url) {
  executeStatement("insert ignore into UrlInvalide values(" + quote(url) + ")");
}
