// The pure parts of the result views: the documents statement, the shown
// results, the JSON reply and the choice of view.
#include <gtest/gtest.h>

#include "common/stored_text.h"
#include "searchcgi/json_view.h"
#include "searchcgi/readable_page.h"
#include "searchcgi/result_list.h"
#include "searchcgi/search_request.h"

namespace {

using namespace theme_search;

TEST(ResultViewParts, ChosenByPathInfoOnly) {
  const std::pair<const char*, ResultView> cases[] = {
      {"", ResultView::plain},      {"/html", ResultView::readable}, {"/json", ResultView::json},
      {"/HTML", ResultView::plain}, {"/html/", ResultView::plain},   {"/jsonx", ResultView::plain},
      {"html", ResultView::plain},
  };
  for (const auto& [path, view] : cases) EXPECT_EQ(resultViewOf(path), view) << "path: " << path;
}

TEST(ResultViewParts, DocumentsStatementQuotesEveryUrl) {
  EXPECT_EQ(documentsStatement({"http://a/", "http://b/x'y\\"}),
            "select U.url, D.titre, D.texte from Url U straight_join Document D where U.url in "
            "('http://a/','http://b/x\\'y\\\\') and D.idUrl=U.idUrl;");
}

TEST(ResultViewParts, StoredDocumentsExpandTheirTextsAndFallBack) {
  const std::map<std::string, StoredDocument> documents =
      storedDocuments({{"http://a/", "Titre", compressStoredText("Un texte sur le Miel.")},
                       {"http://b/", "", "not a stored text"}});
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(documents.at("http://a/").displayText, "Un texte sur le Miel.");
  EXPECT_EQ(documents.at("http://b/").displayText, "");

  const ShownResult withText = shownResult("http://a/", &documents.at("http://a/"), {"miel"});
  EXPECT_EQ(withText.title, "Titre");
  EXPECT_EQ(withText.excerpt.text, "Un texte sur le Miel.");
  EXPECT_EQ(withText.excerpt.marks, (std::vector<ExcerptMark>{{16, 4}}));
  const ShownResult untitled = shownResult("http://b/", &documents.at("http://b/"), {"miel"});
  EXPECT_EQ(untitled.title, "http://b/");
  EXPECT_EQ(untitled.excerpt.text, "");
  EXPECT_EQ(shownResult("http://c/", nullptr, {"miel"}).title, "http://c/");
}

TEST(ResultViewParts, SuggestionListsAndTypedQueries) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {" abeille, abeilles, Abel\n\n", {"abeille", "abeilles", "Abel"}},
      {"", {}},
      {" ,, x ,\n", {"x"}},
  };
  for (const auto& [text, words] : cases)
    EXPECT_EQ(suggestionList(text), words) << "answer: " << text;
  EXPECT_EQ(typedQuery(splitKeywords("miel+-lavande+r%E9colte")),
            "miel r\xc3\xa9"
            "colte -lavande");
}

TEST(ResultViewParts, JsonReplyIsExactUtf8) {
  ResultList list;
  list.query.pageNumber = 2;
  list.query.spellCheck = true;
  list.words = splitKeywords("m%E9l+-x+m%E9l");
  list.suggestions = {" miel, m\xeal\xe9\n", " autre\n", ""};
  list.searched = true;
  list.total = 16;
  list.results.push_back({"http://a/\"", "T\xe9 \x01", {"le m\xe9l", {{3, 4}}}, {}});
  EXPECT_EQ(jsonReply(list),
            "Content-Type: application/json; charset=utf-8\n\n"
            "{\"query\":\"m\xc3\xa9l m\xc3\xa9l -x\",\"total\":16,\"page\":2,\"results\":["
            "{\"url\":\"http://a/\\\"\",\"title\":\"T\xc3\xa9 \\u0001\",\"excerpt\":{\"text\":"
            "\"le m\xc3\xa9l\",\"marks\":[{\"offset\":3,\"length\":4}]}}],"
            "\"suggestions\":{\"m\xc3\xa9l\":[\"miel\",\"m\xc3\xaal\xc3\xa9\"],\"x\":[]}}\n");
  list.searched = false;
  EXPECT_EQ(jsonReply(list).find("Status: 400 Bad Request\nContent-Type: application/json"), 0u);
}

TEST(ResultViewParts, ReadablePageEscapesAndKeepsTheViewInItsLinks) {
  ResultList list;
  list.query.keywordText = "a%22+b";
  list.query.pageNumber = 2;
  list.words = splitKeywords(list.query.keywordText);
  list.searched = true;
  list.total = 31;
  list.results.push_back({"http://a/<", "<T>", {"x \"a\" y", {{3, 1}}}, {}});
  const std::string page = readablePage(list, "http://s/cgi/html");
  for (const char* expected :
       {"value=\"a&quot; b\"", "<ol class=\"resultats\" start=\"16\">",
        "<li><a href=\"http://a/&lt;\">&lt;T&gt;</a><br>",
        "<span class=\"extrait\">x &quot;<b>a</b>&quot; y</span>",
        "<a href=\"http://s/cgi/html?keyword=a%22+b&amp;page=1\">Pr\xe9"
        "c\xe9"
        "dent</a>",
        "<a href=\"http://s/cgi/html?keyword=a%22+b&amp;page=3\">Suivant</a>"})
    EXPECT_NE(page.find(expected), std::string::npos) << expected << "\n" << page;
  EXPECT_EQ(page.find(" checked>"), std::string::npos);
  list.total = 30;
  list.query.spellCheck = true;
  const std::string last = readablePage(list, "b");
  EXPECT_EQ(last.find(">Suivant<"), std::string::npos);
  EXPECT_NE(last.find("value=\"Verifier l'ortographe\" checked>"), std::string::npos);

  // In English the page's own words change, and nothing else does.
  list.total = 31;
  const std::string english = readablePage(list, "b", PageLanguage::english);
  for (const char* expected :
       {"<html lang=\"en\">", ">Previous</a>", ">Next</a>", "<b>Pages found: 31</b>",
        "<b>Possible corrections for \"a&quot;\":</b>", "value=\"Verifier l'ortographe\" checked>"})
    EXPECT_NE(english.find(expected), std::string::npos) << expected << "\n" << english;
  EXPECT_EQ(english.find("Suivant"), std::string::npos);
}

TEST(ResultViewParts, PageLanguageComesFromItsSetting) {
  const struct {
    const char* setting;
    PageLanguage language;
  } cases[] = {{nullptr, PageLanguage::french},  {"", PageLanguage::french},
               {"fr", PageLanguage::french},     {"en", PageLanguage::english},
               {"EN-gb", PageLanguage::english}, {"eng", PageLanguage::french},
               {"e", PageLanguage::french},      {"de", PageLanguage::french}};
  for (const auto& c : cases)
    EXPECT_EQ(pageLanguageOf(c.setting), c.language) << (c.setting ? c.setting : "(unset)");
}

}  // namespace
