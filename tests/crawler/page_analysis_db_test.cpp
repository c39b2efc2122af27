#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "crawler/analysis/page_analysis.h"
#include "index/index_connection.h"
#include "test_database.h"

namespace {

using namespace theme_search;

using Links = std::vector<std::string>;

class PageAnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetDatabase();
    db.emplace(testSettings());
    indexer.emplace(testSettings());
    keywords.emplace(*indexer);
    config.siteHost = "srv.lan";
    config.sitePath = "site/";
    config.acceptedTypes = {"html", "pdf"};
    config.themeWords = {{"abeille", 1}};
  }

  // The values of one column, in the server's order.
  std::vector<std::string> column(const std::string& statement) {
    std::vector<std::string> values;
    for (const Row& row : db->query(statement)) values.push_back(row[0]);
    return values;
  }

  std::optional<IndexConnection> db, indexer;
  std::optional<KeywordIndexer> keywords;
  EngineConfig config;
};

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
    const PageAnalysis page = analysePage(c.url, c.reply, pageConfig, *keywords);
    EXPECT_EQ(page.links, c.links) << "url: " << c.url << "\nreply: " << c.reply;
    EXPECT_EQ(page.themeWordCount, 0) << "url: " << c.url << "\nreply: " << c.reply;
    EXPECT_EQ(page.messages, "");
  }
  EXPECT_EQ(column("SELECT extension FROM Extension"), Links{});
}

TEST_F(PageAnalysisTest, HtmlPageIsIndexedAndItsLinksMadeAbsolute) {
  db->execute("INSERT INTO Url (url) VALUES (\"http://srv.lan/site/a.html\")");
  const PageAnalysis page =
      analysePage("http://srv.lan/site/a.html", htmlReply(beePage), config, *keywords);
  EXPECT_EQ(page.links, (Links{"http://srv.lan/site/b.html", "http://other.lan/x.html"}));
  EXPECT_EQ(page.themeWordCount, 1);
  EXPECT_EQ(column("SELECT extension FROM Extension"), Links{"html"});
  EXPECT_EQ(column("SELECT mot FROM MotCle ORDER BY mot"),
            (Links{"abeille", "ailleurs", "miel", "voir"}));
  // No title: the first words name the page.
  EXPECT_EQ(column("SELECT titre FROM Document"), Links{"abeille abeille miel voir ailleurs"});
  EXPECT_EQ(column("SELECT UNCOMPRESS(texte) FROM Document"),
            Links{"abeille abeille miel voir ailleurs"});
}

TEST_F(PageAnalysisTest, HtmlPageKeepsItsTitleAndDisplayTextWithAccents) {
  db->execute("INSERT INTO Url (url) VALUES (\"http://srv.lan/site/t.html\")");
  const std::string page =
      "<html><head><title>L&rsquo;abeille &amp; l'&eacute;t&eacute;</title></head>"
      "<body><p>Une abeille, 12 fleurs&nbsp;!</p></body></html>";
  EXPECT_EQ(
      analysePage("http://srv.lan/site/t.html", htmlReply(page), config, *keywords).themeWordCount,
      1);
  EXPECT_EQ(column("SELECT titre FROM Document"), Links{"L'abeille & l'\xe9t\xe9"});
  EXPECT_EQ(column("SELECT UNCOMPRESS(texte) FROM Document"), Links{"Une abeille, 12 fleurs !"});
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

TEST_F(PageAnalysisTest, PdfDocumentIsConvertedAndIndexedAsPdf) {
  char scratch[] = "/tmp/page_testXXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  ASSERT_EQ(chdir(scratch), 0);
  std::ofstream("bee.ps") << "%!PS\n/Helvetica findfont 12 scalefont setfont\n"
                             "72 700 moveto (abeille ruche abeille) show\nshowpage\n";
  ASSERT_EQ(std::system("ps2pdf bee.ps bee.pdf"), 0);
  std::ifstream pdf("bee.pdf", std::ios::binary);
  std::string body((std::istreambuf_iterator<char>(pdf)), std::istreambuf_iterator<char>());
  std::remove("bee.ps");
  std::remove("bee.pdf");

  db->execute("INSERT INTO Url (url) VALUES (\"http://srv.lan/site/bee.pdf\")");
  const std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n\r\n" + body;
  const PageAnalysis page = analysePage("http://srv.lan/site/bee.pdf", reply, config, *keywords);
  EXPECT_EQ(page.links, Links{});
  EXPECT_EQ(page.themeWordCount, 1);
  EXPECT_EQ(column("SELECT extension FROM Extension"), Links{"pdf"});
  EXPECT_EQ(column("SELECT mot FROM MotCle ORDER BY mot"), (Links{"abeille", "ruche"}));
  EXPECT_EQ(column("SELECT UNCOMPRESS(texte) FROM Document"), Links{"abeille ruche abeille"});
  EXPECT_EQ(leftoverTempFiles(), Links{});
  ASSERT_EQ(chdir("/tmp"), 0);
  rmdir(scratch);
}

}  // namespace
