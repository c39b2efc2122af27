// Excerpts: the words of a display text with their places, the window
// around the first query word, and its marks.
#include "common/excerpt.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "common/text_folding.h"

namespace theme_search {

namespace {

constexpr std::string_view kEllipsis = "...";

// What a byte is to the word rules, with the folded lower-case letters it
// adds to a word.
struct ByteClass {
  enum Kind : unsigned char { kSeparator, kLetter, kDigit } kind = kSeparator;
  unsigned char foldedLength = 0;
  char folded[3] = {};
};

std::array<ByteClass, 256> buildByteClasses() {
  std::array<ByteClass, 256> classes{};
  for (unsigned value = 0; value < 256; ++value) {
    const auto byte = static_cast<unsigned char>(value);
    ByteClass& entry = classes[value];
    if (byte >= '0' && byte <= '9') {
      entry.kind = ByteClass::kDigit;
      entry.foldedLength = 1;
      entry.folded[0] = static_cast<char>(byte);
      continue;
    }
    std::string_view letters = foldLatin1Letter(byte);
    if (byte >= 0x80 && byte <= 0x9F) {
      // A Windows-1252 byte is a letter only when it stands for letters.
      letters = transliterate(windows1252Character(byte)).value_or("");
      for (char c : letters)
        if (!isLatin1Letter(static_cast<unsigned char>(c))) letters = {};
    }
    if (letters.empty() || letters.size() > sizeof entry.folded) continue;
    entry.kind = ByteClass::kLetter;
    entry.foldedLength = static_cast<unsigned char>(letters.size());
    for (std::size_t i = 0; i < letters.size(); ++i)
      entry.folded[i] = static_cast<char>(tolower(static_cast<unsigned char>(letters[i])));
  }
  return classes;
}

const std::array<ByteClass, 256>& byteClasses() {
  static const std::array<ByteClass, 256> classes = buildByteClasses();
  return classes;
}

struct WordSpan {
  std::size_t begin;
  std::size_t end;
  bool matches;
};

// The words of a text from a given place on, one at a time, by the rules
// of wordsOf(), each with whether it is a query word. Refers to the text
// and the query words, which must outlive it.
class WordSpans {
 public:
  WordSpans(std::string_view text, const std::vector<std::string>& queryWords, std::size_t from)
      : text(text), queryWords(queryWords), classes(byteClasses()), at(from) {
    for (const std::string& word : queryWords) {
      if (word.empty() || word.size() > kLongestWord) continue;
      longestQueryWord = std::max(longestQueryWord, word.size());
      firstLetters[static_cast<unsigned char>(word[0])] = true;
    }
  }

  // The next word, or nullopt at the end of the text.
  std::optional<WordSpan> next() {
    while (at < text.size()) {
      const ByteClass& first = classOf(at);
      if (first.kind != ByteClass::kLetter) {
        ++at;  // a separator, or a digit that follows no letter
        continue;
      }
      const std::size_t begin = at;
      // Only a word that begins like a query word is folded for comparing.
      const bool candidate = firstLetters[static_cast<unsigned char>(first.folded[0])];
      std::size_t length = 0;
      for (; at < text.size() && classOf(at).kind == ByteClass::kLetter; ++at)
        if (candidate)
          addFolded(length);
        else
          length += classOf(at).foldedLength;
      const std::size_t letterCount = length;
      for (; at < text.size() && classOf(at).kind == ByteClass::kDigit; ++at)
        if (candidate)
          addFolded(length);
        else
          ++length;
      if (letterCount == 1 && length == 1) continue;  // a lone letter is no word
      return WordSpan{begin, at, candidate && isQueryWord(length)};
    }
    return std::nullopt;
  }

 private:
  // The longest word compared; the index keeps no longer keyword.
  static constexpr std::size_t kLongestWord = 255;

  const ByteClass& classOf(std::size_t i) const {
    return classes[static_cast<unsigned char>(text[i])];
  }

  void addFolded(std::size_t& length) {
    const ByteClass& entry = classOf(at);
    if (length + entry.foldedLength <= longestQueryWord)
      std::copy_n(entry.folded, entry.foldedLength, folded.begin() + length);
    length += entry.foldedLength;
  }

  bool isQueryWord(std::size_t length) const {
    if (length > longestQueryWord) return false;
    const std::string_view word(folded.data(), length);
    for (const std::string& queryWord : queryWords)
      if (queryWord == word) return true;
    return false;
  }

  std::string_view text;
  const std::vector<std::string>& queryWords;
  const std::array<ByteClass, 256>& classes;
  std::size_t at;
  std::size_t longestQueryWord = 0;
  std::array<bool, 256> firstLetters{};
  std::array<char, kLongestWord> folded{};
};

struct Window {
  std::size_t begin;
  std::size_t end;
};

// The window of at most `length` bytes: from a little before the first
// match (at its blank), or from the start; ending at a blank, never before
// the first match's end.
Window windowAround(std::string_view text, std::optional<WordSpan> firstMatch, std::size_t length) {
  const std::size_t mustShowFrom = firstMatch ? firstMatch->begin : 0;
  const std::size_t mustShowTo = firstMatch ? firstMatch->end : 0;
  const std::size_t lead = length / 4;
  std::size_t begin = mustShowFrom > lead ? mustShowFrom - lead : 0;
  std::size_t end = std::min(text.size(), begin + length);
  if (end == text.size()) begin = end > length ? end - length : 0;
  begin = std::min(begin, mustShowFrom);
  // Begin after a blank, unless there is none before the first match.
  if (begin > 0 && text[begin - 1] != ' ') {
    const std::size_t blank = text.find(' ', begin);
    if (blank < mustShowFrom) begin = blank + 1;
  }
  // End at a blank, unless there is none after the first match.
  if (end < text.size() && text[end] != ' ') {
    const std::size_t floor = std::max(mustShowTo, begin + 1);
    const std::size_t blank = text.rfind(' ', end);
    if (blank != std::string_view::npos && blank >= floor) end = blank;
  }
  end = std::max(end, mustShowTo);
  return {begin, end};
}

}  // namespace

Excerpt cutExcerpt(std::string_view displayText, const std::vector<std::string>& queryWords,
                   std::size_t length) {
  std::optional<WordSpan> firstMatch;
  WordSpans search(displayText, queryWords, 0);
  while (const auto word = search.next()) {
    if (word->matches) {
      firstMatch = word;
      break;
    }
  }
  const Window window = windowAround(displayText, firstMatch, length);

  Excerpt excerpt;
  if (window.begin > 0) excerpt.text = kEllipsis;
  const std::size_t shift = excerpt.text.size();
  excerpt.text += displayText.substr(window.begin, window.end - window.begin);
  if (window.end < displayText.size()) excerpt.text += kEllipsis;

  // Words never cross a blank: read them from the start of the piece of
  // text the window begins in, so a word cut by the window is not taken.
  const std::size_t blank = displayText.rfind(' ', window.begin);
  const std::size_t from = window.begin == 0 || blank == std::string_view::npos ? 0 : blank + 1;
  WordSpans marks(displayText, queryWords, std::min(from, window.begin));
  while (const auto word = marks.next()) {
    if (word->begin >= window.end) break;
    if (word->matches && word->begin >= window.begin && word->end <= window.end)
      excerpt.marks.push_back({shift + word->begin - window.begin, word->end - word->begin});
  }
  return excerpt;
}

}  // namespace theme_search
