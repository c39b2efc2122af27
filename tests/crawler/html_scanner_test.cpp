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

TEST(HtmlScanner, CutsWordsAsAReaderSeesThem) {
  expectScan({
      // Accented letters, raw Latin-1 or entities, fold to their base letter.
      {"la r\xe9"
       "colte du miel",
       "la recolte du miel",
       {}},
      {"la r&eacute;colte du miel", "la recolte du miel", {}},
      {"r&#233;colte r&#xE9;colte R&#XC9;COLTE r&#00233;colte",
       "recolte recolte RECOLTE recolte",
       {}},
      {"\xe9t\xe9, caf\xe9 \xc9T\xc9", "ete cafe ETE", {}},
      {"Caf&Eacute; &#201;t&#xE9; gar&ccedil;on ma&ntilde;ana na&iuml;ve",
       "CafE Ete garcon manana naive",
       {}},
      {"\xe6 \xc6on \xdf stra\xdf"
       "e \xfe\xf0 \xd0\xd8 \xf8l \xff",
       "ae AEon ss strasse thd DO ol",
       {}},
      {"&aelig;on &AElig;on &szlig; &thorn;&eth;&THORN; &yuml;", "aeon AEon ss thdTH", {}},
      // Characters beyond Latin-1 (entities or Windows-1252 bytes) through
      // the transliteration table; unmapped ones are blanks.
      {"c&oelig;ur &OElig;uvre c\x9cur \x8cuvre &Scaron;kod&#x0101;",
       "coeur OEuvre coeur OEuvre Skoda",
       {}},
      {"l&rsquo;abeille l\x92"
       "eau &ldquo;miel&rdquo;",
       "abeille eau miel",
       {}},
      {"miel&ndash;cire miel\x97"
       "cire fin&hellip;suite",
       "miel cire miel cire fin suite",
       {}},
      {"10&euro; 10\x80 prix&#8364;", "EUR EUR prixEUR", {}},
      {"ab&#x4E2D;cd ab&#945;cd ab\x81"
       "cd ab&#1114112;cd",
       "ab cd ab cd ab cd ab cd",
       {}},
      // Other entities, known or not, separate words.
      {"miel&amp;cire miel&nbsp;cire miel&copy;cire miel&#50;cire miel&foo;cire",
       "miel cire miel cire miel cire miel cire miel cire",
       {}},
      // A '&' that begins no entity is punctuation: it swallows nothing.
      {"Fish & chips.\n<p>Three</p><p>paragraphs</p><p>later</p> x;",
       "Fish chips Three paragraphs later",
       {}},
      {"AT&T is great; ok", "AT is great ok", {}},
      {"&eacute &#233 &#x; &#;&", "eacute", {}},
      // An entity name has at most 32 characters.
      {"&abcdefghijklmnopqrstuvwxyz012345;x &abcdefghijklmnopqrstuvwxyz0123456;yz",
       "abcdefghijklmnopqrstuvwxyz0123456 yz",
       {}},
      // Letters then optional digits; a lone letter is dropped and takes
      // nothing with it.
      {"mp3 3com 2004 abc123def a1", "mp3 com abc123 def a1", {}},
      {"a b c d l'\xe9t\xe9 x <b>bold</b> y<br>z", "ete bold", {}},
      {"<p>A</p>B<p>C</p> &agrave; \xe0", "", {}},
      // Block and other tags separate words; inline tags join them.
      {"<li>abeilles</li><li>miel</li>", "abeilles miel", {}},
      {"ruche<br>cadre <td>miel</td><td>cire</td>", "ruche cadre miel cire", {}},
      {"a1<div>b2</div>c3<h2>d4</h2>e5<TABLE>f6<hr/>g7<section>h8</section>i9",
       "a1 b2 c3 d4 e5 f6 g7 h8 i9",
       {}},
      {"<b>W</b>ord <i>it</i>al<em>iq</em>ue <SPAN class=x>ab</SPAN>cd<font size=2>ef</font>",
       "Word italique abcdef",
       {}},
      {"ab<code>cd</code><sub>ef</sub><abbr title=\"t\">gh</abbr><u>ij</u>", "abcdefghij", {}},
      {"mi<unknown>el mi<!-- x -->el mi<img src=\"x.gif\">el mi<img>el",
       "mi el mi el mi el mi el",
       {}},
      {"ab<script>x</script>cd ef<style>p{}</style>gh ij<SCRIPT>S;</SCRIPT>kl",
       "ab cd ef gh ij kl",
       {}},
      // The title is text of its own, separated from the words around it.
      {"<title>Le rucher</title>...<body>abeilles", "Le rucher abeilles", {}},
      {"ab<title></title>cd", "ab cd", {}},
      {"tab\tline\r\nend  two\n\nthree", "tab line end two three", {}},
  });
}

