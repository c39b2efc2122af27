// The HTML and JSON views of the search program, run as a web server runs
// it, against an index seeded with Document rows.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "index/index_connection.h"
#include "index/sql_text.h"
#include "searchcgi_process.h"
#include "test_database.h"

namespace {

using namespace theme_search;
using namespace searchcgi_test;

Reply searchView(const std::string& view, const std::string& query,
                 std::vector<std::string> more = {}) {
  more.push_back("QUERY_STRING=" + query);
  more.push_back("SERVER_NAME=search.example");
  more.push_back("SCRIPT_NAME=/cgi-bin/searchcgi");
  if (!view.empty()) more.push_back("PATH_INFO=" + view);
  return runSearchCgi(more);
}

// The values of one attribute or element, in page order: the text between
// each `before` and the next `after`.
std::vector<std::string> between(const std::string& page, const std::string& before,
                                 const std::string& after) {
  std::vector<std::string> found;
  for (std::size_t at = page.find(before); at != std::string::npos;
       at = page.find(before, at + 1)) {
    const std::size_t start = at + before.size();
    const std::size_t end = page.find(after, start);
    if (end == std::string::npos) break;
    found.push_back(page.substr(start, end - start));
  }
  return found;
}

// The text of HTML text written with the five references the pages use.
std::string htmlUnescaped(std::string text) {
  const std::pair<const char*, const char*> references[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [reference, character] : references)
    for (std::size_t at; (at = text.find(reference)) != std::string::npos;)
      text.replace(at, std::string(reference).size(), character);
  return text;
}

// The reply's body after its CGI header.
std::string bodyOf(const std::string& reply) {
  const std::size_t end = reply.find("\n\n");
  return end == std::string::npos ? std::string() : reply.substr(end + 2);
}

// What python's json module makes of the text: the result of `expression`
// (over the parsed value `v`) printed with print(), or "invalid" when the
// text is not JSON or not UTF-8.
std::string pythonJson(const std::string& text, const std::string& expression) {
  char name[] = "/tmp/views_jsonXXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return "no temporary file";
  ::close(fd);
  std::ofstream(name, std::ios::binary) << text;
  // The expression goes in as an argument, so it needs no shell quoting.
  const std::string script =
      "import json,sys\n"
      "try:\n"
      "  v = json.loads(open(sys.argv[1], 'rb').read().decode('utf-8'))\n"
      "except Exception:\n"
      "  print('invalid'); sys.exit()\n"
      "print(eval(sys.argv[2]))\n";
  const auto shellQuoted = [](const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  };
  const std::string command =
      "python3 -c " + shellQuoted(script) + " " + name + " " + shellQuoted("(" + expression + ")");
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      output.append(buffer, n);
    ::pclose(pipe);
  }
  std::remove(name);
  return output;
}

class ResultViews : public ::testing::Test {
 protected:
  void SetUp() override {
    resetDatabase();
    index.emplace(testSettings());
  }

  // A page holding one word with a ratio and, unless title and text are
  // both empty, its Document row (text compressed by the server).
  void addPage(const std::string& url, const std::string& word, int ratio, const std::string& title,
               const std::string& text) {
    index->execute("insert into Url (url) values (" + quote(url) + ")");
    index->execute("insert ignore into MotCle (mot) values (" + quote(word) + ")");
    index->execute("insert into CorrespMotUrl (idMot, idUrl, ratio) select M.idMot, U.idUrl, " +
                   std::to_string(ratio) + " from MotCle M, Url U where M.mot = " + quote(word) +
                   " and U.url = " + quote(url));
    rebuildKeywordBlocks(*index);
    if (title.empty() && text.empty()) return;
    index->execute("insert into Document (idUrl, titre, texte) select idUrl, " + quote(title) +
                   ", COMPRESS(" + quote(text) + ") from Url where url = " + quote(url));
  }

  std::optional<IndexConnection> index;
};

const std::string kHostileTitle = "<script>alert('x')</script> \"Le\" & \x01\x1b\xc3\x28\xff";

