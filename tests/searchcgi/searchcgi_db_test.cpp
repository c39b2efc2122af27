// The searchcgi program run as a web server runs it, against a seeded index.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <sstream>

#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "index/index_connection.h"
#include "index/sql_text.h"
#include "searchcgi/strategies.h"
#include "searchcgi_process.h"
#include "test_database.h"

namespace {

using namespace theme_search;
using namespace searchcgi_test;

namespace fs = std::filesystem;

Reply search(const std::string& query) {
  return runSearchCgi(
      {"QUERY_STRING=" + query, "SERVER_NAME=search.example", "SCRIPT_NAME=/cgi-bin/searchcgi"});
}

const std::string head =
    "Content-Type: text/html\n\n<HTML><HEAD><TITLE>Moteur de recherche</TITLE></HEAD><BODY>\n";
const std::string emptyEntry = "<A HREF=\"\"></A><BR><BR>\n";
const std::string spacer = "&nbsp&nbsp&nbsp&nbsp&nbsp\n";
const std::string link = "http://search.example:8080/cgi-bin/searchcgi?keyword=";

std::string repeat(const std::string& text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

std::string entry(const std::string& url) {
  return "<A HREF=\"" + url + "\">" + url + "</A><BR><BR>\n";
}

// The URLs listed on a page, in order.
std::vector<std::string> listedUrls(const std::string& page) {
  std::vector<std::string> urls;
  for (std::size_t at = page.find("<A HREF=\""); at != std::string::npos;
       at = page.find("<A HREF=\"", at + 1)) {
    const std::size_t start = at + 9;
    const std::string url = page.substr(start, page.find('"', start) - start);
    if (!url.empty()) urls.push_back(url);
  }
  return urls;
}

class SearchCgi : public ::testing::Test {
 protected:
  void SetUp() override {
    resetDatabase();
    index.emplace(testSettings());
  }

  // Adds a page holding the given keywords with their ratios.
  void addPage(const std::string& url, int nbMotsTheme,
               const std::map<std::string, int>& keywords) {
    index->execute("insert into Url (url, nbMotsTheme) values (" + quote(url) + ", " +
                   std::to_string(nbMotsTheme) + ")");
    for (const auto& [word, ratio] : keywords) {
      index->execute("insert ignore into MotCle (mot) values (" + quote(word) + ")");
      index->execute("insert into CorrespMotUrl (idMot, idUrl, ratio) select M.idMot, U.idUrl, " +
                     std::to_string(ratio) + " from MotCle M, Url U where M.mot = " + quote(word) +
                     " and U.url = " + quote(url));
    }
    rebuildKeywordBlocks(*index);
  }

  void addNumberedPages(int count) {
    for (int i = 1; i <= count; ++i) {
      std::string name = "http://site/" + std::string(i < 10 ? "0" : "") + std::to_string(i);
      addPage(name, 0, {{"chat", i}});
    }
  }

  std::optional<IndexConnection> index;
};

// One word: descending count, then descending theme count, then URL.
TEST_F(SearchCgi, OneKeywordFirstPageIsExact) {
  addPage("http://site/b", 0, {{"chat", 3}});
  addPage("http://site/a", 2, {{"chat", 1}, {"chien", 9}});
  addPage("http://site/c", 5, {{"chat", 1}});
  addPage("http://site/d", 0, {{"chien", 1}});
  const Reply reply = search("keyword=chat&page=1");
  EXPECT_EQ(reply.status, 0);
  EXPECT_EQ(reply.page, head +
                            "<BR>\n<B>Nombre de pages trouv\xe9"
                            "es : 3</B><BR><BR><BR>\n<CENTER>\n" +
                            entry("http://site/b") + entry("http://site/c") +
                            entry("http://site/a") + repeat(emptyEntry, 12) +
                            "</CENTER>\n<BR><BR><BR>\n<CENTER>\n" + spacer +
                            "</CENTER>\n</BODY></HTML>\n\n");
}

TEST_F(SearchCgi, NextAndPreviousFollowTheCount) {
  addNumberedPages(15);
  EXPECT_EQ(search("keyword=chat&page=1").page.find(">Next</a>"), std::string::npos);
  addPage("http://site/00", 0, {{"chat", 0}});
  const std::string first = search("keyword=chat&page=1").page;
  EXPECT_NE(first.find("Nombre de pages trouv\xe9"
                       "es : 16</B>"),
            std::string::npos);
  EXPECT_NE(first.find(spacer + "<a href=\"" + link + "chat&page=2\">Next</a>\n</CENTER>\n"),
            std::string::npos);
  EXPECT_EQ(first.find("Previous"), std::string::npos);
  // The count is the word's page count summed over its parts; an index made
  // before the counts has the word's rows counted.
  index->execute("UPDATE MotBloc SET nbPages = nbPages - 5");
  index->execute("INSERT INTO MotBloc SELECT idMot, 0, 7, 0, 5 FROM MotCle WHERE mot = 'chat'");
  index->execute("INSERT INTO MotBloc SELECT idMot, 9, 3, 0, 0 FROM MotCle WHERE mot = 'chat'");
  for (const char* change : {"", "DROP TABLE MotBloc"}) {
    if (*change) index->execute(change);
    EXPECT_NE(search("keyword=chat&page=1")
                  .page.find("Nombre de pages trouv\xe9"
                             "es : 16</B>"),
              std::string::npos)
        << change;
  }

  const std::string second = search("keyword=chat&page=2").page;
  EXPECT_NE(second.find("<CENTER>\n" + entry("http://site/00") + repeat(emptyEntry, 14) +
                        "</CENTER>\n<BR><BR><BR>\n<CENTER>\n<a href=\"" + link +
                        "chat&page=1\">Previous</a>\n" + spacer + "</CENTER>\n"),
            std::string::npos)
      << second;
}

TEST_F(SearchCgi, PagesOfEqualRankNeverRepeatOrSkipAResult) {
  // Forty pages that tie on every ranking key, under each strategy: walking
  // the pages must list every URL exactly once.
  for (int i = 0; i < 40; ++i)
    addPage("http://tie/" + std::to_string(i), 1, {{"chat", 2}, {"chien", 2}});
  for (const char* keywords : {"chat", "chat+chien", "chat+-souris"}) {
    std::multiset<std::string> seen;
    for (int page = 1; page <= 3; ++page)
      for (const std::string& url : listedUrls(
               search(std::string("keyword=") + keywords + "&page=" + std::to_string(page)).page))
        seen.insert(url);
    EXPECT_EQ(seen.size(), 40u) << keywords;
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 40u) << keywords;
  }
}

TEST_F(SearchCgi, SpellingParameterAddsBlocksAndLinkSuffix) {
  addNumberedPages(16);
  const Reply reply = search("keyword=chat+-dog&page=1&v");
  const std::string block = "<B>Corrections possibles :</B><P>\n<BR>\n<BR>\n";
  EXPECT_EQ(reply.page.substr(0, head.size() + 2 * block.size()), head + block + block);
  EXPECT_NE(reply.page.find(link + "chat+-dog&page=2&verif=Verifier+l%27ortographe\">Next"),
            std::string::npos);

  const std::string misspelt = search("keyword=helo&page=1&v").page;
  EXPECT_EQ(misspelt.find(head + "<B>Corrections possibles :</B><P>\n hello,"), 0u);
}

TEST_F(SearchCgi, StrategiesRankAndFilterPages) {
  addPage("http://p/1", 0, {{"chat", 1}, {"chien", 1}});
  addPage("http://p/2", 0, {{"chat", 5}, {"chien", 5}, {"souris", 1}});
  addPage("http://p/3", 0, {{"chat", 10}});
  addPage("http://p/4", 0, {{"chat", 3}, {"chien", 4}});
  addPage("http://p/5", 9, {{"chat", 1}, {"chien", 1}});
  using Urls = std::vector<std::string>;
  struct Case {
    std::string keywords;
    Urls urls;
  } cases[] = {
      {"chat", {"http://p/3", "http://p/2", "http://p/4", "http://p/5", "http://p/1"}},
      {"CHAT+chien+souris", {"http://p/2", "http://p/4", "http://p/5", "http://p/1"}},
      {"chat+chien+-souris", {"http://p/4", "http://p/5", "http://p/1", "http://p/3"}},
      {"chien+-chat", {}},
      {"chat+-chien+-souris", {"http://p/3"}},
  };
  for (const Case& c : cases) {
    const Reply reply = search("keyword=" + c.keywords + "&page=1");
    EXPECT_EQ(listedUrls(reply.page), c.urls) << "keywords: " << c.keywords;
  }
}

// A word typed twice, in any case, is searched once: it finds the pages of
// the word typed once, under the strategy the distinct words call for.
TEST_F(SearchCgi, RepeatedWordsFindWhatTheWordFindsOnce) {
  addPage("http://m/1", 0, {{"miel", 5}});
  addPage("http://m/2", 0, {{"miel", 2}, {"ruche", 4}});
  addPage("http://m/3", 3, {{"miel", 2}});
  addPage("http://m/4", 0, {{"ruche", 9}});
  const std::vector<std::string> once = listedUrls(search("keyword=miel&page=1").page);
  ASSERT_EQ(once.size(), 3u);
  for (const char* keywords : {"miel+miel", "miel+MIEL", "miel-miel"})
    EXPECT_EQ(listedUrls(search(std::string("keyword=") + keywords + "&page=1").page), once)
        << "keywords: " << keywords;
  const std::vector<std::string> both = listedUrls(search("keyword=miel+ruche&page=1").page);
  EXPECT_EQ(both, std::vector<std::string>{"http://m/2"});
  EXPECT_EQ(listedUrls(search("keyword=miel+ruche+MIEL+ruche&page=1").page), both);
  EXPECT_EQ(listedUrls(search("keyword=miel+MIEL+-ruche+-RUCHE&page=1").page),
            (std::vector<std::string>{"http://m/1", "http://m/3"}));
}

TEST_F(SearchCgi, NoSearchWordOrNoQueryEndsThePageNormally) {
  addNumberedPages(3);
  const std::string counted =
      "<B>Nombre de pages trouv\xe9"
      "es : 0</B><BR><BR><BR>\n<CENTER>\n" +
      repeat(emptyEntry, 15) + "</CENTER>\n<BR><BR><BR>\n<CENTER>\n";
  const std::string error = "Erreur de param\xe8tres<BR>\n";
  const Reply excludedOnly = search("keyword=-chat&page=1");
  EXPECT_EQ(excludedOnly.status, 0);
  EXPECT_EQ(excludedOnly.page,
            head + "<BR>\n" + error + counted + spacer + "</CENTER>\n</BODY></HTML>\n\n");
  const Reply bare = runSearchCgi({});
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.page, head + error + counted + spacer + "</CENTER>\n</BODY></HTML>\n\n");
}

