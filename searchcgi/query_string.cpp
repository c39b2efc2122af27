#include "searchcgi/query_string.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "common/text.h"
#include "common/text_folding.h"

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

std::string decodeKeyword(const std::string& received) {
  std::string utf8;
  for (char32_t character : utf8OrLatin1Characters(percentDecoded(received)))
    appendUtf8(utf8, character);
  return utf8;
}

bool sameTerm(std::string first, std::string second) {
  return toLowerLatin1(first) == toLowerLatin1(second);
}

ViewQuery takeOrderParameter(const std::string& queryString) {
  ViewQuery view;
  std::string rest = queryString;
  bool first = true;
  while (true) {
    std::string parameter;
    const bool more = rest.find('&') != std::string::npos;
    rest = splitAt(rest, parameter, '&');
    if (parameter.rfind("order=", 0) == 0) {
      view.order = parameter == "order=count" ? ResultOrder::count : ResultOrder::relevance;
    } else {
      if (!first) view.queryString += '&';
      view.queryString += parameter;
      first = false;
    }
    if (!more) break;
  }
  return view;
}

KeywordLists splitKeywords(std::string keywordText) {
  KeywordLists lists;
  // The search words between a keyword that opens a double quote and the
  // one that closes it (or the last one) make a phrase.
  bool inPhrase = false;
  while (!keywordText.empty()) {
    std::string piece;
    keywordText = splitAt(keywordText, piece, '+');
    const bool excluded = !inPhrase && !piece.empty() && piece[0] == '-';
    std::vector<std::string>& list = excluded ? lists.excludedWords : lists.searchWords;
    if (list.size() >= maxWords) continue;
    list.push_back(decodeKeyword(excluded ? piece.substr(1) : piece));
    const std::string& typed = list.back();
    const bool opens = !excluded && !inPhrase && !typed.empty() && typed.front() == '"';
    if (opens) lists.phrases.emplace_back();
    std::vector<std::string>& terms = excluded ? lists.excludedTerms : lists.searchTerms;
    for (std::string& term : wordsOf(foldUtf8Text(typed))) {
      if (opens || inPhrase) lists.phrases.back().push_back(term);
      const auto known = [&term](const std::string& kept) { return sameTerm(kept, term); };
      if (terms.size() < maxWords && std::none_of(terms.begin(), terms.end(), known))
        terms.push_back(std::move(term));
    }
    const bool closes = typed.size() > (opens ? 1u : 0u) && typed.back() == '"';
    inPhrase = (opens || inPhrase) && !closes;
  }
  // A phrase of fewer than two words asks for nothing more than its word.
  lists.phrases.erase(std::remove_if(lists.phrases.begin(), lists.phrases.end(),
                                     [](const auto& phrase) { return phrase.size() < 2; }),
                      lists.phrases.end());
  return lists;
}

bool holdsPhrase(const std::string& latin1Text, const std::vector<std::string>& phrase) {
  if (phrase.empty()) return true;
  std::vector<std::string> words = wordsOf(latin1Text);
  for (std::string& word : words) toLowerLatin1(word);
  std::vector<std::string> wanted = phrase;
  for (std::string& word : wanted) toLowerLatin1(word);
  return std::search(words.begin(), words.end(), wanted.begin(), wanted.end()) != words.end();
}

std::vector<std::string> allKeywords(const KeywordLists& lists) {
  std::vector<std::string> all = lists.searchWords;
  all.insert(all.end(), lists.excludedWords.begin(), lists.excludedWords.end());
  return all;
}

}  // namespace theme_search