// Asked for the plain page's order (order=count), the views list its URLs.
TEST_F(ResultViews, ListTheSameUrlsAsThePlainPageWithTitlesAndMarkedExcerpts) {
  addPage("http://site/a", "chat", 5, "Le chat noir",
          "Il \xe9tait une fois un Chat noir qui dormait.");
  addPage("http://site/<b>", "chat", 3, kHostileTitle,
          "Texte <i>hostile</i> & \"chat\" \x02 \xc3\x28 fin.");
  addPage("http://site/c", "chat", 1, "", "");  // no Document row
  for (int i = 0; i < 15; ++i) addPage("http://more/" + std::to_string(i), "chat", 0, "", "");

  const std::vector<std::string> plainUrls =
      between(searchView("", "keyword=chat&page=1").page, "<A HREF=\"", "\"");
  ASSERT_EQ(plainUrls.size(), 15u);

  const Reply html = searchView("/html", "keyword=Chat&order=count&page=1");
  EXPECT_EQ(html.status, 0);
  EXPECT_EQ(html.page.find("Content-Type: text/html; charset=iso-8859-1\n\n<!DOCTYPE html>"), 0u);
  EXPECT_EQ(between(html.page, "<li><a href=\"", "\""), plainUrls);
  std::vector<std::string> titles;
  for (const std::string& item : between(html.page, "<li><a href=\"", "</a><br>"))
    titles.push_back(item.substr(item.find("\">") + 2));
  titles.resize(3);
  EXPECT_EQ(titles, (std::vector<std::string>{"Le chat noir",
                                              "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; "
                                              "&quot;Le&quot; &amp;   \xc3(\xff",
                                              "http://site/c"}));
  const std::vector<std::string> excerpts =
      between(html.page, "<span class=\"extrait\">", "</span>");
  ASSERT_EQ(excerpts.size(), 2u) << html.page;
  EXPECT_EQ(excerpts[0], "Il \xe9tait une fois un <b>Chat</b> noir qui dormait.");
  EXPECT_EQ(excerpts[1],
            "Texte &lt;i&gt;hostile&lt;/i&gt; &amp; &quot;<b>chat</b>&quot;   \xc3( fin.");
  EXPECT_EQ(html.page.find("<script>"), std::string::npos);
  EXPECT_EQ(html.page.find('\x01'), std::string::npos);
  EXPECT_NE(html.page.find("<li><a href=\"http://site/&lt;b&gt;\">"), std::string::npos);
  EXPECT_NE(html.page.find("<b>Nombre de pages trouv\xe9"
                           "es : 18</b>"),
            std::string::npos);
  // The navigation keeps the view and the order; the form leads back to
  // the view.
  EXPECT_NE(html.page.find("<a href=\"http://search.example:8080/cgi-bin/searchcgi/html?keyword="
                           "Chat&amp;page=2&amp;order=count\">Suivant</a>"),
            std::string::npos);
  EXPECT_NE(html.page.find("action=\"http://search.example:8080/cgi-bin/searchcgi/html\""),
            std::string::npos);

  const Reply json = searchView("/json", "keyword=Chat&page=1&order=count");
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.page.find("Content-Type: application/json; charset=utf-8\n\n"), 0u);
  const std::string body = bodyOf(json.page);
  std::string expectedUrls;
  for (const std::string& url : plainUrls) expectedUrls += htmlUnescaped(url) + "\n";
  EXPECT_EQ(pythonJson(body, "'\\n'.join(r['url'] for r in v['results'])"), expectedUrls);
  EXPECT_EQ(pythonJson(body, "v['query'], v['total'], v['page'], 'suggestions' in v"),
            "('Chat', 18, 1, False)\n");
  // Titles and excerpts arrive as the Latin-1 texts they are, in UTF-8.
  EXPECT_EQ(pythonJson(body, "ascii(v['results'][1]['title'])"),
            "'<script>alert(\\'x\\')</script> \"Le\" & \\x01\\x1b\\xc3(\\xff'\n");
  EXPECT_EQ(pythonJson(body,
                       "[(e['text'][m['offset']:m['offset']+m['length']]) for e in "
                       "[r['excerpt'] for r in v['results'][:3]] for m in e['marks']]"),
            "['Chat', 'chat']\n");
  EXPECT_EQ(pythonJson(body, "ascii(v['results'][0]['excerpt']['text'])"),
            "'Il \\xe9tait une fois un Chat noir qui dormait.'\n");
  EXPECT_EQ(pythonJson(body, "v['results'][2]"),
            "{'url': 'http://site/c', 'title': 'http://site/c', 'excerpt': {'text': '', 'marks': "
            "[]}}\n");
}

