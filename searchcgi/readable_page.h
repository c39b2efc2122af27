#pragma once

#include <string>

#include "searchcgi/result_list.h"

namespace theme_search {

// The HTML view of a search (PATH_INFO "/html"): a Latin-1 page for
// readers with, for each result, its title as the link, its URL and an
// excerpt with the query's words in <b>; the count, the navigation and the
// spelling suggestions as on the plain page; a search form holding the
// query. Everything that comes from the index or the query is escaped
// (htmlText, htmlTextOfUtf8). Pure.

// The path after the program's name that chooses this view.
inline constexpr const char* kReadableViewPath = "/html";

// The language of the page's own words (labels, buttons, the count line).
enum class PageLanguage { french, english };

// The language a setting names (SE_LANGUAGE, read by the caller): English
// for "en" or an English tag ("en-GB"), in any letter case; French for
// anything else, a missing setting (nullptr) included.
[[nodiscard]] PageLanguage pageLanguageOf(const char* setting);

// The whole reply: the CGI header and the page. base is where the request
// reached the view (linkBase with the script name and kReadableViewPath):
// the navigation links and the form lead back to it. The page's words are
// in `language`: the links read "Suivant" and "Précédent" (Latin-1) in
// French, "Next" and "Previous" in English.
[[nodiscard]] std::string readablePage(const ResultList& list, const std::string& base,
                                       PageLanguage language = PageLanguage::french);

// The reply's CGI header and the page's head with the search form: the
// query (UTF-8, typedQuery) in its text field, the spelling box ticked when spellCheck is set.
[[nodiscard]] std::string readablePageHead(const std::string& base, const std::string& query,
                                           bool spellCheck,
                                           PageLanguage language = PageLanguage::french);

// The whole reply of a request that could not be answered: the "Status:"
// header (for example "503 Service Unavailable"), the page head with an
// empty form and the message (Latin-1, escaped here).
[[nodiscard]] std::string readableErrorPage(const std::string& status, const std::string& base,
                                            const std::string& message,
                                            PageLanguage language = PageLanguage::french);

}  // namespace theme_search
