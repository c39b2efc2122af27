#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace theme_search {

// The texts of the result page, built as plain Latin-1 text with line feeds.
// Every URL from the index and every text from the query goes through
// htmlEscape, so none can become markup.

// Entries printed per page, and the step between pages.
constexpr int resultsPerPage = 15;

// The CGI header and the page head.
[[nodiscard]] std::string pageHead();

// "<B>Nombre de pages trouvées : N</B><BR><BR><BR>" and a line feed.
[[nodiscard]] std::string countLine(std::int32_t totalResults);

// "Erreur de paramètres<BR>" and a line feed: the line a search run without
// any search word puts on the page.
[[nodiscard]] std::string parameterErrorLine();

// One result entry; the URL is both the link target and its text. An empty
// URL gives an entry with nothing between the markup.
[[nodiscard]] std::string entryLine(const std::string& url);

// Where the request reached this program, as the start of its navigation
// links: "https://" when https is set, else "http://", the server name, the
// port unless it is the scheme's default (80, 443), then the script name.
// Without a port (nullopt) the link says ":8080", where the search is served
// by default.
[[nodiscard]] std::string linkBase(bool https, const std::string& serverName,
                                   const std::optional<std::string>& serverPort,
                                   const std::string& scriptName);

// The URL that asks this program for another page of the same search: the
// keyword text exactly as it arrived, and the spelling parameter when
// spelling suggestions are on. Not escaped: navigationLines does that.
[[nodiscard]] std::string navigationLink(const std::string& base, const std::string& linkKeyword,
                                         std::int64_t pageNumber, bool spellCheck);

// The centred navigation: "Previous" when pageNumber > 1, the spacer line,
// "Next" when endRow < totalResults.
[[nodiscard]] std::string navigationLines(std::int64_t pageNumber, std::int64_t endRow,
                                          std::int32_t totalResults,
                                          const std::string& previousLink,
                                          const std::string& nextLink);

// The end of a page: "</BODY></HTML>" and two line feeds.
[[nodiscard]] std::string pageEnd();

// The whole reply when the index cannot be reached: a 503 status, the
// header and a short page.
[[nodiscard]] std::string unavailablePage();

// The line that ends a page cut short by a failed search, with pageEnd.
[[nodiscard]] std::string searchFailedEnd();

// Writes text, flushing the stream at every line end.
void writeLines(std::ostream& page, const std::string& text);

}  // namespace theme_search