TEST(HtmlScanner, CopiesTitleNearlyVerbatimWithEntitiesDecoded) {
  expectScan({
      {"x<title>Foo</title>Bar", "Foo Bar", {}},
      {"<head><title>Hello, World &amp; caf&eacute;</title></head>", "Hello, World & cafe", {}},
      {"<title>A<b>B</b></title>C", "A<b>B</b>", {}},
      {"<TITLE lang=\"fr\">T1\nline2&#180;&uuml;&#220;\xe9t\xe9</Title>", "T1 line2\xb4uUete", {}},
      {"<title>&lt;1&gt; &#169; &quot;x&nbsp;y\xa0z&#9;&foo; "
       "\x9c&oelig;&#x153;\x81&#x4E2D;</title>",
       "<1> \xa9 \"x y z &foo; oeoeoe  ",
       {}},
      // An entity without its semicolon is plain text, in the title too.
      {"<title>Rock &amp Roll</title><p>x; yy</p>", "Rock &amp Roll yy", {}},
      // Each title is a text of its own.
      {"ab<title>T</title><title>U</title>cd", "ab T U cd", {}},
  });
}

TEST(HtmlScanner, TakesHrefValuesOfAnchorTagsOnly) {
  expectScan({
      {"<abbr title=\"WHO\" href=\"z.html\">WHO</abbr>", "WHO", {}},
      {"<a href=\"a.html\" href=\"b.html\">x</a>", "", {"a.html", "b.html"}},
      {"<a href=\"page.html\">Lien</a> <A HREF=\"Up.html\">Up</A> <a  href=\"two.html\">xx</a>",
       "Lien Up xx",
       {"page.html", "Up.html", "two.html"}},
      // After any white space, in double, single or no quotes.
      {"<a\nhref=\"nl.html\">nl</a>", "nl", {"nl.html"}},
      {"<a\thref='q.html' href = \"s.html\" title=\"t\" HREF=bare.html>go</a>",
       "go",
       {"q.html", "s.html", "bare.html"}},
      {"<a href=x.html>x</a> <a href=y.html\n>y</a>", "", {"x.html", "y.html"}},
      // An empty value adds nothing and does not run on.
      {"<a href=\"\">empty</a> tail \"quoted\" text", "empty tail quoted text", {}},
      // An href inside another attribute's value is not one.
      {"<a title=\"see href=no.html\" data-href=\"no2.html\" href=\"yes.html\">go</a>",
       "go",
       {"yes.html"}},
      {"<a title=\"&amp; x\" href=\"http://h/x?a=1&amp;b=2\">go</a>",
       "go",
       {"http://h/x?a=1&amp;b=2"}},
      {"<img src=\"pic.gif\" alt=\"x\">after<IMG SRC=\"a.png\">", "after", {}},
      {"<img src=\"a>b.gif\">text <img src=\"\">more", "text more", {}},
  });
}

TEST(HtmlScanner, CopiesOnlyTheContentOfDescriptionAndKeywordsMetas) {
  expectScan({
      {"<meta name=\"keywords\" content=\"moteur, recherche, caf&eacute;\">",
       "moteur, recherche, cafe",
       {}},
      {"<meta name=\"robots\" content=\"all\">", "", {}},
      {"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">",
       "",
       {}},
      {"<META NAME=\"Description\"\tcontent=\"Un &Ocirc;tre, x y 12\">Zz",
       "Un Otre, x y 12 Zz",
       {}},
      // The content may come first; the name may be in single or no quotes.
      {"<meta content=\"r\xe9"
       "colte\" name=\"keywords\"><p>Hi<br>there</p>",
       "recolte Hi there",
       {}},
      {"<meta name='description' content='miel d&rsquo;acacia'>", "miel d'acacia", {}},
      {"<meta name=keywords content=\"ruche\"/>ab", "ruche ab", {}},
      {"<meta name=\"keywordsx\" content=\"no\"><meta content=\"no\" name=\"rob\">", "", {}},
      // Each meta tag stands alone.
      {"<meta name=\"keywords\" content=\"one\"><meta content=\"two\">", "one", {}},
  });
}

