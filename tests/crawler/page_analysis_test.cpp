#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/stored_text.h"
#include "crawler/analysis/page_analysis.h"

namespace {

using namespace theme_search;

using Links = std::vector<std::string>;

class PageAnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config.siteHost = "srv.lan";
    config.sitePath = "site/";
    config.acceptedTypes = {"html", "pdf"};
    config.themeWords = {{"abeille", 1}};
  }

  EngineConfig config;
};

// The words a record gives the index, in byte order.
Links keywordsOf(const PageRecord& record) {
  Links words;
  for (const auto& entry : record.keywords) words.push_back(entry.first);
  return words;
}

// The display text a record stores, as the search reads it back.
std::string storedText(const PageRecord& record) {
  if (!record.document) return "(no document)";
  return expandStoredText(record.document->storedText).value_or("(unreadable)");
}

std::string htmlReply(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + body;
}

const std::string beePage =
    "<html><body>abeille abeille miel <a href=\"b.html\">voir</a> "
    "<a href=\"http://other.lan/x.html\">ailleurs</a></body></html>";

TEST_F(PageAnalysisTest, RedirectsAndPagesThatAreNotAnalysed) {
  struct Case {
    std::string url, reply;
    bool htmlAccepted;
    Links links;
  } cases[] = {
      // A redirect inside the site: the normalised target only.
      {"http://srv.lan/site/a.html",
       "HTTP/1.1 302 Found\r\nLocation: B.html\r\n\r\n",
       true,
       {"http://srv.lan/site/B.html"}},
      {"http://srv.lan/site/a.html",
       "HTTP/1.1 302 Found\r\nLocation: b.html#top\r\n\r\n",
       true,
       {}},
      // From outside the site: the target as the reply gave it.
      {"http://other.lan/a.html",
       "HTTP/1.1 302 Found\r\nLocation: http://srv.lan/site/\r\n\r\n",
       true,
       {"http://srv.lan/site/"}},
      // HTML outside the site, or not accepted: nothing.
      {"http://other.lan/a.html", htmlReply(beePage), true, {}},
      {"http://srv.lan/site/a.html", htmlReply(beePage), false, {}},
      // A status that is neither 200 nor 302.
      {"http://srv.lan/site/a.html", "HTTP/1.1 404 Not Found\r\n\r\n" + beePage, true, {}},
  };
  for (Case& c : cases) {
    EngineConfig pageConfig = config;
    if (!c.htmlAccepted) pageConfig.acceptedTypes = {"pdf"};
    const PageAnalysis page = analysePage(c.url, c.reply, pageConfig);
    EXPECT_EQ(page.links, c.links) << "url: " << c.url << "\nreply: " << c.reply;
    // Only the visit is recorded.
    EXPECT_EQ(page.record.documentType, "") << "url: " << c.url << "\nreply: " << c.reply;
    EXPECT_EQ(page.record.themeWordCount, 0);
    EXPECT_TRUE(page.record.keywords.empty());
    EXPECT_FALSE(page.record.document);
  }
}

TEST_F(PageAnalysisTest, HtmlPageIsIndexedAndItsLinksMadeAbsolute) {
  const PageAnalysis page = analysePage("http://srv.lan/site/a.html", htmlReply(beePage), config);
  EXPECT_EQ(page.links, (Links{"http://srv.lan/site/b.html", "http://other.lan/x.html"}));
  EXPECT_EQ(page.record.themeWordCount, 1);
  EXPECT_EQ(page.record.documentType, "html");
  EXPECT_EQ(keywordsOf(page.record), (Links{"abeille", "ailleurs", "miel", "voir"}));
  EXPECT_EQ(page.record.keywords.at("abeille"), 2u);
  // No title: the first words name the page.
  ASSERT_TRUE(page.record.document);
  EXPECT_EQ(page.record.document->title, "abeille abeille miel voir ailleurs");
  EXPECT_EQ(storedText(page.record), "abeille abeille miel voir ailleurs");

  // Off theme: its type and visit only, and still its links.
  const PageAnalysis off = analysePage("http://srv.lan/site/a.html",
                                       htmlReply("<p>miel</p><a href=c.html>c</a>"), config);
  EXPECT_EQ(off.record.documentType, "html");
  EXPECT_EQ(off.record.themeWordCount, 0);
  EXPECT_TRUE(off.record.keywords.empty());
  EXPECT_FALSE(off.record.document);
  EXPECT_EQ(off.links, Links{"http://srv.lan/site/c.html"});
}