TEST_F(SearchCgi, HostileKeywordsAndUrlsStayText) {
  addPage("http://site/<script>x</script>", 0, {{"chat", 1}});
  addPage("http://site/eau", 0, {{"eau", 1}, {"ab", 1}});
  // Quotes and backslashes separate words, as on the pages: what is left of
  // a hostile keyword is searched as plain words.
  struct Case {
    std::string keywords;
    int count;
  } cases[] = {
      {"l'eau", 1},
      {"a\\b", 0},
      {"x'", 0},
      {"x\\", 0},
      {"'+or+'1'='1", 0},
      {"x')+or+('1'='1", 0},
      {"chat+-xx')+('11'='11", 1},
      {"chat+-'", 1},
      {"%27;drop+table+Url;", 0},
  };
  for (const Case& c : cases) {
    const Reply reply = search("keyword=" + c.keywords + "&page=1");
    EXPECT_EQ(reply.status, 0) << "keywords: " << c.keywords;
    EXPECT_NE(reply.page.find("es : " + std::to_string(c.count) + "</B>"), std::string::npos)
        << "keywords: " << c.keywords << "\n"
        << reply.page;
    EXPECT_EQ(reply.page.substr(reply.page.size() - 16), "</BODY></HTML>\n\n");
  }
  EXPECT_NE(
      search("keyword=chat&page=1").page.find(entry("http://site/&lt;script&gt;x&lt;/script&gt;")),
      std::string::npos);
  EXPECT_NE(search("keyword=chat+-<b>\"&page=2").page.find("keyword=chat+-&lt;b&gt;&quot;&page=1"),
            std::string::npos);
}

