#include "common/text_folding.h"

#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

using Words = std::vector<std::string>;

std::string byteName(unsigned byte) {
  return "byte " + std::to_string(byte);
}

TEST(TextFolding, FoldsEachLatin1LetterToOneOrTwoBaseLetters) {
  struct Case {
    unsigned char byte;
    std::string_view folded;
  } cases[] = {
      {0xE9, "e"},  {0xC9, "E"},  {0xE7, "c"}, {0xC7, "C"},  {0xF1, "n"},  {0xE0, "a"},
      {0xFC, "u"},  {0xCE, "I"},  {0xF4, "o"}, {0xE6, "ae"}, {0xC6, "AE"}, {0xDF, "ss"},
      {0xFE, "th"}, {0xDE, "TH"}, {0xF0, "d"}, {0xD0, "D"},  {0xF8, "o"},  {0xD8, "O"},
      {0xFF, "y"},  {0xFD, "y"},  {0xDD, "Y"}, {'q', "q"},   {'Q', "Q"},
  };
  for (const Case& c : cases) EXPECT_EQ(foldLatin1Letter(c.byte), c.folded) << byteName(c.byte);

  int letters = 0;
  for (unsigned byte = 0; byte < 256; ++byte) {
    const std::string_view folded = foldLatin1Letter(static_cast<unsigned char>(byte));
    if (!isLatin1Letter(static_cast<unsigned char>(byte))) {
      EXPECT_EQ(folded, "") << byteName(byte);
      continue;
    }
    ++letters;
    ASSERT_TRUE(folded.size() == 1 || folded.size() == 2) << byteName(byte);
    for (char c : folded) EXPECT_TRUE(isalpha(static_cast<unsigned char>(c))) << byteName(byte);
  }
  // A-Z, a-z and 192-255 but the multiplication and division signs.
  EXPECT_EQ(letters, 52 + 62);
  EXPECT_FALSE(isLatin1Letter(0xD7));
  EXPECT_FALSE(isLatin1Letter(0xF7));
  EXPECT_FALSE(isLatin1Letter(0xAA));  // feminine ordinal: a sign, not a letter
}

