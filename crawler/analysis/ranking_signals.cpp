#include "crawler/analysis/ranking_signals.h"

#include "common/text.h"
#include "common/text_folding.h"
#include "crawler/analysis/keyword_selection.h"

namespace theme_search {

namespace {

// The words of a field, joined by blanks, as countWords reads them.
std::string fieldText(const std::string& text) {
  std::string joined;
  for (const std::string& word : wordsOf(text)) joined += word + ' ';
  return joined;
}

// The primary subtag of a language tag, lower-cased; empty when it holds
// anything but letters.
std::string primaryLanguage(const std::string& tag) {
  std::string primary = lowered(tag.substr(0, tag.find_first_of("-_")));
  for (const char c : primary)
    if (!isAsciiLetter(c)) return std::string();
  return primary.size() <= 8 ? primary : std::string();
}

}  // namespace

std::string urlPathWords(const std::string& url) {
  std::string::size_type start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  const std::string::size_type slash = url.find('/', start);
  if (slash == std::string::npos) return std::string();
  std::string path = url.substr(slash, url.find_first_of("?#", slash) - slash);
  const std::string::size_type lastSlash = path.rfind('/');
  const std::string::size_type dot = path.rfind('.');
  if (dot != std::string::npos && dot > lastSlash) path.erase(dot);
  // An escaped path is read as UTF-8 when it is, as Latin-1 otherwise.
  std::string latin1;
  for (const char32_t character : utf8OrLatin1Characters(percentDecoded(path)))
    latin1 += character <= 0xFF ? std::string(1, static_cast<char>(character))
                                : std::string(transliterate(character).value_or(" "));
  return fieldText(latin1);
}

RankingSignals rankingSignals(const std::string& url, unsigned wordCount, const PageFields& fields,
                              const WordCounts& keywords, const std::string& defaultLanguage) {
  RankingSignals signals;
  signals.wordCount = wordCount;
  const std::pair<PageField, std::string> texts[] = {
      {PageField::title, fieldText(fields.title)},
      {PageField::headings, fieldText(fields.headings)},
      {PageField::urlPath, urlPathWords(url)},
      {PageField::description, fieldText(fields.description)},
  };
  for (const auto& [field, text] : texts) {
    WordCounts counts;
    countWords(text, counts);
    unsigned length = 0;
    WordCounts kept;
    for (const auto& [word, count] : counts) {
      length += count;
      if (keywords.count(word) != 0) kept.emplace_hint(kept.end(), word, count);
    }
    if (length != 0) signals.fieldLengths[field] = length;
    if (!kept.empty()) signals.fieldWords[field] = std::move(kept);
  }
  signals.language = primaryLanguage(fields.language);
  if (signals.language.empty()) signals.language = primaryLanguage(defaultLanguage);
  return signals;
}

}  // namespace theme_search