TEST_F(SearchCgi, ConcurrentExclusionSearchesSeeOnlyTheirOwnScratchTable) {
  const int pages = 10;
  for (int k = 0; k < pages; ++k)
    addPage("http://p/" + std::to_string(k), 0, {{"ww", 1}, {"x" + std::to_string(k), 1}});
  std::vector<std::future<Reply>> replies;
  for (int i = 0; i < 20; ++i)
    replies.push_back(std::async(std::launch::async, [i] {
      return search("keyword=ww+-x" + std::to_string(i % pages) + "&page=1");
    }));
  for (int i = 0; i < 20; ++i) {
    const Reply reply = replies[i].get();
    std::vector<std::string> urls = listedUrls(reply.page);
    std::sort(urls.begin(), urls.end());
    std::vector<std::string> expected;
    for (int k = 0; k < pages; ++k)
      if (k != i % pages) expected.push_back("http://p/" + std::to_string(k));
    EXPECT_EQ(urls, expected) << "request " << i << "\n" << reply.page;
  }
}

TEST_F(SearchCgi, FailuresEndInAnOrderlyPage) {
  addNumberedPages(2);
  index->execute("drop table CorrespMotUrl");
  const Reply failed = search("keyword=chat&page=1");
  EXPECT_EQ(failed.status, 0);
  EXPECT_EQ(failed.page, head +
                             "<BR>\nLa recherche a \xe9"
                             "chou\xe9.<BR>\n</BODY></HTML>\n\n");

  const Reply unavailable =
      runSearchCgi({"QUERY_STRING=keyword=chat&page=1", "SE_DB_SOCKET=/nonexistent/mysqld.sock"});
  EXPECT_EQ(unavailable.status, 0);
  EXPECT_EQ(unavailable.page.find("Status: 503 Service Unavailable\nContent-Type: text/html\n\n"),
            0u);
  EXPECT_EQ(unavailable.page.substr(unavailable.page.size() - 16), "</BODY></HTML>\n\n");
}

