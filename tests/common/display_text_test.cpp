#include "common/display_text.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

TEST(DisplayText, KeepsPrintableLatin1AndCollapsesEverythingElseToSingleBlanks) {
  struct Case {
    std::string latin1;
    std::string display;
  } cases[] = {
      {"L'\xe9t\xe9 2004 : 12,5 kg (100 %) ! \xa9\xbf\xff",
       "L'\xe9t\xe9 2004 : 12,5 kg (100 %) ! \xa9\xbf\xff"},
      {" \t\r\n\v\f a  b\n\nc \xa0\xa0 d \x7f e ", "a b c d e"},
      {std::string("a\0b\x01\x1f"
                   "c",
                   6),
       "a b c"},
      // Windows-1252 bytes as their characters; undefined ones blank.
      {"l\x92\x9cuf \x93x\x94 10\x80 a\x96"
       "b \x85 \x8a \x81\x8d\x8f\x90\x9d|",
       "l'oeuf \"x\" 10EUR a-b ... S |"},
      {"", ""},
      {" \n\t ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(displayTextOf(c.latin1), c.display) << "text: " << c.latin1;
}

TEST(DisplayText, AddsDecodedCharactersAndBlanksBetweenPieces) {
  DisplayTextBuilder builder;
  builder.addBlank();
  builder.addText("caf");
  builder.addCharacter(0xE9);
  builder.addBlank();
  builder.addBlank();
  builder.addCharacter(0x2019);  // right single quote
  builder.addCharacter(0x153);   // oe
  builder.addCharacter(0x96);    // Windows-1252 en dash
  builder.addCharacter(0x4E2D);  // not in the table: a blank
  builder.addCharacter(0xA0);
  builder.addCharacter('\n');
  builder.addCharacter(0x110000);
  builder.addCharacter('!');
  builder.addCharacter(0x2003);  // em space
  builder.addText("fin ");
  builder.addBlank();
  EXPECT_EQ(builder.str(), "caf\xe9 'oe- ! fin");
}

}  // namespace