// A phrase keeps the pages whose stored text holds its words in order, in
// both orders of the views, and the count and windows follow.
TEST_F(ResultViews, APhraseKeepsThePagesThatHoldItsWordsInOrder) {
  addPage("http://site/in-order", "boucle", 2, "A", "La boucle d'\xe9v\xe9nements tourne.");
  addPage("http://site/reversed", "boucle", 9, "B", "Des \xe9v\xe9nements dans une boucle.");
  addPage("http://site/no-text", "boucle", 1, "", "");
  for (int i = 0; i < 20; ++i)
    addPage("http://site/more" + std::to_string(i), "boucle", 1, "C",
            "une boucle d'evenements " + std::to_string(i));
  // Every page holds both words.
  index->execute("insert into MotCle (mot) values ('evenements')");
  index->execute(
      "insert into CorrespMotUrl (idMot, idUrl, ratio) select M.idMot, U.idUrl, 1 "
      "from MotCle M, Url U where M.mot = 'evenements'");
  rebuildKeywordBlocks(*index);
  for (const std::string order : {"", "&order=count"}) {
    const std::string body =
        bodyOf(searchView("/json", "keyword=%22boucle+d%27%E9v%E9nements%22&page=1" + order).page);
    EXPECT_EQ(pythonJson(body, "v['total'], len(v['results'])"), "(21, 15)\n") << order;
    EXPECT_EQ(pythonJson(body, "'http://site/reversed' in [r['url'] for r in v['results']]"),
              "False\n")
        << order;
    const std::string second =
        bodyOf(searchView("/json", "keyword=%22boucle+d%27%E9v%E9nements%22&page=2" + order).page);
    EXPECT_EQ(pythonJson(second, "len(v['results'])"), "6\n") << order;
  }
  // The plain page knows no phrases: it finds every page of the words.
  EXPECT_NE(searchView("", "keyword=%22boucle+d%27%E9v%E9nements%22&page=1")
                .page.find("http://site/reversed"),
            std::string::npos);
}

// The site wraps every page in the same header and footer, and each page's
// text begins with its title: the excerpts show neither, as long as the
// page of results holds three texts.
TEST_F(ResultViews, ExcerptsLeaveOutTitlesAndTheSitesNavigation) {
  const std::string header = "Accueil | Les abeilles | Le miel | Contact";
  const std::string footer = "Mentions l\xe9gales | Plan du site";
  const char* const titles[] = {"Le butinage", "La reine", "L'hiver", "Le miel"};
  const char* const bodies[] = {"Les abeilles butinent.", "La reine des abeilles pond.",
                                "Les abeilles dorment l'hiver.", "Le miel des abeilles."};
  for (int i = 0; i < 4; ++i)
    addPage("http://site/" + std::to_string(i), "abeilles", 4 - i, titles[i],
            header + " " + titles[i] + " " + bodies[i] + " " + footer);
  const std::string excerpts = "[r['excerpt']['text'] for r in v['results']]";
  const std::string four = bodyOf(searchView("/json", "keyword=abeilles&page=1&order=count").page);
  EXPECT_EQ(pythonJson(four, excerpts),
            "['Les abeilles butinent.', 'La reine des abeilles pond.', "
            "\"Les abeilles dorment l'hiver.\", 'Le miel des abeilles.']\n")
      << four;
  // With two results nothing is taken for navigation.
  index->execute(
      "delete C from CorrespMotUrl C join Url U on U.idUrl = C.idUrl "
      "where U.url in ('http://site/2', 'http://site/3')");
  rebuildKeywordBlocks(*index);
  const std::string two = bodyOf(searchView("/json", "keyword=abeilles&page=1&order=count").page);
  EXPECT_EQ(pythonJson(two, "len(v['results']), all('Accueil |' in t for t in " + excerpts + ")"),
            "(2, True)\n")
      << two;
}