TEST_F(SearchCgi, CommandWordsLeaveTheCheckersDictionaryAlone) {
  const fs::path home =
      fs::temp_directory_path() / ("searchcgi_home_" + std::to_string(::getpid()));
  fs::create_directories(home);
  const Reply reply = runSearchCgi(
      {"QUERY_STRING=keyword=*zzxq+-#&page=1&v", "SERVER_NAME=s", "SCRIPT_NAME=/"}, home.string());
  EXPECT_EQ(reply.status, 0);
  EXPECT_TRUE(fs::is_empty(home));
  fs::remove_all(home);
}

TEST_F(SearchCgi, RunSearchReturnsItsWindowAndTotalOrNothingWithoutASearchWord) {
  addNumberedPages(4);
  addPage("http://other/1", 0, {{"chat", 9}, {"chien", 1}});
  addPage("http://other/2", 0, {{"chat", 9}, {"souris", 1}});
  using Urls = std::vector<std::string>;
  struct Case {
    Urls search, excluded;
    std::int64_t firstRow, rowCount;
    Urls urls;
    std::int64_t total;
  } cases[] = {
      {{"chat"},
       {},
       0,
       0,
       {"http://other/1", "http://other/2", "http://site/04", "http://site/03", "http://site/02",
        "http://site/01"},
       6},
      {{"chat"}, {}, 1, 2, {"http://other/2", "http://site/04"}, 6},
      {{"chat"}, {}, 5, 15, {"http://site/01"}, 6},
      {{"chat"}, {}, 6, 15, {}, 6},  // past the last row: counted on its own
      {{"oiseau"}, {}, 0, 15, {}, 0},
      {{"chat", "chien"}, {}, 0, 15, {"http://other/1"}, 1},
      {{"chat", "chien"}, {}, 1, 15, {}, 1},
      {{"chat"}, {"chien", "souris"}, 1, 2, {"http://site/03", "http://site/02"}, 4},
      {{"chat"}, {"chien", "souris"}, 30, 15, {}, 4},
  };
  for (const Case& c : cases) {
    const std::optional<SearchResult> found =
        runSearch(*index, c.search, c.excluded, c.firstRow, c.rowCount);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->urls, c.urls) << c.search.size() << " words from row " << c.firstRow;
    EXPECT_EQ(found->total, c.total) << c.search.size() << " words from row " << c.firstRow;
  }
  EXPECT_EQ(runSearch(*index, {}, {"chat"}, 0, 0), std::nullopt);
}

