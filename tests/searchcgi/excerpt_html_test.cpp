#include "searchcgi/excerpt_html.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace theme_search;

TEST(ExcerptHtml, EscapesEveryMarkupCharacterAndControlByte) {
  struct Case {
    std::string latin1;
    std::string html;
  } cases[] = {
      {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
      {"AT&T &amp; \"q\" &#233;", "AT&amp;T &amp;amp; &quot;q&quot; &amp;#233;"},
      {"r\xe9"
       "colte \xa9\xff",
       "r\xe9"
       "colte \xa9\xff"},
      {std::string("a\0b\x01\x1f\x7f\x80\x9f\tc\nd\re", 14), "a b     \tc\nd\re"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(htmlText(c.latin1), c.html) << "text: " << c.latin1;
}

TEST(ExcerptHtml, QueryTextBeyondLatin1BecomesCharacterReferences) {
  struct Case {
    std::string utf8;
    std::string html;
  } cases[] = {
      {"\xc5\x93uf", "&#339;uf"},
      {"<b>\xe2\x82\xac & \"\xf0\x9f\x90\x9d\"", "&lt;b&gt;&#8364; &amp; &quot;&#128029;&quot;"},
      {"\xc2\x85\x01x", "  x"},  // controls, as htmlText blanks them
      // Not UTF-8: Latin-1, its 0x80-0x9F read as Windows-1252.
      {"caf\xe9 \x9cuf", "caf\xe9 &#339;uf"},
  };
  for (const Case& c : cases) EXPECT_EQ(htmlTextOfUtf8(c.utf8), c.html) << "text: " << c.utf8;
}

TEST(ExcerptHtml, WrapsMarksInBoldAndEscapesInsideAndOut) {
  struct Case {
    Excerpt excerpt;
    std::string html;
  } cases[] = {
      {{"...le miel <b>de</b> miel...", {{6, 4}, {21, 4}}},
       "...le <b>miel</b> &lt;b&gt;de&lt;/b&gt; <b>miel</b>..."},
      {{"miel", {{0, 4}}}, "<b>miel</b>"},
      {{"a\"b&c", {{1, 3}}}, "a<b>&quot;b&amp;</b>c"},
      {{"plain", {}}, "plain"},
      // Marks that overlap or leave the text are skipped.
      {{"abc def", {{0, 3}, {2, 3}, {4, 10}, {99, 1}, {4, 3}}}, "<b>abc</b> <b>def</b>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(excerptHtml(c.excerpt), c.html) << "excerpt: " << c.excerpt.text;
}

}  // namespace
