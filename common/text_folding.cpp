// Folding tables (Latin-1 letters, Windows-1252, characters beyond Latin-1)
// and the word rules built on them.
#include "common/text_folding.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace theme_search {

namespace {

// The base letters of the Latin-1 bytes 0xC0-0xFF; empty for the two signs.
constexpr std::array<std::string_view, 64> foldedLatin1 = {
    "A", "A", "A", "A", "A", "A", "AE", "C", "E", "E", "E", "E", "I", "I", "I",  "I",
    "D", "N", "O", "O", "O", "O", "O",  "",  "O", "U", "U", "U", "U", "Y", "TH", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i",  "i",
    "d", "n", "o", "o", "o", "o", "o",  "",  "o", "u", "u", "u", "u", "y", "th", "y",
};

// The characters of the Windows-1252 bytes 0x80-0x9F; 0 where undefined.
constexpr std::array<char32_t, 32> windows1252 = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The base letters of Latin Extended-A, U+0100-U+017F.
constexpr std::array<std::string_view, 128> foldedLatinExtendedA = {
    "A", "a", "A",  "a",  "A", "a", "C", "c", "C", "c", "C", "c", "C", "c", "D", "d",  // 0100
    "D", "d", "E",  "e",  "E", "e", "E", "e", "E", "e", "E", "e", "G", "g", "G", "g",  // 0110
    "G", "g", "G",  "g",  "H", "h", "H", "h", "I", "i", "I", "i", "I", "i", "I", "i",  // 0120
    "I", "i", "IJ", "ij", "J", "j", "K", "k", "k", "L", "l", "L", "l", "L", "l", "L",  // 0130
    "l", "L", "l",  "N",  "n", "N", "n", "N", "n", "n", "N", "n", "O", "o", "O", "o",  // 0140
    "O", "o", "OE", "oe", "R", "r", "R", "r", "R", "r", "S", "s", "S", "s", "S", "s",  // 0150
    "S", "s", "T",  "t",  "T", "t", "T", "t", "U", "u", "U", "u", "U", "u", "U", "u",  // 0160
    "U", "u", "U",  "u",  "W", "w", "Y", "y", "Y", "Z", "z", "Z", "z", "Z", "z", "s",  // 0170
};

struct Transliteration {
  char32_t character;
  std::string_view text;
};

// Other characters beyond Latin-1, in code point order: the rest of the
// Windows-1252 repertoire, the Romanian comma letters, spaces and dashes.
constexpr Transliteration otherCharacters[] = {
    {0x0192, "f"},   {0x0218, "S"},  {0x0219, "s"},   {0x021A, "T"},    {0x021B, "t"},
    {0x02C6, "^"},   {0x02DC, "~"},  {0x2000, " "},   {0x2001, " "},    {0x2002, " "},
    {0x2003, " "},   {0x2004, " "},  {0x2005, " "},   {0x2006, " "},    {0x2007, " "},
    {0x2008, " "},   {0x2009, " "},  {0x200A, " "},   {0x2010, "-"},    {0x2011, "-"},
    {0x2012, "-"},   {0x2013, "-"},  {0x2014, "-"},   {0x2015, "-"},    {0x2018, "'"},
    {0x2019, "'"},   {0x201A, "'"},  {0x201B, "'"},   {0x201C, "\""},   {0x201D, "\""},
    {0x201E, "\""},  {0x201F, "\""}, {0x2020, "+"},   {0x2021, "++"},   {0x2022, "*"},
    {0x2026, "..."}, {0x2030, "%o"}, {0x2032, "'"},   {0x2033, "\""},   {0x2039, "<"},
    {0x203A, ">"},   {0x2044, "/"},  {0x20AC, "EUR"}, {0x2122, "(TM)"}, {0x2212, "-"},
};

bool isAsciiLetter(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

bool isDigit(unsigned char byte) {
  return byte >= '0' && byte <= '9';
}

bool isWhitespace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

struct Utf8Character {
  char32_t character;
  std::size_t length;  // 0 when no valid sequence begins here
};

// The character of the UTF-8 sequence at `text[at]`: no overlong forms, no
// surrogates, nothing beyond U+10FFFF.
Utf8Character decodeUtf8(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  char32_t character = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, character = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, character = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, character = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 0};
  }
  if (text.size() - at < length) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[at + i]);
    if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return {0, 0};
    character = (character << 6) | (byte & 0x3F);
  }
  return {character, length};
}