TEST(TextFolding, TransliteratesWindows1252AndCharactersBeyondLatin1) {
  struct Case {
    char32_t character;
    std::string_view text;
  } cases[] = {
      {0x0153, "oe"}, {0x0152, "OE"}, {0x0161, "s"}, {0x0160, "S"},    {0x017E, "z"},
      {0x017D, "Z"},  {0x0178, "Y"},  {0x2019, "'"}, {0x2018, "'"},    {0x201C, "\""},
      {0x201D, "\""}, {0x2013, "-"},  {0x2014, "-"}, {0x2026, "..."},  {0x20AC, "EUR"},
      {0x0142, "l"},  {0x0151, "o"},  {0x010D, "c"}, {0x011F, "g"},    {0x0133, "ij"},
      {0x0100, "A"},  {0x017F, "s"},  {0x0219, "s"}, {0x2122, "(TM)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(transliterate(c.character), std::optional<std::string_view>(c.text))
        << "U+" << std::hex << static_cast<unsigned>(c.character);

  // Unmapped characters, and Latin-1 ones, which are no business of the table.
  for (char32_t character : {0x03B1u, 0x4E2Du, 0x1F41Du, 0xFFFDu, 0x110000u, 0xE9u, 0x41u})
    EXPECT_EQ(transliterate(character), std::nullopt) << "U+" << std::hex << character;

  // Windows-1252 defines 27 of the 32 bytes, each with a transliteration.
  int defined = 0;
  for (unsigned byte = 0x80; byte <= 0x9F; ++byte) {
    const char32_t character = windows1252Character(static_cast<unsigned char>(byte));
    if (character == 0) continue;
    ++defined;
    EXPECT_TRUE(transliterate(character).has_value()) << byteName(byte);
  }
  EXPECT_EQ(defined, 27);
  EXPECT_EQ(windows1252Character(0x9C), 0x0153u);
  EXPECT_EQ(windows1252Character(0x80), 0x20ACu);
  EXPECT_EQ(windows1252Character(0x81), 0u);
  EXPECT_EQ(windows1252Character(0xE9), 0u);
}

TEST(TextFolding, FoldTextChangesOnlyLettersAndWindows1252Bytes) {
  struct Case {
    std::string text, folded;
  } cases[] = {
      {"r\xe9"
       "colte d'\xe9t\xe9",
       "recolte d'ete"},
      {"\xc6sop, \xdf, \xfe\xf0, \xd8", "AEsop, ss, thd, O"},
      {"c\x9cur \x80 l\x92"
       "eau \x85 \x96 \x81!",
       "coeur EUR l'eau ... -  !"},
      {"1 \xd7 2 \xf7 3 \xa0\xa9\xbf <&;>\t\n", "1 \xd7 2 \xf7 3 \xa0\xa9\xbf <&;>\t\n"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(foldText(c.text), c.folded) << "text: " << c.text;
}

TEST(TextFolding, FoldUtf8TextFoldsEachCharacterAndReadsStrayBytesAsLatin1) {
  struct Case {
    std::string utf8, folded;
  } cases[] = {
      {"la r\xc3\xa9"
       "colte \xc3\x89t\xc3\xa9 \xc3\xa6",
       "la recolte Ete ae"},
      {"l\xe2\x80\x99"
       "abeille c\xc5\x93ur \xe2\x82\xac \xe2\x80\x94",
       "l'abeille coeur EUR -"},
      // Unmapped characters (CJK, a bee) and C1 controls are blanks.
      {"a\xe4\xb8\xad"
       "b\xf0\x9f\x90\x9d"
       "c\xc2\x85"
       "d",
       "a b c d"},
      // Latin-1 signs come out as their Latin-1 byte.
      {"\xc2\xab x \xc2\xbb\xc2\xa0\xc3\x97", "\xab x \xbb\xa0\xd7"},
      // Bytes that begin no valid sequence (a Latin-1 letter, a Windows-1252
      // quote, a cut sequence, overlong forms, a surrogate) are Latin-1.
      {"caf\xe9 \x92 \xc3", "cafe ' A"},
      {"\xc0\xaf \xe0\x80\xaf \xed\xa0\x80",
       "A\xaf aEUR\xaf i\xa0"
       "EUR"},
      {"\xf4\x90\x80\x80", "o EUREUR"},
  };
  for (const Case& c : cases) EXPECT_EQ(foldUtf8Text(c.utf8), c.folded) << "text: " << c.utf8;
}

TEST(WordsOf, CutsLettersThenDigitsAndDropsOneLetterWords) {
  struct Case {
    std::string text;
    Words words;
  } cases[] = {
      {"la r\xe9"
       "colte du miel",
       {"la", "recolte", "du", "miel"}},
      {"l'\xe9t\xe9", {"ete"}},
      {"\xc9t\xc9 caf\xe9", {"EtE", "cafe"}},
      {"mp3 3com 2004 abc123def", {"mp3", "com", "abc123", "def"}},
      {"a b c1 d", {"c1"}},
      {"\xe6 \xdf \xff \xe9", {"ae", "ss"}},
      {"c\x9cur l\x92"
       "abeille \x80",
       {"coeur", "abeille", "EUR"}},
      {"AT&T is great; ok", {"AT", "is", "great", "ok"}},
      {"miel\xa0"
       "cire miel\xd7"
       "cire miel\x81"
       "cire",
       {"miel", "cire", "miel", "cire", "miel", "cire"}},
      {"  \t\n", {}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(wordsOf(c.text), c.words) << "text: " << c.text;
}

TEST(WordAssembler, JoinsPiecesIntoOneWordUntilSomethingSeparates) {
  std::string out = "title";
  WordAssembler words(out);
  words.addText("r");
  words.addCharacter(0xE9);  // an entity inside the word
  words.addText("colte");
  words.addCharacter(0x2019);  // a right quote separates
  words.addText("c");
  words.addCharacter(0x0153);  // oe joins
  words.addText("ur ");
  words.addCharacter('x');
  words.addCharacter('2');  // a digit given as a character separates
  words.addText("3 ab");
  words.addCharacter(0x4E2D);  // unmapped: a blank
  words.addText("cd12");
  words.endWord();
  words.endWord();
  EXPECT_EQ(out, "title recolte coeur ab cd12");
}

TEST(TextFolding, ConvertsUtf8ToLatin1KeepingAccents) {
  struct Case {
    std::string utf8;
    std::string latin1;
  } cases[] = {
      {"R\xc3\xa9"
       "colte d\xe2\x80\x99\xc3\xa9t\xc3\xa9 \xc3\x80 \xc3\xbf \xc3\x9f",
       "R\xe9"
       "colte d'\xe9t\xe9 \xc0 \xff \xdf"},
      {"c\xc5\x93ur \xe2\x80\x9cx\xe2\x80\x9d \xe2\x82\xac \xe2\x80\xa6 \xc5\xa0",
       "coeur \"x\" EUR ... S"},
      // Unmapped characters and C1 controls are blanks.
      {"a\xe4\xb8\xad"
       "b\xf0\x9f\x90\x9d"
       "c\xc2\x85"
       "d\xc2\xa0"
       "e",
       "a b c d\xa0"
       "e"},
      // Invalid UTF-8: stray bytes read as Latin-1, or Windows-1252 in the
      // C1 range; overlong forms, surrogates, truncated sequences too.
      {"caf\xe9 l\x92"
       "eau \x81 \xc0\xaf \xed\xa0\x80 \xe2\x82",
       "caf\xe9 l'eau   \xc0\xaf \xed\xa0"
       "EUR \xe2'"},
      {"\xf4\x90\x80\x80 \xc3", "\xf4 EUREUR \xc3"},
      {std::string("nul\0byte\ttab", 12), std::string("nul\0byte\ttab", 12)},
  };
  for (const Case& c : cases) {
    const std::string latin1 = utf8ToLatin1(c.utf8);
    EXPECT_EQ(latin1, c.latin1) << "utf8: " << c.utf8;
    for (char byte : latin1) {
      const auto b = static_cast<unsigned char>(byte);
      EXPECT_FALSE(b >= 0x80 && b <= 0x9F) << "C1 byte " << unsigned(b) << " from " << c.utf8;
    }
    // Folded, it gives what foldUtf8Text gives.
    EXPECT_EQ(foldText(latin1), foldUtf8Text(c.utf8)) << "utf8: " << c.utf8;
  }
}

}  // namespace
