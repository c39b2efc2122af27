// Construction of the HTML scanner: the document is handed to the generated
// scanning routine through a string stream and scanned to its end at once.
#include "crawler/analysis/html_scanner.h"

#include <sstream>

namespace theme_search {

HtmlScanner::HtmlScanner(const std::string& document) : yyFlexLexer(nullptr, nullptr) {
  // Only the bytes before the first NUL are scanned.
  std::istringstream input(document.substr(0, document.find('\0')));
  yyrestart(&input);
  yylex();
  // The stream ends with this constructor; leave no reader pointing at it.
  yyin.rdbuf(nullptr);
}

}  // namespace theme_search
