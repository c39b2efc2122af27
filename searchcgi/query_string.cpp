#include "searchcgi/query_string.h"

#include <cctype>
#include <climits>

namespace theme_search {

std::string splitAt(const std::string& source, std::string& accumulator, char separator) {
  const std::size_t at = source.find(separator);
  if (at == std::string::npos) {
    accumulator += source;
    return std::string();
  }
  accumulator.append(source, 0, at);
  return source.substr(at + 1);
}

std::string valueAfterEquals(const std::string& parameter) {
  const std::size_t at = parameter.find('=');
  return at == std::string::npos ? std::string() : parameter.substr(at + 1);
}

int leadingInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

DecodedQuery decodeQuery(const std::string& queryString) {
  std::string first, second;
  std::string rest = splitAt(queryString, first, '&');
  rest = splitAt(rest, second, '&');

  DecodedQuery decoded;
  decoded.spellCheck = !rest.empty();
  decoded.pageNumber = leadingInteger(valueAfterEquals(second));
  if (decoded.pageNumber < 1) decoded.pageNumber = 1;
  decoded.keywordText = valueAfterEquals(first);
  return decoded;
}

KeywordLists splitKeywords(std::string keywordText) {
  KeywordLists lists;
  while (!keywordText.empty()) {
    std::string piece;
    keywordText = splitAt(keywordText, piece, '+');
    const bool excluded = !piece.empty() && piece[0] == '-';
    std::vector<std::string>& list = excluded ? lists.excludedWords : lists.searchWords;
    if (list.size() < maxWords) list.push_back(excluded ? piece.substr(1) : piece);
  }
  return lists;
}

}  // namespace theme_search