// One character a byte: Latin-1, with 0x80-0x9F read as Windows-1252
// where it defines them.
std::u32string latin1Characters(std::string_view bytes) {
  std::u32string characters;
  characters.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t windows = windows1252Character(byte);
    characters += windows != 0 ? windows : char32_t{byte};
  }
  return characters;
}

}  // namespace

bool isLatin1Letter(unsigned char byte) {
  return isAsciiLetter(byte) || (byte >= 0xC0 && byte != 0xD7 && byte != 0xF7);
}

std::string_view foldLatin1Letter(unsigned char byte) {
  static constexpr std::string_view asciiLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  if (byte >= 'A' && byte <= 'Z') return asciiLetters.substr(byte - 'A', 1);
  if (byte >= 'a' && byte <= 'z') return asciiLetters.substr(26 + byte - 'a', 1);
  if (byte >= 0xC0) return foldedLatin1[byte - 0xC0];
  return {};
}

char32_t windows1252Character(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? windows1252[byte - 0x80] : 0;
}

std::optional<std::string_view> transliterate(char32_t character) {
  if (character >= 0x100 && character <= 0x17F) return foldedLatinExtendedA[character - 0x100];
  const auto* found = std::lower_bound(
      std::begin(otherCharacters), std::end(otherCharacters), character,
      [](const Transliteration& entry, char32_t wanted) { return entry.character < wanted; });
  if (found == std::end(otherCharacters) || found->character != character) return std::nullopt;
  return found->text;
}

std::string foldText(std::string_view latin1) {
  std::string folded;
  folded.reserve(latin1.size());
  for (char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0xC0 && isLatin1Letter(byte)) {
      folded += foldLatin1Letter(byte);
    } else if (byte >= 0x80 && byte <= 0x9F) {
      folded += transliterate(windows1252Character(byte)).value_or(" ");
    } else {
      folded += c;
    }
  }
  return folded;
}

std::string foldUtf8Text(std::string_view utf8) {
  std::string folded;
  folded.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const Utf8Character decoded = decodeUtf8(utf8, at);
    if (decoded.length == 0) {
      folded += foldText(utf8.substr(at, 1));
      ++at;
      continue;
    }
    at += decoded.length;
    const char32_t character = decoded.character;
    if (character >= 0x100) {
      folded += transliterate(character).value_or(" ");
    } else if (character <= 0x9F) {
      folded += ' ';  // U+0080-U+009F are control characters
    } else {
      folded += foldText(std::string(1, static_cast<char>(character)));
    }
  }
  return folded;
}

std::string utf8ToLatin1(std::string_view utf8) {
  std::string latin1;
  latin1.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const Utf8Character decoded = decodeUtf8(utf8, at);
    char32_t character = decoded.character;
    if (decoded.length == 0) {
      // A stray byte: Latin-1, or Windows-1252 in the C1 range.
      const auto byte = static_cast<unsigned char>(utf8[at]);
      character = byte;
      if (byte >= 0x80 && byte <= 0x9F) {
        // An undefined Windows-1252 byte stays in the C1 range: a blank.
        if (const char32_t windows = windows1252Character(byte)) character = windows;
      }
      ++at;
    } else {
      at += decoded.length;
    }
    if (character >= 0x100) {
      latin1 += transliterate(character).value_or(" ");
    } else if (character >= 0x80 && character <= 0x9F) {
      latin1 += ' ';  // U+0080-U+009F are control characters
    } else {
      latin1 += static_cast<char>(character);
    }
  }
  return latin1;
}

