// Excerpts: the words of a display text with their places, the text's
// main pieces (less the navigation taken out and the title's repeats), the
// window where the query's words stand thickest, and its marks.
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
  // The index of the first equal word of the list, or -1.
  int word;
};

// The words of a text from a given place on, one at a time, by the rules
// of wordsOf(), each with the index of the word of a list it equals. Refers
// to the text and the list, which must outlive it.
class WordSpans {
 public:
  WordSpans(std::string_view text, const std::vector<std::string>& listWords, std::size_t from)
      : text(text), listWords(listWords), classes(byteClasses()), at(from) {
    for (const std::string& word : listWords) {
      if (word.empty() || word.size() > kLongestWord) continue;
      longestListWord = std::max(longestListWord, word.size());
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
      // Only a word that begins like a listed word is folded for comparing.
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
      return WordSpan{begin, at, candidate ? listIndex(length) : -1};
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
    if (length + entry.foldedLength <= longestListWord)
      std::copy_n(entry.folded, entry.foldedLength, folded.begin() + length);
    length += entry.foldedLength;
  }

  int listIndex(std::size_t length) const {
    if (length > longestListWord) return -1;
    const std::string_view word(folded.data(), length);
    for (std::size_t i = 0; i < listWords.size(); ++i)
      if (listWords[i] == word) return static_cast<int>(i);
    return -1;
  }

  std::string_view text;
  const std::vector<std::string>& listWords;
  const std::array<ByteClass, 256>& classes;
  std::size_t at;
  std::size_t longestListWord = 0;
  std::array<bool, 256> firstLetters{};
  std::array<char, kLongestWord> folded{};
};

struct Range {
  std::size_t begin;
  std::size_t end;
};

bool endsSentence(char byte) {
  return byte == '.' || byte == '!' || byte == '?';
}

// Whether a sentence begins at `at`: after ". ", "! " or "? ".
bool beginsSentence(std::string_view text, std::size_t at) {
  return at >= 2 && text[at - 1] == ' ' && endsSentence(text[at - 2]);
}

bool isLowerCaseLetter(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 0xDF && byte != 0xF7);
}

// The pieces of the text between its kStretchBreak marks, blanks trimmed,
// empty ones left out.
std::vector<Range> piecesBetweenBreaks(std::string_view text) {
  std::vector<Range> pieces;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find(kStretchBreak, at);
    if (end == std::string_view::npos) end = text.size();
    std::size_t begin = at, stop = end;
    while (begin < stop && text[begin] == ' ') ++begin;
    while (stop > begin && text[stop - 1] == ' ') --stop;
    if (stop > begin) pieces.push_back({begin, stop});
    at = end + 1;
  }
  return pieces;
}

// A word of the text that is a query word (query >= 0) or a title word
// (title >= 0: its index among the title's distinct words), with its rank
// among all the text's words.
struct ListedWord {
  Range place;
  int query;
  int title;
  std::size_t rank;
};

// What cutExcerpt reads of a text: the listed words in text order, and the
// title's words as indexes into the distinct title words.
struct TextReading {
  std::vector<ListedWord> words;
  std::vector<int> titleSequence;
  bool titleCut = false;
};

TextReading readText(std::string_view text, const std::vector<std::string>& queryWords,
                     std::string_view title) {
  TextReading reading;
  reading.titleCut = title.size() >= kEllipsis.size() &&
                     title.substr(title.size() - kEllipsis.size()) == kEllipsis;
  if (reading.titleCut) title.remove_suffix(kEllipsis.size());
  // The list compared: the query's words, then the title's distinct words.
  std::vector<std::string> list = queryWords;
  for (std::string word : wordsOf(title)) {
    for (char& c : word) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const auto found = std::find(list.begin() + queryWords.size(), list.end(), word);
    reading.titleSequence.push_back(static_cast<int>(found - list.begin() - queryWords.size()));
    if (found == list.end()) list.push_back(word);
  }
  std::vector<int> titleIndex(list.size(), -1);  // list index -> distinct title word
  for (std::size_t i = queryWords.size(); i < list.size(); ++i) {
    titleIndex[i] = static_cast<int>(i - queryWords.size());
    // A title word that is also a query word is found as the query word.
    const auto first = std::find(list.begin(), list.begin() + queryWords.size(), list[i]);
    if (first != list.begin() + queryWords.size()) titleIndex[first - list.begin()] = titleIndex[i];
  }
  WordSpans spans(text, list, 0);
  for (std::size_t rank = 0; const auto word = spans.next(); ++rank) {
    if (word->word < 0) continue;
    const auto index = static_cast<std::size_t>(word->word);
    const int query = index < queryWords.size() ? word->word : -1;
    reading.words.push_back({{word->begin, word->end}, query, titleIndex[index], rank});
  }
  return reading;
}

