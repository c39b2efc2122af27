#include "crawler/fetch/charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace theme_search;

TEST(Charset, ConvertsEachCharacterSetToLatin1) {
  struct Case {
    std::string name, text, charset, latin1;
  } cases[] = {
      {"utf-8 declared", "\xC3\xA9t\xC3\xA9 \xC3\xA0 l'\xC3\xAEle", "utf-8",
       "\xE9t\xE9 \xE0 l'\xEEle"},
      {"utf-8 guessed", "\xC3\xA9t\xC3\xA9", "", "\xE9t\xE9"},
      {"name in capitals", "\xC3\xA9t\xC3\xA9", "UTF-8", "\xE9t\xE9"},
      {"beyond Latin-1: folded",
       "c\xC5\x93ur d\xE2\x80\x99"
       "abeille \xE2\x80\x94 5 \xE2\x82\xAC",
       "utf-8", "coeur d'abeille - 5 EUR"},
      {"beyond Latin-1: not folded", "\xE6\x97\xA5 x \xF0\x9F\x90\x9D", "utf-8", "  x  "},
      {"latin-1 unchanged", "\xE9t\xE9 \xA0\xFF", "iso-8859-1", "\xE9t\xE9 \xA0\xFF"},
      {"latin-1 guessed", "\xE9t\xE9", "", "\xE9t\xE9"},
      {"windows-1252 bytes",
       "c\x9C"
       "ur d\x92un \x80 \x85",
       "iso-8859-1", "coeur d'un EUR ..."},
      {"windows-1252 guessed",
       "c\x9C"
       "ur",
       "", "coeur"},
      {"undefined windows-1252 byte", "a\x81z", "windows-1252", "a z"},
      {"utf-8 with a stray latin-1 byte", "\xC3\xA9t\xE9", "utf-8", "\xE9t\xE9"},
      {"utf-8 cut at the end", "ab\xC3", "utf-8", "ab\xC3"},
      {"other charset through iconv", "\xA4 \xBD", "iso-8859-15", "EUR oe"},
      {"unknown charset: guessed", "\xC3\xA9", "x-no-such-charset", "\xE9"},
      {"ascii", "plain text", "utf-8", "plain text"},
      {"pdf text with CR LF",
       "r\xC3\xA9"
       "colte\r\nmi\xC3\xA8l\r\n",
       "",
       "r\xE9"
       "colte\r\nmi\xE8l\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(toLatin1(c.text, c.charset), c.latin1) << c.name;
}

TEST(Charset, MultiByteUtf8IsValidAndNotPlainAscii) {
  struct Case {
    std::string text;
    bool utf8;
  } cases[] = {
      {"\xC3\xA9", true},          {"a\xE2\x82\xAC", true}, {"\xF0\x9F\x90\x9D", true},
      {"ascii only", false},       {"\xE9t\xE9", false},    {"\xC3", false},
      {"\xC0\xA9", false},          // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xE2\x82", false},         {"\xC3\xA9\xFF", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isMultiByteUtf8(c.text), c.utf8) << c.text;
}

TEST(Charset, MetaTagNamesTheCharset) {
  struct Case {
    std::string html, charset;
  } cases[] = {
      {"<html><head><meta charset=\"UTF-8\"></head>", "utf-8"},
      {"<META CHARSET=utf-8>", "utf-8"},
      {"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">",
       "iso-8859-1"},
      {"<meta name=\"x\" content=\"y\"><meta charset = 'windows-1252' />", "windows-1252"},
      {"<p>charset=utf-8</p>", ""},
      {"<meta name=\"description\" content=\"charset\">", ""},
      {std::string(5000, ' ') + "<meta charset=utf-8>", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(metaCharset(c.html), c.charset) << c.html;
}

}  // namespace
