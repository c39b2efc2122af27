// Excerpts: the words of a display text with their places, the window
// around the first query word, and its marks.
#include "common/excerpt.h"

#include <algorithm>
#include <optional>

#include "common/text_folding.h"

namespace theme_search {

namespace {

constexpr std::string_view kEllipsis = "...";

// The folded lower-case letters a byte adds to a word: empty for a byte
// that is not a letter.
std::string_view foldedLetters(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F) {
    const auto text = transliterate(windows1252Character(byte));
    if (!text || text->empty()) return {};
    for (char c : *text)
      if (!isLatin1Letter(static_cast<unsigned char>(c))) return {};
    return *text;
  }
  return foldLatin1Letter(byte);
}

bool isDigit(char byte) {
  return byte >= '0' && byte <= '9';
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
      : text(text), queryWords(queryWords), at(from) {}

  // The next word, or nullopt at the end of the text.
  std::optional<WordSpan> next() {
    while (at < text.size()) {
      const std::size_t begin = at;
      folded.clear();
      while (at < text.size()) {
        const std::string_view letters = foldedLetters(static_cast<unsigned char>(text[at]));
        if (letters.empty()) break;
        folded += letters;
        ++at;
      }
      if (folded.empty()) {
        ++at;  // a separator, or a digit that follows no letter
        continue;
      }
      const std::size_t letterCount = folded.size();
      while (at < text.size() && isDigit(text[at])) folded += text[at++];
      if (letterCount == 1 && folded.size() == 1) continue;  // a lone letter is no word
      return WordSpan{begin, at, isQueryWord()};
    }
    return std::nullopt;
  }

 private:
  bool isQueryWord() {
    for (char& c : folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return std::find(queryWords.begin(), queryWords.end(), folded) != queryWords.end();
  }

  std::string_view text;
  const std::vector<std::string>& queryWords;
  std::size_t at;
  std::string folded;
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