// The places where the title's words stand alone in the text (see
// cutExcerpt), in text order.
std::vector<Range> titleRepeats(std::string_view text, const TextReading& reading) {
  std::vector<Range> repeats;
  const std::vector<int>& sequence = reading.titleSequence;
  const std::vector<ListedWord>& words = reading.words;
  if (sequence.empty()) return repeats;
  for (std::size_t i = 0; i + sequence.size() <= words.size(); ++i) {
    std::size_t n = 0;
    while (n < sequence.size() && words[i + n].title == sequence[n] &&
           words[i + n].rank == words[i].rank + n)
      ++n;
    if (n < sequence.size()) continue;
    // The repeat holds what its words' blank-separated pieces hold: the
    // "L'" of "L'hivernage", the ":" after a heading.
    Range place{words[i].place.begin, words[i + n - 1].place.end};
    while (place.begin > 0 && text[place.begin - 1] != ' ' &&
           text[place.begin - 1] != kStretchBreak)
      --place.begin;
    while (place.end < text.size() && text[place.end] != ' ' && text[place.end] != kStretchBreak)
      ++place.end;
    std::size_t before = place.begin;
    while (before > 0 && text[before - 1] == ' ') --before;
    std::size_t after = place.end;
    while (after < text.size() && text[after] == ' ') ++after;
    if (reading.titleCut) {
      if (before == 0) repeats.push_back(place);
      break;
    }
    const bool startsAlone = before == 0 || text[before - 1] == kStretchBreak ||
                             endsSentence(text[before - 1]) || text[before - 1] == ':';
    const bool endsAlone =
        after == text.size() || !isLowerCaseLetter(static_cast<unsigned char>(text[after]));
    if (startsAlone && endsAlone) {
      repeats.push_back(place);
      i += n - 1;
    }
  }
  return repeats;
}

// The main pieces: the pieces between breaks less the title's repeats.
std::vector<Range> mainPieces(std::string_view text, const std::vector<Range>& repeats) {
  std::vector<Range> pieces;
  std::size_t next = 0;
  for (Range piece : piecesBetweenBreaks(text)) {
    for (; next < repeats.size() && repeats[next].begin < piece.end; ++next) {
      if (repeats[next].begin > piece.begin) pieces.push_back({piece.begin, repeats[next].begin});
      piece.begin = std::max(piece.begin, repeats[next].end);
    }
    pieces.push_back(piece);
  }
  // Trim the blanks and punctuation a cut leaves; drop what holds no letter.
  std::vector<Range> kept;
  for (Range piece : pieces) {
    while (piece.begin < piece.end &&
           (text[piece.begin] == ' ' || text[piece.begin] == '-' || text[piece.begin] == ':'))
      ++piece.begin;
    while (piece.end > piece.begin && text[piece.end - 1] == ' ') --piece.end;
    bool hasLetter = false;
    for (std::size_t i = piece.begin; i < piece.end && !hasLetter; ++i)
      hasLetter = byteClasses()[static_cast<unsigned char>(text[i])].kind == ByteClass::kLetter;
    if (hasLetter) kept.push_back(piece);
  }
  return kept;
}

// The query words of the text inside `piece`, in text order, read from
// `next` on; `next` is left at the first word past the piece, so pieces read
// in text order read each word once.
std::vector<ListedWord> matchesIn(const TextReading& reading, Range piece, std::size_t& next) {
  std::vector<ListedWord> matches;
  const std::vector<ListedWord>& words = reading.words;
  for (; next < words.size() && words[next].place.begin < piece.end; ++next)
    if (words[next].query >= 0 && words[next].place.begin >= piece.begin &&
        words[next].place.end <= piece.end)
      matches.push_back(words[next]);
  return matches;
}

// How good a window is: distinct query words, then matching words.
struct Score {
  std::size_t distinct = 0;
  std::size_t total = 0;
  bool operator>(const Score& other) const {
    return distinct != other.distinct ? distinct > other.distinct : total > other.total;
  }
};