// Every window of a one-word search is the same slice of the whole ranking,
// whatever ties the ratios have around the window's ends.
TEST_F(SearchCgi, OneWordWindowsAreSlicesOfTheWholeRanking) {
  struct Ranked {
    int ratio, theme;
    std::string url;
  };
  std::vector<Ranked> all;
  for (int i = 0; i < 50; ++i) {
    const std::string url = "http://r/" + std::to_string(i);
    all.push_back({i % 7, i % 3, url});
    addPage(url, i % 3, {{"chat", i % 7}});
  }
  std::sort(all.begin(), all.end(), [](const Ranked& a, const Ranked& b) {
    return std::tie(b.ratio, b.theme, a.url) < std::tie(a.ratio, a.theme, b.url);
  });
  for (int first : {0, 1, 14, 15, 30, 45, 49}) {
    std::vector<std::string> expected;
    for (int i = first; i < std::min(first + 15, 50); ++i) expected.push_back(all[i].url);
    const std::optional<SearchResult> found = runSearch(*index, {"chat"}, {}, first, 15);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->urls, expected) << "first row " << first;
    EXPECT_EQ(found->total, 50) << "first row " << first;
  }
}

// Keywords are decoded one by one after the split: the form's Latin-1, a
// browser's UTF-8, an encoded "+" inside a word, a malformed "%"; the links
// keep the keyword text as it arrived and the request's own port.
TEST_F(SearchCgi, DecodedKeywordsFindTheirPagesAndLinksKeepTheTextAsReceived) {
  addNumberedPages(16);
  // The index holds words as the crawler writes them: accents folded.
  addPage("http://site/cafe", 0, {{"cafe", 1}, {"chat", 99}});
  addPage("http://site/ruche", 0, {{"abeille", 1}, {"ruche", 1}});
  struct Case {
    std::string keywords;
    std::vector<std::string> urls;
  } cases[] = {
      {"caf%E9", {"http://site/cafe"}},
      {"CAF%C9", {"http://site/cafe"}},
      {"caf%C3%A9", {"http://site/cafe"}},
      {"caf%e9+chat", {"http://site/cafe"}},
      {"chien+-caf%E9", {}},
      {"abeille%2Bruche", {"http://site/ruche"}},  // an encoded "+" is punctuation
      {"abeille+ruche", {"http://site/ruche"}},
      {"c++", {}},  // "+" separates keywords; "c" is too short to be a word
      {"ruche%", {"http://site/ruche"}},
      {"caf%E9%25", {"http://site/cafe"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(listedUrls(search("keyword=" + c.keywords + "&page=1").page), c.urls)
        << "keywords: " << c.keywords;

  const std::string page =
      runSearchCgi({"QUERY_STRING=keyword=chat+-caf%E9&page=1", "SERVER_NAME=h.example",
                    "SERVER_PORT=8443", "HTTPS=on", "SCRIPT_NAME=/s"})
          .page;
  EXPECT_NE(page.find("<a href=\"https://h.example:8443/s?keyword=chat+-caf%E9&page=2\">Next"),
            std::string::npos)
      << page;
  const std::string plain = runSearchCgi({"QUERY_STRING=keyword=chat&page=2", "SERVER_NAME=h",
                                          "SERVER_PORT=80", "SCRIPT_NAME=/s"})
                                .page;
  EXPECT_NE(plain.find("<a href=\"http://h/s?keyword=chat&page=1\">Previous"), std::string::npos)
      << plain;
}

// The spelling blocks come from one checker run for all the words, in the
// order of the words, positive ones first.
TEST_F(SearchCgi, SpellingBlocksFollowTheWordsInOrder) {
  const std::string page = search("keyword=helo+chat+-wrold&page=1&v").page;
  const std::size_t first = page.find("<B>Corrections possibles :</B><P>\n hello,");
  const std::size_t second = page.find("<B>Corrections possibles :</B><P>\n<BR>\n<BR>\n");
  const std::size_t third = page.find("<B>Corrections possibles :</B><P>\n", second + 10);
  EXPECT_EQ(first, head.size()) << page;
  EXPECT_GT(second, first) << page;
  EXPECT_GT(third, second) << page;
  EXPECT_NE(page.find(" world", third), std::string::npos) << page;
}

}  // namespace
