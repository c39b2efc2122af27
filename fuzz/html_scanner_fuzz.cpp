// Any bytes as an HTML document: the scanner must end, in linear time, with
// links, a canonical link and text that come from the document, display
// texts that hold single blanks between printable Latin-1 bytes only,
// heading words that are words of the page text in its order, word fields
// in the form wordsOf gives, and a language of lower-case letters.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "common/text_folding.h"
#include "crawler/analysis/html_scanner.h"

namespace {

using theme_search::HtmlScanner;

// The words of `text` as wordsOf cuts them, joined by single spaces.
std::string joinedWords(const std::string& text) {
  std::string joined;
  for (const std::string& word : theme_search::wordsOf(text))
    joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

// True when every blank-separated word of `part` is one of `whole`, in order.
bool isSubsequence(const std::string& part, const std::string& whole) {
  std::istringstream parts(part);
  std::istringstream wholes(whole);
  std::string word;
  std::string candidate;
  while (parts >> word) {
    do {
      if (!(wholes >> candidate)) return false;
    } while (candidate != word);
  }
  return true;
}

void checkDisplayText(const std::string& text) {
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) __builtin_trap();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || (byte >= 0x7F && byte <= 0xA0)) __builtin_trap();
    if (byte == ' ' && text[i + 1] == ' ') __builtin_trap();
  }
}

void checkFields(const HtmlScanner& scanner) {
  for (const std::string* words : {&scanner.getHeadingWords(), &scanner.getDescriptionWords()})
    if (joinedWords(*words) != *words) __builtin_trap();
  if (!isSubsequence(scanner.getHeadingWords(), scanner.getPageText())) __builtin_trap();
  const std::string& language = scanner.getLanguage();
  if (!language.empty() && (language.size() < 2 || language.size() > 8)) __builtin_trap();
  for (char c : language)
    if (c < 'a' || c > 'z') __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string document(reinterpret_cast<const char*>(data), size);
  const HtmlScanner scanner(document);
  std::size_t linkBytes = 0;
  for (const std::string& link : scanner.getLinkTargets()) linkBytes += link.size();
  // A link is a piece of the document: together they cannot outgrow it.
  if (linkBytes > document.size()) __builtin_trap();
  // So is the canonical link, as written.
  if (document.find(scanner.getCanonicalLink()) == std::string::npos) __builtin_trap();
  checkDisplayText(scanner.getDisplayText());
  checkDisplayText(scanner.getTitle());
  checkFields(scanner);
  return 0;
}