TEST_F(PageAnalysisTest, HtmlPageKeepsItsTitleAndDisplayTextWithAccents) {
  const std::string page =
      "<html><head><title>L&rsquo;abeille &amp; l'&eacute;t&eacute;</title></head>"
      "<body><p>Une abeille, 12 fleurs&nbsp;!</p></body></html>";
  const PageRecord record =
      analysePage("http://srv.lan/site/t.html", htmlReply(page), config).record;
  EXPECT_EQ(record.themeWordCount, 1);
  ASSERT_TRUE(record.document);
  EXPECT_EQ(record.document->title, "L'abeille & l'\xe9t\xe9");
  EXPECT_EQ(storedText(record), "Une abeille, 12 fleurs !");
}

// A robots meta or X-Robots-Tag header: noindex leaves the visit only but
// keeps the links and the theme count that ranks them; nofollow drops the
// links but indexes the page; the two sources add up.
TEST_F(PageAnalysisTest, RobotsDirectivesKeepThePageOrItsLinksOut) {
  const std::string links = "abeille <a href=\"b.html\">b</a>";
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
  struct Case {
    std::string reply;
    bool indexed, followed;
  } cases[] = {
      {htmlReply("<meta name=\"robots\" content=\"NOINDEX, follow\">" + links), false, true},
      {htmlReply("<meta content='nofollow' name='Robots'>" + links), true, false},
      {htmlReply("<meta name=robots content=none>" + links), false, false},
      {ok + "X-Robots-Tag: noindex\r\n\r\n" + links, false, true},
      {ok + "X-Robots-Tag: nofollow\r\n\r\n<meta name=robots content=noindex>" + links, false,
       false},
      {htmlReply("<!-- <meta name=robots content=none> -->" + links), true, true},
  };
  for (const Case& c : cases) {
    const PageAnalysis page = analysePage("http://srv.lan/site/a.html", c.reply, config);
    EXPECT_EQ(page.robots.noindex, !c.indexed) << c.reply;
    EXPECT_EQ(page.themeWordCount, 1) << c.reply;
    EXPECT_EQ(page.record.documentType, c.indexed ? "html" : "") << c.reply;
    EXPECT_EQ(page.record.themeWordCount, c.indexed ? 1 : 0) << c.reply;
    EXPECT_EQ(keywordsOf(page.record).empty(), !c.indexed) << c.reply;
    EXPECT_EQ(page.record.document.has_value(), c.indexed) << c.reply;
    EXPECT_EQ(page.record.ranking.has_value(), c.indexed) << c.reply;
    EXPECT_EQ(page.links, c.followed ? Links{"http://srv.lan/site/b.html"} : Links{}) << c.reply;
  }
}

// A canonical link is resolved as links are and counts only inside the
// site and when it names another URL; a noindex page has none.
TEST_F(PageAnalysisTest, CanonicalLinkInsideTheSiteNamesWhereThePageIsIndexed) {
  const auto canonicalOf = [this](const std::string& url, const std::string& head) {
    const PageAnalysis page =
        analysePage(url, htmlReply(head + "<p>abeille</p><a href=c.html>c</a>"), config);
    EXPECT_EQ(page.links, Links{"http://srv.lan/site/dir/c.html"}) << head;
    return page.record.canonicalUrl.value_or("(none)");
  };
  const std::string url = "http://srv.lan/site/dir/a.html?print=1";
  const struct {
    std::string head, canonical;
  } cases[] = {
      {"<link rel=\"canonical\" href=\"a.html\">", "http://srv.lan/site/dir/a.html"},
      {"<link rel=canonical href=\"../b.html\">", "http://srv.lan/site/b.html"},
      {"<link href=\"HTTP://SRV.LAN:80/site/x.html\" rel=\"Canonical\">",
       "http://srv.lan/site/x.html"},
      // Outside the site, the page's own URL, a fragment link: none.
      {"<link rel=canonical href=\"http://other.lan/site/a.html\">", "(none)"},
      {"<link rel=canonical href=\"/elsewhere/a.html\">", "(none)"},
      {"<link rel=canonical href=\"a.html?print=1\">", "(none)"},
      {"<link rel=canonical href=\"a.html#top\">", "(none)"},
      {"<link rel=canonical href=\"mailto:x@srv.lan\">", "(none)"},
      {"<meta name=robots content=noindex><link rel=canonical href=b.html>", "(none)"},
  };
  for (const auto& c : cases) EXPECT_EQ(canonicalOf(url, c.head), c.canonical) << c.head;
}

