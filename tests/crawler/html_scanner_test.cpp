#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crawler/analysis/html_scanner.h"

namespace {

using namespace theme_search;

using Links = std::vector<std::string>;

struct Case {
  std::string html;
  std::string text;
  Links links;
};

void expectScan(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    HtmlScanner scanner(c.html);
    EXPECT_EQ(scanner.getPageText(), c.text) << "html: " << c.html;
    EXPECT_EQ(scanner.getLinkTargets(), c.links) << "html: " << c.html;
  }
}

TEST(HtmlScanner, KeepsWordsAndBlanksOutOneLetterWordsDigitsAndPunctuation) {
  expectScan({
      {"<head><title>Hello, World &amp; caf&eacute;</title></head>", "Hello, World a cafe", {}},
      {"<body>Hello<br>World foo,bar x y z 2004 mp3 3com</body>",
       "HelloWorld foo bar y      mp3  com",
       {}},
      {"a b c d", "a c d", {}},
      {"AT&T is great; ok", "AT  ok", {}},
      {"caf\xe9 \xe9l\xe8ve", "caf   ve", {}},
      {"Caf&Eacute; &#201;t&#xE9;", "Cafe et ", {}},
      {"&#233;t&#1;&#0233;&#x", "et    x", {}},
      {"tab\tline\r\nend  two\n\nthree", "tab line  end two three", {}},
  });
}

TEST(HtmlScanner, CopiesTitleNearlyVerbatimAndJoinsItToTheText) {
  expectScan({
      {"x<title>Foo</title>Bar", "xFooBar", {}},
      {"<title>A<b>B</b></title>C", "A<b>B</b>C", {}},
      {"<TITLE>T1\nline2&#180;&uuml;&#220;</Title>", "T1 line2au&#220;", {}},
      {"<title>R&eacute;sum&#233; &lt;1&gt; &#169;</title>", "Resume &lt;1&gt; &#169;", {}},
      // An entity without its semicolon runs on to the next one, past the
      // end of the title; the rest is still copied as title text.
      {"<title>Rock &amp Roll</title><p>x; y</p>", "Rock a y</p>", {}},
      {"Rock &amp Roll<b>x</b>; y", "Rock a y", {}},
  });
}

TEST(HtmlScanner, TakesHrefValuesOfAnchorTagsOnly) {
  expectScan({
      {"<abbr title=\"WHO\" href=\"z.html\">WHO</abbr>", "WHO", {"z.html"}},
      {"<a href=\"a.html\" href=\"b.html\">x</a>", "x", {"a.html", "b.html"}},
      {"<a href=\"page.html\">Lien</a> <A HREF=\"Up.html\">Up</A> <a  href=\"two.html\">x</a>",
       "Lien Up x",
       {"page.html", "Up.html", "two.html"}},
      // The line feed makes "<a" plus itself a one-letter word.
      {"<a\nhref=\"nl.html\">nl</a>", " href  nl html  nl", {}},
      // The closing quote of an empty value is read as text and the value
      // then runs to the next double quote.
      {"<a href=\"\">empty</a> tail \"quoted\" text", " ", {">empty</a> tail "}},
      {"<a href='q.html' href = \"s.html\" title=\"t\">", "", {}},
      {"<a title=\"&amp; x\" href=\"http://h/x?a=1&amp;b=2\">go</a>",
       "go",
       {"http://h/x?a=1&amp;b=2"}},
      {"<img src=\"pic.gif\" alt=\"x\">after<IMG SRC=\"a.png\">", "after", {}},
  });
}

TEST(HtmlScanner, CopiesMetaAttributesAndScansDescriptionAndKeywords) {
  expectScan({
      {"<meta name=\"keywords\" content=\"moteur, recherche, caf&eacute;\">",
       " moteur, recherche, cafe",
       {}},
      {"<meta name=\"robots\" content=\"all\">", " name=\"robots\" content=\"all\"", {}},
      {"<META NAME=\"Description\"\tcontent=\"Un &Ocirc;tre, x y 12\">Z", " Un otre, y 12Z", {}},
      // With no value after the name the scanner stays in the keywords
      // until the next double quote, copying the following tags.
      {"<meta content=\"x\" name=\"keywords\"><p>Hi<br>there</p>",
       " content=\"x\" > Hi<br>there< ",
       {}},
  });
}

TEST(HtmlScanner, SkipsScriptsStylesAppletsCommentsAndUnclosedConstructs) {
  expectScan({
      {"<script>if (a < b) x();</script>after", "after", {}},
      {"<style>p { color: red }</style>one<applet code=\"A\">param</applet>two", "onetwo", {}},
      {"<!-- a > b -->c", "    c", {}},
      {"<!DOCTYPE html><html>text", "text", {}},
      {"words<script>never closed", "words", {}},
      {"<a href=\"open", "", {"open"}},
  });
}

TEST(HtmlScanner, StopsAtTheFirstNulByte) {
  expectScan({
      {std::string("one\0two <a href=\"x\">", 20), "one", {}},
      {std::string("\0abc", 4), "", {}},
  });
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file) << "cannot open " << path;
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

TEST(HtmlScanner, ScansARealPage) {
  const std::string dir = SOURCE_DIR "/tests/crawler/fixtures/";
  HtmlScanner scanner(readFile(dir + "page.html"));
  EXPECT_EQ(scanner.getPageText(), readFile(dir + "page.text"));
  std::string links;
  for (const std::string& link : scanner.getLinkTargets()) links += link + "\n";
  EXPECT_EQ(links, readFile(dir + "page.links"));
}

}  // namespace
