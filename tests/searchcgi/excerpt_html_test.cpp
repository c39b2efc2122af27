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
