#include "searchcgi/html_escape.h"

namespace theme_search {

std::string htmlEscape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char byte : text) {
    switch (byte) {
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += byte;
    }
  }
  return escaped;
}

}  // namespace theme_search