std::u32string utf8OrLatin1Characters(std::string_view bytes) {
  std::u32string characters;
  characters.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    const Utf8Character decoded = byte < 0x80 ? Utf8Character{byte, 1} : decodeUtf8(bytes, at);
    if (decoded.length == 0) return latin1Characters(bytes);
    characters += decoded.character;
    at += decoded.length;
  }
  return characters;
}

void appendUtf8(std::string& utf8, char32_t character) {
  if (character < 0x80) {
    utf8 += static_cast<char>(character);
    return;
  }
  // The lead byte's marker and the number of continuation bytes.
  const auto [lead, continuations] = character < 0x800     ? std::pair{0xC0, 1}
                                     : character < 0x10000 ? std::pair{0xE0, 2}
                                                           : std::pair{0xF0, 3};
  utf8 += static_cast<char>(lead | (character >> (6 * continuations)));
  for (int shift = 6 * (continuations - 1); shift >= 0; shift -= 6)
    utf8 += static_cast<char>(0x80 | ((character >> shift) & 0x3F));
}

std::vector<std::string> wordsOf(std::string_view latin1Text) {
  std::string joined;
  {
    WordAssembler words(joined);
    words.addText(latin1Text);
    words.endWord();
  }
  std::vector<std::string> result;
  std::string::size_type begin = 0;
  while (begin < joined.size()) {
    std::string::size_type end = joined.find(' ', begin);
    if (end == std::string::npos) end = joined.size();
    result.emplace_back(joined, begin, end - begin);
    begin = end + 1;
  }
  return result;
}

void WordAssembler::addText(std::string_view latin1) {
  for (char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (isAsciiLetter(byte)) {
      addLetters(std::string_view(&c, 1));
    } else if (isDigit(byte)) {
      addDigit(c);
    } else if (byte >= 0xC0 && isLatin1Letter(byte)) {
      addLetters(foldedLatin1[byte - 0xC0]);
    } else if (byte >= 0x80 && byte <= 0x9F) {
      addCharacter(windows1252Character(byte));
    } else {
      endWord();
    }
  }
}

void WordAssembler::addCharacter(char32_t character) {
  if (character < 0x100) {
    const auto byte = static_cast<unsigned char>(character);
    if (isLatin1Letter(byte)) {
      addLetters(foldLatin1Letter(byte));
    } else if (byte >= 0x80 && byte <= 0x9F && windows1252Character(byte) != 0) {
      addCharacter(windows1252Character(byte));
    } else {
      endWord();
    }
    return;
  }
  if (const auto text = transliterate(character)) {
    addTransliteration(*text);
  } else {
    endWord();
  }
}

void WordAssembler::endWord() {
  if (letterCount > 1 || (letterCount == 1 && hasDigits)) {
    if (!output.empty() && !isWhitespace(output.back())) output += ' ';
    output += word;
  }
  word.clear();
  letterCount = 0;
  hasDigits = false;
}

void WordAssembler::addLetters(std::string_view folded) {
  if (hasDigits) endWord();  // letters after digits begin the next word
  word += folded;
  letterCount += static_cast<unsigned>(folded.size());
}

void WordAssembler::addDigit(char digit) {
  // Digits belong to the word they follow; digits that follow no letter are
  // no word and only separate.
  if (letterCount == 0) return;
  word += digit;
  hasDigits = true;
}

void WordAssembler::addTransliteration(std::string_view text) {
  std::string_view::size_type begin = 0;
  while (begin < text.size()) {
    std::string_view::size_type end = begin;
    while (end < text.size() && isAsciiLetter(static_cast<unsigned char>(text[end]))) ++end;
    if (end > begin) {
      addLetters(text.substr(begin, end - begin));
      begin = end;
    } else {
      endWord();
      ++begin;
    }
  }
}

}  // namespace theme_search