// Names in the working directory left by the converter's temporary files.
std::vector<std::string> leftoverTempFiles() {
  std::vector<std::string> names;
  DIR* dir = opendir(".");
  while (dirent* entry = readdir(dir))
    if (std::string(entry->d_name).rfind("zparseps", 0) == 0) names.push_back(entry->d_name);
  closedir(dir);
  return names;
}

// The PDF that ps2pdf makes of a page of Latin-1 PostScript text, with
// `prologue` (pdfmark lines) before it.
std::string pdfOf(const std::string& prologue, const std::string& latin1Text) {
  std::ofstream("doc.ps") << "%!PS\n"
                          << prologue
                          << "/Helvetica findfont dup length dict begin\n"
                             "{ 1 index /FID ne { def } { pop pop } ifelse } forall\n"
                             "/Encoding ISOLatin1Encoding def currentdict end\n"
                             "/Latin exch definefont 12 scalefont setfont\n"
                             "72 700 moveto ("
                          << latin1Text << ") show\nshowpage\n";
  if (std::system("ps2pdf doc.ps doc.pdf") != 0) return std::string();
  std::ifstream pdf("doc.pdf", std::ios::binary);
  std::string body((std::istreambuf_iterator<char>(pdf)), std::istreambuf_iterator<char>());
  std::remove("doc.ps");
  std::remove("doc.pdf");
  return body;
}

TEST_F(PageAnalysisTest, PdfTitleComesFromItsMetadataOrItsFirstWordsWithAccents) {
  char scratch[] = "/tmp/page_testXXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  ASSERT_EQ(chdir(scratch), 0);
  const std::string text = "R\\351colte d'\\351t\\351 de l'abeille au rucher";
  const struct {
    std::string prologue, title;
  } cases[] = {
      // The metadata's title, its accents kept in Latin-1; a character
      // beyond Latin-1 transliterated (U+0153, written as UTF-16 for
      // pdfmark).
      {"[ /Title (Guide de la r\\351colte) /DOCINFO pdfmark\n",
       "Guide de la r\xe9"
       "colte"},
      {"[ /Title <FEFF006C00200153007500660020> /DOCINFO pdfmark\n", "l oeuf"},
      // No title: the first words, with their accents.
      {"",
       "R\xe9"
       "colte d'\xe9t\xe9 de l'abeille au rucher"},
  };
  for (const auto& c : cases) {
    const std::string body = pdfOf(c.prologue, text);
    ASSERT_FALSE(body.empty());
    const PageAnalysis page =
        analysePage("http://srv.lan/site/doc.pdf",
                    "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n\r\n" + body, config);
    ASSERT_TRUE(page.record.document) << c.prologue;
    EXPECT_EQ(page.record.document->title, c.title) << c.prologue;
    EXPECT_EQ(storedText(page.record),
              "R\xe9"
              "colte d'\xe9t\xe9 de l'abeille au rucher");
  }
  EXPECT_EQ(leftoverTempFiles(), Links{});
  ASSERT_EQ(chdir("/tmp"), 0);
  rmdir(scratch);
}

TEST_F(PageAnalysisTest, PdfDocumentIsConvertedAndIndexedAsPdf) {
  char scratch[] = "/tmp/page_testXXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  ASSERT_EQ(chdir(scratch), 0);
  std::ofstream("bee.ps") << "%!PS\n/Helvetica findfont 12 scalefont setfont\n"
                             "72 700 moveto (L'abeille, ruche abeille.) show\nshowpage\n";
  ASSERT_EQ(std::system("ps2pdf bee.ps bee.pdf"), 0);
  std::ifstream pdf("bee.pdf", std::ios::binary);
  std::string body((std::istreambuf_iterator<char>(pdf)), std::istreambuf_iterator<char>());
  std::remove("bee.ps");
  std::remove("bee.pdf");

  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n\r\n" + body;
  const PageAnalysis page = analysePage("http://srv.lan/site/bee.pdf", reply, config);
  EXPECT_EQ(page.links, Links{});
  EXPECT_EQ(page.record.themeWordCount, 1);
  EXPECT_EQ(page.record.documentType, "pdf");
  EXPECT_EQ(keywordsOf(page.record), (Links{"abeille", "ruche"}));
  EXPECT_EQ(storedText(page.record), "L'abeille, ruche abeille.");
  EXPECT_EQ(leftoverTempFiles(), Links{});
  ASSERT_EQ(chdir("/tmp"), 0);
  rmdir(scratch);
}

}  // namespace
