#include "index/sql_text.h"

namespace theme_search {

std::string escapeSql(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (char byte : value) {
    switch (byte) {
      case '\0':
        escaped += "\\0";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\032':
        escaped += "\\Z";
        break;
      case '\\':
      case '\'':
      case '"':
        escaped += '\\';
        escaped += byte;
        break;
      default:
        escaped += byte;
    }
  }
  return escaped;
}

std::string quote(std::string_view value) {
  return '"' + escapeSql(value) + '"';
}

std::vector<std::string> joinedBatches(const std::vector<std::string>& items, std::size_t maxBytes,
                                       std::string_view separator) {
  std::vector<std::string> batches;
  bool startNew = true;
  for (const std::string& item : items) {
    if (!startNew && batches.back().size() + separator.size() + item.size() > maxBytes)
      startNew = true;
    if (startNew) {
      batches.push_back(item);
      startNew = false;
    } else {
      batches.back() += separator;
      batches.back() += item;
    }
  }
  return batches;
}

}  // namespace theme_search