TEST_F(ResultViews, SpellingSuggestionsComeWhenAsked) {
  addPage("http://site/a", "hello", 1, "Hello", "hello world");
  const std::string body = bodyOf(searchView("/json", "keyword=helo+-wrld&page=1&v").page);
  EXPECT_EQ(pythonJson(body, "'hello' in v['suggestions']['helo'], sorted(v['suggestions'])"),
            "(True, ['helo', 'wrld'])\n")
      << body;
  for (int i = 0; i < 16; ++i) addPage("http://site/" + std::to_string(i), "helo", 1, "", "");
  const std::string html = searchView("/html", "keyword=helo&page=1&v").page;
  EXPECT_NE(html.find("<p class=\"orthographe\"><b>Corrections possibles pour \xab\xa0helo\xa0\xbb "
                      ":</b> hello, helot,"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("searchcgi/html?keyword=helo&amp;page=2&amp;verif=Verifier+l%27ortographe"),
            std::string::npos)
      << html;
  // SE_LANGUAGE chooses the readable page's own words; the plain page keeps
  // its own.
  const std::string english = searchView("/html", "keyword=helo&page=2", {"SE_LANGUAGE=en"}).page;
  for (const char* expected : {"<html lang=\"en\">", "<b>Pages found: 16</b>",
                               "page=1\">Previous</a>", "value=\"Search\">"})
    EXPECT_NE(english.find(expected), std::string::npos) << expected << "\n" << english;
  const std::string french = searchView("/html", "keyword=helo&page=1", {"SE_LANGUAGE=fr"}).page;
  EXPECT_NE(french.find("page=2\">Suivant</a>"), std::string::npos) << french;
  EXPECT_EQ(searchView("", "keyword=helo&page=1", {"SE_LANGUAGE=en"}).page,
            searchView("", "keyword=helo&page=1").page);
}

// A word typed beyond Latin-1 comes back as itself in each view's
// encoding, and the links carry it on to the next page.
TEST_F(ResultViews, QueryWordsAreEchoedInEachViewsEncoding) {
  for (int i = 0; i < 16; ++i)
    addPage("http://site/" + std::to_string(i), "oeuf", 1, "T", "Un oeuf.");
  const Reply html = searchView("/html", "keyword=%C5%93uf&page=1&v");
  EXPECT_NE(html.page.find("name=\"keyword\" size=\"40\" value=\"&#339;uf\">"), std::string::npos)
      << html.page;
  EXPECT_NE(html.page.find("pour \xab\xa0&#339;uf\xa0\xbb :</b>"), std::string::npos);
  // Nothing of the word's UTF-8 bytes reaches the Latin-1 page.
  EXPECT_EQ(html.page.find('\xc5'), std::string::npos) << html.page;
  const std::vector<std::string> next =
      between(html.page, "<p class=\"navigation\">\n<a href=\"", "\">Suivant</a>");
  ASSERT_EQ(next.size(), 1u) << html.page;
  const std::string nextQuery = htmlUnescaped(next[0].substr(next[0].find('?') + 1));
  EXPECT_EQ(nextQuery.substr(0, 24), "keyword=%C5%93uf&page=2&");
  EXPECT_EQ(between(searchView("/html", nextQuery).page, "<li><a href=\"", "\"").size(), 1u);

  const std::string json = bodyOf(searchView("/json", "keyword=%C5%93uf+-%E9t%E9&page=1&v").page);
  EXPECT_EQ(pythonJson(json, "ascii((v['query'], v['total'], sorted(v['suggestions'])))"),
            "('\\u0153uf -\\xe9t\\xe9', 16, ['\\xe9t\\xe9', '\\u0153uf'])\n")
      << json;
}

// A word both wanted and excluded finds nothing, in every view, without
// an error, even beside a word that alone would find a page.
TEST_F(ResultViews, WordBothSearchedAndExcludedFindsNothingInEveryView) {
  addPage("http://site/a", "miel", 1, "Miel", "Du miel.");
  addPage("http://site/b", "ruche", 1, "Ruche", "Une ruche.");
  for (const char* keywords : {"miel+-miel", "miel+-MIEL", "ruche+miel+-Miel"}) {
    const std::string query = std::string("keyword=") + keywords + "&page=1";
    const std::string plain = searchView("", query).page;
    EXPECT_NE(plain.find("es : 0</B>"), std::string::npos) << plain;
    const std::string html = searchView("/html", query).page;
    EXPECT_NE(html.find("es : 0</b>"), std::string::npos) << html;
    for (const std::string& page : {plain, html}) {
      EXPECT_EQ(page.find("Erreur"), std::string::npos) << page;
      EXPECT_EQ(page.find("http://site/"), std::string::npos) << page;
    }
    const Reply json = searchView("/json", query);
    EXPECT_EQ(json.page.find("Content-Type: application/json"), 0u) << json.page;
    EXPECT_EQ(pythonJson(bodyOf(json.page), "v['total'], v['results'], 'error' in v"),
              "(0, [], False)\n")
        << json.page;
  }
}

TEST_F(ResultViews, ErrorsComeWithTheirStatusInTheView) {
  addPage("http://site/a", "chat", 1, "T", "chat");
  struct Case {
    std::string view, query;
    std::vector<std::string> more;
    std::string start;
    std::string error;  // the JSON error text
  } cases[] = {
      {"/json", "keyword=-chat&page=1", {}, "Status: 400 Bad Request\n", "True"},
      {"/json",
       "keyword=chat&page=1",
       {"SE_DB_SOCKET=/nonexistent/mysqld.sock"},
       "Status: 503 Service Unavailable\nContent-Type: application/json; charset=utf-8\n\n",
       "True"},
      {"/html",
       "keyword=chat&page=1",
       {"SE_DB_SOCKET=/nonexistent/mysqld.sock"},
       "Status: 503 Service Unavailable\nContent-Type: text/html",
       ""},
      {"/html", "keyword=-chat&page=1", {}, "Content-Type: text/html", ""},
  };
  for (const Case& c : cases) {
    const Reply reply = searchView(c.view, c.query, c.more);
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.page.find(c.start), 0u) << c.view << " " << c.query << "\n" << reply.page;
    if (!c.error.empty())
      EXPECT_EQ(pythonJson(bodyOf(reply.page), "isinstance(v['error'], str)"), c.error + "\n")
          << reply.page;
    else
      EXPECT_EQ(reply.page.substr(reply.page.size() - 16), "</body>\n</html>\n");
  }
  EXPECT_NE(searchView("/html", "keyword=-chat&page=1").page.find("Erreur de param\xe8tres"),
            std::string::npos);

  index->execute("drop table Document");
  const Reply failed = searchView("/json", "keyword=chat&page=1");
  EXPECT_EQ(failed.page.find("Status: 500 Internal Server Error\n"), 0u) << failed.page;
  EXPECT_EQ(pythonJson(bodyOf(failed.page), "v['status']"), "500\n");
  EXPECT_EQ(searchView("/html", "keyword=chat&page=1").page.find("Status: 500 "), 0u);
  // The plain page does not read Document.
  EXPECT_NE(searchView("", "keyword=chat&page=1").page.find("es : 1</B>"), std::string::npos);
}

}  // namespace
