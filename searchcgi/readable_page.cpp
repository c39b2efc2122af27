// The HTML view of a search.
#include "searchcgi/readable_page.h"

#include <string_view>

#include "searchcgi/excerpt_html.h"
#include "searchcgi/result_page.h"

namespace theme_search {

namespace {

// The page's own words in one language (Latin-1).
struct PageWords {
  const char* tag;  // the <html lang> value
  const char* pageTitle;
  const char* searchButton;
  const char* spellingBox;
  const char* suggestionsFor;  // before the word, in its quotes
  const char* suggestionsEnd;  // after the word
  const char* parameterError;
  const char* countLine;
  const char* previous;
  const char* next;
};

const PageWords kFrench = {"fr",
                           "Moteur de recherche",
                           "Rechercher",
                           "V\xe9rifier l'orthographe",
                           "Corrections possibles pour \xab\xa0",
                           "\xa0\xbb :",
                           "Erreur de param\xe8tres",
                           "Nombre de pages trouv\xe9"
                           "es : ",
                           "Pr\xe9"
                           "c\xe9"
                           "dent",
                           "Suivant"};
const PageWords kEnglish = {
    "en",  "Search engine",    "Search",        "Check the spelling", "Possible corrections for \"",
    "\":", "Wrong parameters", "Pages found: ", "Previous",           "Next"};

const PageWords& wordsIn(PageLanguage language) {
  return language == PageLanguage::english ? kEnglish : kFrench;
}

const char* const kStyle =
    "body { font-family: sans-serif; max-width: 48em; margin: 2em auto; padding: 0 1em; }\n"
    "input[type=text] { width: 24em; font-size: 1.1em; }\n"
    "ol.resultats li { margin-bottom: 1.2em; }\n"
    "ol.resultats a { font-size: 1.15em; }\n"
    ".url { color: #060; font-size: 0.9em; word-break: break-all; }\n"
    ".extrait { color: #333; }\n"
    ".navigation a { margin: 0 1em; }\n";

// The spelling suggestions of each word, as the plain page gives them, each
// under the word it is for.
std::string spellingLines(const ResultList& list, const PageWords& words) {
  if (!list.query.spellCheck) return std::string();
  const std::vector<std::string> all = allKeywords(list.words);
  std::string lines;
  for (std::size_t i = 0; i < all.size(); ++i) {
    std::string suggestion;
    for (const std::string& word :
         suggestionList(i < list.suggestions.size() ? list.suggestions[i] : ""))
      suggestion += (suggestion.empty() ? "" : ", ") + word;
    lines += std::string("<p class=\"orthographe\"><b>") + words.suggestionsFor +
             htmlTextOfUtf8(all[i]) + words.suggestionsEnd + "</b> " + htmlText(suggestion) +
             "</p>\n";
  }
  return lines;
}

std::string resultItem(const ShownResult& result) {
  const std::string url = htmlText(result.url);
  std::string item = "<li><a href=\"" + url + "\">" + htmlText(result.title) +
                     "</a><br>\n<span class=\"url\">" + url + "</span>";
  if (!result.excerpt.text.empty())
    item += "<br>\n<span class=\"extrait\">" + excerptHtml(result.excerpt) + "</span>";
  return item + "</li>\n";
}

std::string navigation(const ResultList& list, const std::string& base, const PageWords& words) {
  const std::int64_t pageNumber = list.query.pageNumber;
  const std::string& keyword = list.query.keywordText;
  const bool spell = list.query.spellCheck;
  // The navigation keeps the order that was chosen.
  const std::string order = list.order == ResultOrder::count ? "&order=count" : "";
  std::string lines = "<p class=\"navigation\">\n";
  if (pageNumber > 1)
    lines += "<a href=\"" + htmlText(navigationLink(base, keyword, pageNumber - 1, spell) + order) +
             "\">" + words.previous + "</a>\n";
  if (pageNumber * resultsPerPage < list.total)
    lines += "<a href=\"" + htmlText(navigationLink(base, keyword, pageNumber + 1, spell) + order) +
             "\">" + words.next + "</a>\n";
  return lines + "</p>\n";
}

}  // namespace

PageLanguage pageLanguageOf(const char* setting) {
  if (!setting) return PageLanguage::french;
  const std::string_view tag(setting);
  const bool english = tag.size() >= 2 && (tag[0] == 'e' || tag[0] == 'E') &&
                       (tag[1] == 'n' || tag[1] == 'N') && (tag.size() == 2 || tag[2] == '-');
  return english ? PageLanguage::english : PageLanguage::french;
}

std::string readablePageHead(const std::string& base, const std::string& query, bool spellCheck,
                             PageLanguage language) {
  const PageWords& words = wordsIn(language);
  return std::string("Content-Type: text/html; charset=iso-8859-1\n\n") +
         "<!DOCTYPE html>\n<html lang=\"" + words.tag +
         "\">\n<head>\n<meta charset=\"iso-8859-1\">\n<title>" + words.pageTitle +
         "</title>\n<style>\n" + kStyle +
         "</style>\n</head>\n<body>\n<form method=\"get\" action=\"" + htmlText(base) +
         "\" accept-charset=\"ISO-8859-1\">\n<p>\n"
         "<input type=\"text\" name=\"keyword\" size=\"40\" value=\"" +
         htmlTextOfUtf8(query) +
         "\">\n<input type=\"hidden\" name=\"page\" value=\"1\">\n"
         "<input type=\"submit\" value=\"" +
         words.searchButton +
         "\">\n"
         "<label><input type=\"checkbox\" name=\"verif\" value=\"Verifier l'ortographe\"" +
         (spellCheck ? " checked" : "") + "> " + words.spellingBox + "</label>\n</p>\n</form>\n";
}

std::string readablePage(const ResultList& list, const std::string& base, PageLanguage language) {
  const PageWords& words = wordsIn(language);
  std::string page =
      readablePageHead(base, typedQuery(list.words), list.query.spellCheck, language) +
      spellingLines(list, words);
  if (!list.searched) page += std::string("<p>") + words.parameterError + "</p>\n";
  page += std::string("<p class=\"compte\"><b>") + words.countLine + std::to_string(list.total) +
          "</b></p>\n";
  if (!list.results.empty()) {
    const std::int64_t first = (std::int64_t{list.query.pageNumber} - 1) * resultsPerPage + 1;
    page += "<ol class=\"resultats\" start=\"" + std::to_string(first) + "\">\n";
    for (const ShownResult& result : list.results) page += resultItem(result);
    page += "</ol>\n";
  }
  return page + navigation(list, base, words) + "</body>\n</html>\n";
}

std::string readableErrorPage(const std::string& status, const std::string& base,
                              const std::string& message, PageLanguage language) {
  return "Status: " + status + "\n" + readablePageHead(base, "", false, language) + "<p>" +
         htmlText(message) + "</p>\n</body>\n</html>\n";
}

}  // namespace theme_search