TEST(HtmlScanner, SkipsScriptsStylesAppletsCommentsAndUnclosedConstructs) {
  expectScan({
      {"<script>if (a < b) x();</script>after", "after", {}},
      {"<style>p { color: red }</style>one<applet code=\"A\">param</applet>two", "one two", {}},
      {"<!-- aa > bb -->cc", "bb cc", {}},
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

// The scanner cuts plain text exactly as wordsOf() does, so the words a
// query is cut into are the words pages are indexed under.
TEST(HtmlScanner, CutsPlainTextLikeWordsOf) {
  const std::string texts[] = {
      "la r\xe9"
      "colte du miel, l'\xe9t\xe9 2004 mp3 3com x y",
      "c\x9cur \x80 \x85 \x81 \xd7 \xf7 \xa0 \xe6 \xdf abc123def a1 b",
      "AT&T is great; ok",
  };
  for (const std::string& text : texts) {
    std::string joined;
    for (const std::string& word : wordsOf(text)) joined += (joined.empty() ? "" : " ") + word;
    EXPECT_EQ(HtmlScanner(text).getPageText(), joined) << "text: " << text;
  }
}

struct DisplayCase {
  std::string html;
  std::string displayText;
  std::string title;
};

void expectDisplay(const std::vector<DisplayCase>& cases) {
  for (const DisplayCase& c : cases) {
    HtmlScanner scanner(c.html);
    EXPECT_EQ(scanner.getDisplayText(), c.displayText) << "html: " << c.html;
    EXPECT_EQ(scanner.getTitle(), c.title) << "html: " << c.html;
  }
}

TEST(HtmlScanner, KeepsTheBodyTextAsAReaderSeesIt) {
  expectDisplay({
      // Accents, digits and punctuation stay; entities are decoded.
      {"<p>La r\xe9"
       "colte 2004 : 12,5 kg (mp3) !</p>",
       "La r\xe9"
       "colte 2004 : 12,5 kg (mp3) !",
       ""},
      {"r&eacute;colte &Eacute;t&#233; &#xE9;t&#XC9; &aelig; &szlig; &#160;x&nbsp;y",
       "r\xe9"
       "colte \xc9t\xe9 \xe9t\xc9 \xe6 \xdf x y",
       ""},
      {"&lt;b&gt; &amp; &quot;q&quot; &apos;a&apos; &copy; &#169; &deg;",
       "<b> & \"q\" 'a' \xa9 \xa9 \xb0", ""},
      // Beyond Latin-1 through the transliteration table; Windows-1252
      // bytes as their characters; unmapped characters and controls blank.
      {"l&rsquo;\x9cuf l\x92\x9cuf &ldquo;x&rdquo; 10&euro; a&ndash;b &hellip; &oelig;",
       "l'oeuf l'oeuf \"x\" 10EUR a-b ... oe", ""},
      {"a&#x4E2D;b c&#1114112;d e&#0;f g&#1;h i\x81j k\x01l m&#150;n",
       "a b c d e f g h i j k l m-n", ""},
      // Unknown names and a bare '&' are shown as written.
      {"AT&T &foo; Fish & chips &eacute &#x;", "AT&T &foo; Fish & chips &eacute &#x;", ""},
      // White space collapses to single blanks, none at either end.
      {"  \t one\r\n\n two \xa0\xa0 three\f ", "one two three", ""},
      // Inline tags join, other tags and skipped content give a blank.
      {"<b>W</b>ord <i>it</i>al<a href=\"x\">ique</a>", "Word italique", ""},
      {"<ul><li>un</li><li>deux</li></ul>trois<br>quatre<p>cinq</p>", "un deux trois quatre cinq",
       ""},
      {"ab<script>x < y</script>cd<style>p{}</style>ef<applet>z</applet>gh<img src=\"a>b\">ij",
       "ab cd ef gh ij", ""},
      // Neither the title nor the metas are body text.
      {"<head><title>T</title><meta name=\"description\" content=\"d\"></head><body>B</body>", "B",
       "T"},
      {std::string("one\0two", 7), "one", ""},
      {"", "", ""},
  });
}

TEST(HtmlScanner, KeepsTheFirstNonEmptyTitleAsAReaderSeesIt) {
  expectDisplay({
      {"<title>Le rucher &amp; ses abeilles</title>", "", "Le rucher & ses abeilles"},
      {"<TITLE lang=fr>\n  R\xe9"
       "colte\tde l&rsquo;\xe9t\xe9 \x96 2004\n</TITLE>x",
       "x",
       "R\xe9"
       "colte de l'\xe9t\xe9 - 2004"},
      {"<title>&lt;b&gt; A<b>B</b> &foo; &#9; \x01 &#x4E2D;!</title>", "", "<b> A<b>B</b> &foo; !"},
      // Empty or blank titles are no title; later titles are ignored.
      {"<title> \n </title><title>Second</title><title>Third</title>", "", "Second"},
      {"<title></title>body", "body", ""},
      {"<meta name=\"keywords\" content=\"no title\">body", "body", ""},
      // An unclosed title runs to the end, as for the words.
      {"<title>Open title<p>text", "", "Open title<p>text"},
  });
}

// Every word the index holds for a page can be found again in its display
// text by the same word rules. (Not for unknown entity names, which the
// display text shows as written and the words skip.)
TEST(HtmlScanner, DisplayTextHoldsTheBodyWords) {
  const std::string pages[] = {
      "<p>La r&eacute;colte d\x92\xe9t\xe9, 12 kg &amp; mp3</p><br>fin",
      "<li>a1</li><li>b</li>c<b>D</b>e &oelig;uf &#x153;uf \x9cuf",
      "x&nbsp;y &lt;tag&gt; AT&T; Fish & chips",
  };
  for (const std::string& page : pages) {
    const HtmlScanner scanner(page);
    std::string joined;
    for (const std::string& word : wordsOf(scanner.getDisplayText()))
      joined += (joined.empty() ? "" : " ") + word;
    EXPECT_EQ(joined, scanner.getPageText()) << "html: " << page;
  }
}

struct FieldCase {
  std::string html;
  std::string value;
};

// Checks one of the fields kept for ranking against each case.
void expectField(const std::string& (HtmlScanner::*field)() const,
                 const std::vector<FieldCase>& cases) {
  for (const FieldCase& c : cases)
    EXPECT_EQ((HtmlScanner(c.html).*field)(), c.value) << "html: " << c.html;
}

TEST(HtmlScanner, KeepsTheWordsOfH1ToH3HeadingsAsPageWords) {
  const std::vector<FieldCase> cases = {
      // Cut as the page text: entities, accents and Windows-1252 bytes
      // folded, inline tags joining, one-letter words dropped.
      {"<h1>La r&eacute;<b>col</b>te d\x92\xe9t\xe9 &#x153;uf a mp3 2004</h1>",
       "La recolte ete oeuf mp3"},
      {"<h1>W<em>or</em>d<a href=\"x\">s</a> ab<br>cd mi<img src=\"y\">el</h1>",
       "Words ab cd mi el"},
      // Every h1-h3 in document order, in any case, with attributes; body
      // text between them is not heading text.
      {"<h1>Un titre</h1><p>corps</p><H2 class=\"t\" id=x>Deux</H2>texte<h3\n>Trois</h3>",
       "Un titre Deux Trois"},
      {"<h4>quatre</h4><h5>cinq</h5><h6>six</h6><h2>deux</h2>", "deux"},
      {"<h12>non</h12><h1x>non</h1x><hr>non<header>non</header><h>non</h>", ""},
      // Scripts, styles, titles and metas inside add nothing; headings
      // inside them do not count.
      {"<h1>ab<script>x</script>cd<style>p{}</style>ef<title>T</title>gh"
       "<meta name=\"description\" content=\"no\">ij</h1>",
       "ab cd ef gh ij"},
      {"<script>document.write(\"<h1>non</h1>\")</script><title><h2>non</h2></title><h3>oui</h3>",
       "oui"},
      // Comments run from "<!--" to "-->", "--!>" or the end, whatever '>'
      // they hold.
      {"<!-- <div> <h1>non</h1> --><h1>oui</h1>", "oui"},
      {"<!-- x -- > <h1>non</h1> --!><h2>oui</h2><!-- > <h1>non</h1>", "oui"},
      {"<!--><h1>un</h1><!---><h1>deux</h1><!-- <!-- --><h1>trois</h1>", "un deux trois"},
      {"<h1>ab <!-- > cd <b>x</b> --> ef</h1>", "ab ef"},
      {"<h1>ab<!-- > </h1> -->cd</h1><!-- > <h2> -->non", "ab cd"},
      {"<script><!-- </script><h1>oui</h1>", "oui"},
      // A heading left open ends at the next heading tag, the start or end
      // of a block, or the end of the document.
      {"<h1>un<h2>deux</h2>trois</h1>", "un deux"},
      {"<h1>un<h4>quatre</h4>cinq</h1><h5>cinq<h1>six</h1>", "un six"},
      {"<h1>un</h3>deux<h2>trois</h6>quatre", "un trois"},
      {"<h1>Titre<p>corps du texte</p><h2>Sous</div>suite<h3>Puce<li>x</h3>", "Titre Sous Puce"},
      {"<div><h1>Titre</div>texte<table><tr><td><h2>Case</td>texte", "Titre Case"},
      {"<h2>fin du document", "fin du document"},
  };
  expectField(&HtmlScanner::getHeadingWords, cases);
}

TEST(HtmlScanner, KeepsTheWordsOfTheDescriptionMeta) {
  const std::vector<FieldCase> cases = {
      // Cut as page words, where the page text copies the content nearly
      // verbatim ("2x" from &#50;x).
      {"<meta name=\"description\" content=\"La r&eacute;colte d&rsquo;\xe9t\xe9, c\x9cur &#50;x "
       "mp3 a\">",
       "La recolte ete coeur mp3"},
      {"<meta name=\"description\" content=\"ab\ncd\xa0"
       "ef&nbsp;gh &foo;ij a<b>cd\">",
       "ab cd ef gh ij cd"},
      // Name and content in either order, either quotes, any case, any
      // white space.
      {"<meta content='Miel &amp; cire' name=DESCRIPTION>", "Miel cire"},
      {"<META\nNAME = \"Description\"\tCONTENT = \"la ruche\"/>", "la ruche"},
      {"<meta content=\"en premier\" name='description'>", "en premier"},
      // Two contents are two texts, though the page text joins them.
      {"<meta name=\"description\" content=\"ab\" content=\"cd\">", "ab cd"},
      // Descriptions only, all of them in order, outside comments.
      {"<meta name=\"keywords\" content=\"motcle\"><meta name=\"description\" content=\"un\">"
       "<meta name=\"robots\" content=\"all\"><meta content=\"deux\" name=\"description\">",
       "un deux"},
      {"<meta name=\"descriptions\" content=\"non\"><meta property=\"og:description\" "
       "content=\"non\"><meta content=\"non\"><meta name=\"x\" content=\"description\">",
       ""},
      {"<!-- > <meta name=\"description\" content=\"non\"> --><meta name=description "
       "content=\"oui\">",
       "oui"},
      // A content without quotes is not read, as for the page text.
      {"<meta name=description content=miel>", ""},
  };
  expectField(&HtmlScanner::getDescriptionWords, cases);
}

TEST(HtmlScanner, ReadsThePrimaryLanguageOfTheHtmlTag) {
  const std::vector<FieldCase> cases = {
      {"<html lang=\"fr-FR\"><body>x", "fr"},
      {"<HTML LANG='EN'>", "en"},
      {"<!DOCTYPE html>\n<html\nlang = de dir=ltr>", "de"},
      {"<html lang=\" pt_BR \">", "pt"},
      {"<html lang=\"EN-us\"/>", "en"},
      {"<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"it\">", "it"},
      {"<html lang=\"es\" xml:lang=\"ca\">", "es"},
      {"<html xml:lang=\"ca\" lang=\"es\">", "es"},
      {"<html lang=\"en\" lang=\"fr\">", "en"},
      {"<html data-lang=\"fr\" title=\"lang=de\" lang=\"nl\">", "nl"},
      // Absent or unreadable.
      {"<html>", ""},
      {"<body lang=\"fr\">x", ""},
      {"<htmlx lang=\"fr\">", ""},
      {"<html title=\"lang=fr\">", ""},
      {"<html lang=\"\" xml:lang=\"en\">", ""},
      {"<html lang=\"x-klingon\">", ""},
      {"<html lang=\"fr1\">", ""},
      {"<html lang=en/>", ""},
      {"<html lang=\"fran&ccedil;ais\">", ""},
      {"<html lang=\"abcdefghi\">", ""},
      // The first <html> tag outside comments decides.
      {"<html lang=\"de\"><html lang=\"fr\">", "de"},
      {"<html><html lang=\"fr\">", ""},
      {"<!-- > <html lang=\"fr\"> --><html lang=\"en\">", "en"},
  };
  expectField(&HtmlScanner::getLanguage, cases);
}

// The fields for ranking change nothing of what the scanner gave before
// them: these are its outputs for a page full of headings, metas, a
// language and comments.
TEST(HtmlScanner, KeepsItsOtherOutputsBesideTheRankingFields) {
  const std::string page =
      "<!DOCTYPE html>\n<html lang=\"fr-FR\"><head><title>Le rucher &amp; ses <b>abeilles</b>"
      "</title>\n<meta content=\"La r&eacute;colte d&rsquo;&eacute;t&eacute;, &#50;x\" "
      "name=\"Description\">\n<meta name='keywords' content='miel, cire'></head>\n"
      "<body><!-- ancien > <h1>Vieux titre</h1> <a href=\"old.html\">x</a> -->\n"
      "<h1 class=\"t\">Ti<b>tr</b>e &eacute;t&eacute;</h1><p>Le corps<h2>Sous-titre "
      "<a href=\"s.html\">lien</a></h2>\n<h4>Quatre</h4><h3>Ouvert<p>suite</p>"
      "<script>document.write(\"<h1>no</h1>\")</script>fin</body></html>\n";
  const HtmlScanner scanner(page);
  EXPECT_EQ(scanner.getPageText(),
            "Le rucher & ses <b>abeilles</b> La recolte d'ete, 2x miel, cire Vieux titre Titre "
            "ete Le corps Sous titre lien Quatre Ouvert suite fin");
  EXPECT_EQ(scanner.getDisplayText(),
            "Vieux titre x --> Titre \xe9t\xe9 Le corps Sous-titre lien Quatre Ouvert suite fin");
  EXPECT_EQ(scanner.getTitle(), "Le rucher & ses <b>abeilles</b>");
  EXPECT_EQ(scanner.getLinkTargets(), Links({"old.html", "s.html"}));
  EXPECT_EQ(scanner.getHeadingWords(), "Titre ete Sous titre lien Ouvert");
  EXPECT_EQ(scanner.getDescriptionWords(), "La recolte ete");
  EXPECT_EQ(scanner.getLanguage(), "fr");
}

TEST(HtmlScanner, KeepsTheContentOfRobotsMetas) {
  const std::vector<FieldCase> cases = {
      // Quoted content: its words, cut as page words.
      {"<meta name=\"robots\" content=\"NOINDEX, follow\">", "NOINDEX follow"},
      // Name and content in either order, either quotes, any case.
      {"<meta content='none' name='ROBOTS'>", "none"},
      {"<META\nCONTENT = \"NoFollow\"\tName = Robots/>", "NoFollow"},
      {"<meta name=\"robots\" content=\"no&#105;ndex\">", "noindex"},
      // Unquoted content, as written.
      {"<meta name=robots content=noindex,NOFOLLOW>", "noindex,NOFOLLOW"},
      {"<meta content=none name=robots>", "none"},
      // Every robots meta, in order; other metas are not robots metas.
      {"<meta name=\"robots\" content=\"noindex\"><meta name=\"description\" "
       "content=\"nofollow\"><meta name=\"robots\" content=\"nofollow\">",
       "noindex nofollow"},
      {"<meta name=\"googlebot\" content=\"noindex\"><meta name=\"robotsx\" "
       "content=\"noindex\"><meta name=\"x\" content=\"robots\">",
       ""},
      {"<meta name=keywords content=noindex><meta name=description content=noindex>", ""},
      // Not inside a comment.
      {"<!-- > <meta name=\"robots\" content=\"noindex\"> --><p>texte", ""},
      {"<!-- <meta name=robots content=noindex> -->", ""},
  };
  expectField(&HtmlScanner::getRobotsDirectives, cases);
}

TEST(HtmlScanner, KeepsTheFirstCanonicalLink) {
  const std::vector<FieldCase> cases = {
      {"<link rel=\"canonical\" href=\"/a.html\">", "/a.html"},
      // Attributes in any order and case, any quotes, blanks dropped.
      {"<LINK HREF='b.html?x=1&amp;y=2' REL=\"Canonical\"/>", "b.html?x=1&amp;y=2"},
      {"<link rel=\"alternate canonical\" href=\" c.html \">", "c.html"},
      {"<link\nrel=canonical\thref=d.html>", "d.html"},
      // Other links, and canonical links without a target, are not.
      {"<link rel=\"stylesheet\" href=\"s.css\"><link rel=\"canonicalx\" href=\"x\">", ""},
      {"<link rel=\"canonical\"><link href=\"e.html\"><linked rel=canonical href=f>", ""},
      {"<a rel=\"canonical\" href=\"g.html\">g</a>", ""},
      // The first one outside comments.
      {"<link rel=canonical href=one.html><link rel=canonical href=two.html>", "one.html"},
      {"<!-- <link rel=canonical href=old.html> --><link rel=canonical href=new.html>", "new.html"},
  };
  expectField(&HtmlScanner::getCanonicalLink, cases);
}

// Robots metas and canonical links change nothing of the scanner's other
// outputs: a <link> tag separates words as any tag does, and a robots
// meta's content is not page text.
TEST(HtmlScanner, KeepsItsOtherOutputsBesideRobotsMetasAndCanonicalLinks) {
  const HtmlScanner marked(
      "<html><head><title>Le titre</title><meta name=robots content=noindex>"
      "<meta content=\"nofollow\" name=\"robots\"><link rel=\"canonical\" href=\"c.html\">"
      "</head><body>mot<link rel=canonical href=d.html>autre <a href=\"x.html\">lien</a>"
      "</body></html>");
  const HtmlScanner plain(
      "<html><head><title>Le titre</title><br><br><br></head><body>mot<br>autre "
      "<a href=\"x.html\">lien</a></body></html>");
  EXPECT_EQ(marked.getPageText(), "Le titre mot autre lien");
  EXPECT_EQ(marked.getPageText(), plain.getPageText());
  EXPECT_EQ(marked.getDisplayText(), plain.getDisplayText());
  EXPECT_EQ(marked.getLinkTargets(), plain.getLinkTargets());
  EXPECT_EQ(marked.getTitle(), plain.getTitle());
  EXPECT_EQ(marked.getRobotsDirectives(), "noindex nofollow");
  EXPECT_EQ(marked.getCanonicalLink(), "c.html");
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
  EXPECT_EQ(scanner.getTitle(), "Club d'astronomie & d'observation - Accueil");
  const std::string& display = scanner.getDisplayText();
  EXPECT_NE(display.find("Bienvenue au club Accueil Agenda 2004 Le ciel du mois Plan\xe9tarium"),
            std::string::npos)
      << display;
  EXPECT_NE(display.find("Prochaine soir\xe9"
                         "e d'observation Rendez-vous le vendredi 12 mars \xe0 21h30"),
            std::string::npos)
      << display;
  EXPECT_EQ(display.find("popup"), std::string::npos) << "script text: " << display;
  EXPECT_EQ(scanner.getHeadingWords(),
            "Bienvenue au club Prochaine soiree observation Conferences");
  EXPECT_EQ(scanner.getDescriptionWords(),
            "Le club astronomie de Lyon observations conferences et ateliers");
  EXPECT_EQ(scanner.getLanguage(), "fr");
}

}  // namespace