// The window of at most `length` bytes within `piece`: from a little before
// `first` (at a sentence's start when one is that close, else after a
// blank), or from the piece's start; ending at a blank, or at a sentence's
// end past its middle, never before the first match's end.
Range windowAround(std::string_view text, Range piece, std::optional<Range> first,
                   std::size_t length) {
  const std::size_t mustShowFrom = first ? first->begin : piece.begin;
  const std::size_t mustShowTo = first ? first->end : piece.begin;
  const std::size_t lead = length / 4;
  std::size_t begin = mustShowFrom > piece.begin + lead ? mustShowFrom - lead : piece.begin;
  std::size_t end = std::min(piece.end, begin + length);
  if (end == piece.end) begin = end > piece.begin + length ? end - length : piece.begin;
  begin = std::min(begin, mustShowFrom);
  // Begin at a sentence's start when one is that close.
  std::size_t sentence = begin;
  while (begin > piece.begin && sentence < mustShowFrom && !beginsSentence(text, sentence))
    ++sentence;
  if (begin > piece.begin && sentence < mustShowFrom) {
    begin = sentence;
  } else if (begin > piece.begin && text[begin - 1] != ' ') {
    // Begin after a blank, unless there is none before the first match.
    const std::size_t blank = text.find(' ', begin);
    if (blank < mustShowFrom) begin = blank + 1;
  }
  end = std::min(piece.end, begin + length);
  if (end < piece.end && text[end] != ' ') {
    // End at a blank, unless there is none after the first match.
    const std::size_t floor = std::max(mustShowTo, begin + 1);
    const std::size_t blank = text.rfind(' ', end);
    if (blank != std::string_view::npos && blank >= floor) end = blank;
  }
  end = std::max(end, mustShowTo);
  // End with a sentence rather than in the next one, when that keeps half
  // of the window.
  if (!endsSentence(text[end - 1])) {
    const std::size_t floor = std::max(mustShowTo, begin + (end - begin) / 2);
    for (std::size_t at = end; at > floor; --at) {
      if (endsSentence(text[at - 1]) && (at == piece.end || text[at] == ' ')) {
        end = at;
        break;
      }
    }
  }
  return {begin, end};
}

// The window of `piece` holding the most of the query (see cutExcerpt), with
// its score; nullopt when the piece holds no query word.
std::optional<std::pair<Range, Score>> bestWindow(std::string_view text, Range piece,
                                                  const std::vector<ListedWord>& matches,
                                                  std::size_t queryCount, std::size_t length) {
  if (matches.empty()) return std::nullopt;
  std::vector<std::size_t> counts(queryCount, 0);
  Score score, best;
  std::size_t bestFirst = 0, end = 0;
  const std::size_t reach = length - length / 4;  // what follows the first match
  for (std::size_t first = 0; first < matches.size(); ++first) {
    for (; end < matches.size() && matches[end].place.end <= matches[first].place.begin + reach;
         ++end) {
      if (counts[static_cast<std::size_t>(matches[end].query)]++ == 0) ++score.distinct;
      ++score.total;
    }
    if (end <= first) {  // a first match longer than the window
      end = first + 1;
      if (counts[static_cast<std::size_t>(matches[first].query)]++ == 0) ++score.distinct;
      ++score.total;
    }
    if (score > best) {
      best = score;
      bestFirst = first;
    }
    if (--counts[static_cast<std::size_t>(matches[first].query)] == 0) --score.distinct;
    --score.total;
  }
  return std::make_pair(windowAround(text, piece, matches[bestFirst].place, length), best);
}

}  // namespace

Excerpt cutExcerpt(std::string_view displayText, const std::vector<std::string>& queryWords,
                   std::size_t length, std::string_view title) {
  if (displayText.empty()) return {};
  const TextReading reading = readText(displayText, queryWords, title);
  std::vector<Range> pieces = mainPieces(displayText, titleRepeats(displayText, reading));
  if (pieces.empty()) pieces = piecesBetweenBreaks(displayText);
  if (pieces.empty()) return {};
  Range piece = pieces.front();
  std::optional<Range> window;
  Score best;
  std::size_t next = 0;
  for (const Range& candidate : pieces) {
    const auto found = bestWindow(displayText, candidate, matchesIn(reading, candidate, next),
                                  queryWords.size(), length);
    if (found && (!window || found->second > best)) {
      piece = candidate;
      window = found->first;
      best = found->second;
    }
  }
  if (!window) window = windowAround(displayText, piece, std::nullopt, length);

  Excerpt excerpt;
  if (window->begin > piece.begin && !beginsSentence(displayText, window->begin))
    excerpt.text = kEllipsis;
  const std::size_t shift = excerpt.text.size();
  excerpt.text += displayText.substr(window->begin, window->end - window->begin);
  if (window->end < piece.end && !endsSentence(displayText[window->end - 1]))
    excerpt.text += kEllipsis;
  for (const ListedWord& word : reading.words)
    if (word.query >= 0 && word.place.begin >= window->begin && word.place.end <= window->end)
      excerpt.marks.push_back(
          {shift + word.place.begin - window->begin, word.place.end - word.place.begin});
  return excerpt;
}

}  // namespace theme_search
