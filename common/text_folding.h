#pragma once

// Folding of Latin-1 text to the unaccented words the index holds, shared by
// the programs that write the index and the ones that query it: the same
// text must give the same words on both sides. Pure functions of strings;
// no dependency on the crawler.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace theme_search {

// True for the letters of Latin-1: A-Z, a-z and the bytes 192-255 except
// 215 (multiplication sign) and 247 (division sign).
[[nodiscard]] bool isLatin1Letter(unsigned char byte);

// The base letters of a Latin-1 letter: "e" for e-acute, "C" for C-cedilla,
// "ae" for ae, "ss" for sharp s, "TH" for Thorn, "O" for O-slash. An ASCII
// letter stands for itself. Empty for a byte that is not a letter.
[[nodiscard]] std::string_view foldLatin1Letter(unsigned char byte);

// The character a Windows-1252 byte 0x80-0x9F stands for (0x80 is the euro
// sign U+20AC, 0x92 the right single quote U+2019, 0x9C oe U+0153). 0 for
// the five bytes Windows-1252 leaves undefined and for any other byte.
[[nodiscard]] char32_t windows1252Character(unsigned char byte);

// The Latin-1 text that stands for a character beyond Latin-1 (above
// U+00FF): "oe" for oe, "S" for S-caron, "'" for the curly single quotes,
// "\"" for the double ones, "-" for the dashes, "..." for the ellipsis,
// "EUR" for the euro sign, the base letter for the Latin Extended-A letters.
// nullopt for a character the table does not map (and for Latin-1 ones).
[[nodiscard]] std::optional<std::string_view> transliterate(char32_t character);

// `latin1` with every accented letter folded to its base letters and every
// Windows-1252 byte 0x80-0x9F replaced by its transliteration (a blank when
// it has none); every other byte is kept.
[[nodiscard]] std::string foldText(std::string_view latin1);

// foldText for a UTF-8 text, such as the PDF and PostScript converter
// prints: the result is Latin-1, each Latin-1 letter folded, each character
// beyond Latin-1 transliterated (a blank when it has none), the C1 controls
// U+0080-U+009F blanks. A byte that begins no valid UTF-8 sequence is read
// as a Latin-1 (or Windows-1252) byte, as foldText reads it.
[[nodiscard]] std::string foldUtf8Text(std::string_view utf8);

// A UTF-8 text, such as the PDF and PostScript converter prints, as Latin-1
// with its accents kept: a character of Latin-1 as its byte, a character
// beyond Latin-1 transliterated (a blank when it has none), the C1 controls
// U+0080-U+009F blanks. A byte that begins no valid UTF-8 sequence is read as
// a Latin-1 byte, or for 0x80-0x9F as a Windows-1252 one (transliterated, a
// blank when undefined). The result holds no byte 0x80-0x9F.
[[nodiscard]] std::string utf8ToLatin1(std::string_view utf8);

// The characters of bytes that may be UTF-8 or Latin-1, as a query's word
// arrives from a browser that may or may not have kept the form's Latin-1:
// the UTF-8 characters when the bytes are valid UTF-8 as a whole (as
// foldUtf8Text decodes them), otherwise one character a byte, Latin-1, with
// 0x80-0x9F read as Windows-1252 where it defines them (what browsers send
// for a Latin-1 form); an undefined one stays U+0080-U+009F.
[[nodiscard]] std::u32string utf8OrLatin1Characters(std::string_view bytes);

// Appends the UTF-8 sequence of a character (at most U+10FFFF).
void appendUtf8(std::string& utf8, char32_t character);

// The words the index keeps from a plain Latin-1 text, in text order and in
// their case (the indexer lower-cases A-Z): a word is a run of letters, each
// folded to its base letters, followed by optional digits ("mp3"); a word
// whose folded letters are a single letter with no digit ("l" of "l'ete",
// "a") is dropped; every other byte separates words. The HTML scanner cuts its text with the same
// rules.
[[nodiscard]] std::vector<std::string> wordsOf(std::string_view latin1Text);

// Cuts text fed in pieces into words by the rules of wordsOf(): a piece may
// end inside a word ("r", an entity for e-acute, "colte" make "recolte").
// Each finished word is appended to the output string, after one space when
// the output does not already end in white space.
//
// One assembler per text, used by one thread; the output string must
// outlive it. Not copyable (it refers to its output).
class WordAssembler {
 public:
  explicit WordAssembler(std::string& output) : output(output) {}
  WordAssembler(const WordAssembler&) = delete;
  WordAssembler& operator=(const WordAssembler&) = delete;

  // Adds Latin-1 text: letters and digits extend the current word, a
  // Windows-1252 byte 0x80-0x9F counts as its character (addCharacter), any
  // other byte ends the word.
  void addText(std::string_view latin1);
  // Adds one character by its code point: a letter of Latin-1 extends the
  // current word; 0x80-0x9F are read as Windows-1252; a character beyond
  // Latin-1 adds its transliteration (its letters extend the word, its other
  // bytes end it; a blank when it has none); anything else, a digit
  // included, ends the word.
  void addCharacter(char32_t character);
  // Ends the current word: it is written out unless it is a single letter.
  void endWord();

 private:
  void addLetters(std::string_view folded);
  void addDigit(char digit);
  void addTransliteration(std::string_view text);

  std::string& output;
  std::string word;
  // Letters of the current word once folded: ae counts two.
  unsigned letterCount = 0;
  bool hasDigits = false;
};

}  // namespace theme_search
