#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace theme_search {

// Decoding of the CGI query string. Parameters are taken by position, not by
// name: the first is the keyword text, the second the page number, and any
// text after the second "&" asks for spelling suggestions. The keyword text
// is split at "+" as it arrives; each keyword is then percent-decoded on its
// own (decodeKeyword), so an encoded "+" stays inside its word. Pure
// functions of text.

// Capacity of each keyword list; words beyond it are ignored.
constexpr std::size_t maxWords = 64;

// Appends to accumulator every character of source before the first
// separator and returns what follows it; with no separator, appends the whole
// source and returns the empty text. The separator itself is never copied.
[[nodiscard]] std::string splitAt(const std::string& source, std::string& accumulator,
                                  char separator);

// Everything after the first "=" of a parameter; empty when it has none.
[[nodiscard]] std::string valueAfterEquals(const std::string& parameter);

// The decimal integer at the start of text, read as atoi does (leading white
// space, an optional sign, digits up to the first other character; 0 when
// there are no digits). Values beyond the int range saturate.
[[nodiscard]] int leadingInteger(const std::string& text);

struct DecodedQuery {
  std::string keywordText;  // value of the first parameter, as received
  int pageNumber = 1;       // 1-based; values below 1 read as 1
  bool spellCheck = false;  // true when anything follows the second "&"
};

[[nodiscard]] DecodedQuery decodeQuery(const std::string& queryString);

// How the readable views order their results: by relevance (their
// default), or by the plain page's counts.
enum class ResultOrder { relevance, count };

// The readable views' own parameter, read by name wherever it stands: every
// "order=..." parameter is taken out of the query string, so the rest
// decodes by position as the plain page's does (it never counts as the
// spelling request). "order=count" asks for the plain page's order; any
// other value, or none, for relevance.
struct ViewQuery {
  std::string queryString;
  ResultOrder order = ResultOrder::relevance;
};
[[nodiscard]] ViewQuery takeOrderParameter(const std::string& queryString);

// One keyword as the search uses it, from its text as received (after the
// split at "+" and the removal of a leading "-"): every "%XY" with two hex
// digits becomes the byte XY, and a "%" without them stays as it is. The
// bytes are read as UTF-8 when they are valid UTF-8 (a browser that ignored
// the form's Latin-1 charset), otherwise as Latin-1 with 0x80-0x9F as
// Windows-1252 (utf8OrLatin1Characters); the keyword is those characters,
// in UTF-8. Every keyword passes through here, so word rules shared with
// the indexer can be applied at this one place.
[[nodiscard]] std::string decodeKeyword(const std::string& received);

// True when the index takes two terms for one word: equal once their
// Latin-1 capitals are lower-cased (toLowerLatin1), as the index's
// case-insensitive collation compares them.
[[nodiscard]] bool sameTerm(std::string first, std::string second);

// The keywords of a keyword text split at "+": a piece that begins with "-"
// is excluded (stored without that one "-"), every other piece, the empty
// one included, is a search word. Each stored word is decodeKeyword of its
// piece, UTF-8. A trailing "+" yields nothing.
//
// The terms are what the index is searched for: each keyword through the
// indexer's word rules (wordsOf: accents folded, punctuation separating,
// one-letter words dropped), so a keyword may give several terms of its sign
// (l'%E9t%E9 gives ete) or none. Each list holds a term once (sameTerm; the
// first in query order is kept), so a repeated word is searched as one. The
// keywords themselves, as typed, are what the page shows and the spelling
// checker reads.
struct KeywordLists {
  std::vector<std::string> searchWords;    // at most maxWords, query order
  std::vector<std::string> excludedWords;  // at most maxWords, query order
  std::vector<std::string> searchTerms;    // at most maxWords, query order
  std::vector<std::string> excludedTerms;  // at most maxWords, query order
  // The phrases: search words typed between double quotes ("event loop"),
  // each as the terms of its words in their order; a phrase of one term is
  // none. Their terms are search terms too.
  std::vector<std::vector<std::string>> phrases;
};
[[nodiscard]] KeywordLists splitKeywords(std::string keywordText);

// True when the words of a Latin-1 text (wordsOf, without regard to letter
// case) hold the phrase's terms one after the other.
[[nodiscard]] bool holdsPhrase(const std::string& latin1Text,
                               const std::vector<std::string>& phrase);

// Every keyword as typed: the search words, then the excluded ones (without
// their "-"), in query order.
[[nodiscard]] std::vector<std::string> allKeywords(const KeywordLists& lists);

}  // namespace theme_search
