#include "searchcgi/search_request.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

#include "searchcgi/json_view.h"
#include "searchcgi/query_string.h"
#include "searchcgi/readable_page.h"
#include "searchcgi/result_page.h"
#include "searchcgi/strategies.h"

namespace theme_search {

namespace {

// The word lines: one "<BR>" per word, positive words first, each after its
// spelling block when suggestions are asked for (one checker run for all).
std::string wordLines(const KeywordLists& words, bool spellCheck,
                      const CheckerCommand& checkerCommand) {
  const std::vector<std::string> all = allKeywords(words);
  std::vector<std::string> suggestions;
  if (spellCheck) suggestions = spellSuggestions(all, checkerCommand);
  std::string lines;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (spellCheck) lines += spellingBlock(suggestions[i]);
    lines += "<BR>\n";
  }
  return lines;
}

void logFailure(std::ostream& log, const char* what, const std::exception& error) {
  log << "searchcgi: " << what << ": " << error.what() << '\n' << std::flush;
}

}  // namespace

CgiRequest cgiRequest(const std::function<const char*(const char*)>& variable) {
  const auto text = [&](const char* name) {
    const char* value = variable(name);
    return std::string(value ? value : "");
  };
  CgiRequest request;
  request.queryString = text("QUERY_STRING");
  request.serverName = text("SERVER_NAME");
  request.scriptName = text("SCRIPT_NAME");
  if (const char* port = variable("SERVER_PORT")) request.serverPort = port;
  const char* https = variable("HTTPS");
  request.https = https && *https && std::strcmp(https, "off") != 0;
  request.pathInfo = text("PATH_INFO");
  return request;
}

ResultView resultViewOf(const std::string& pathInfo) {
  if (pathInfo == kReadableViewPath) return ResultView::readable;
  if (pathInfo == kJsonViewPath) return ResultView::json;
  return ResultView::plain;
}

IndexSession::IndexSession(ConnectionSettings settings, IndexFigures::Scope figures,
                           RankingWeights weights)
    : settings(std::move(settings)), indexFigures(figures), weights(weights) {}

IndexConnection& IndexSession::connection() {
  if (open && !open->answers()) open.reset();
  if (!open) open.emplace(settings);
  return *open;
}

void IndexSession::close() {
  open.reset();
}

void writeResultBody(IndexConnection& index, const CgiRequest& request, std::ostream& page,
                     const CheckerCommand& checkerCommand) {
  const DecodedQuery query = decodeQuery(request.queryString);
  const std::string& linkKeyword = query.keywordText;
  const KeywordLists words = splitKeywords(query.keywordText);
  writeLines(page, wordLines(words, query.spellCheck, checkerCommand));

  const std::int64_t pageNumber = query.pageNumber;
  const std::int64_t firstRow = (pageNumber - 1) * resultsPerPage;
  const std::int64_t endRow = pageNumber * resultsPerPage;
  const std::optional<SearchResult> found =
      runSearch(index, words.searchTerms, words.excludedTerms, firstRow, resultsPerPage);
  std::string lines = found ? std::string() : parameterErrorLine();
  // The count's low 32 bits, as a signed number.
  const auto totalResults = static_cast<std::int32_t>(found ? found->total : 0);

  lines += countLine(totalResults) + "<CENTER>\n";
  for (std::size_t row = 0; row < std::size_t{resultsPerPage}; ++row)
    lines += entryLine(found && row < found->urls.size() ? found->urls[row] : std::string());
  lines += "</CENTER>\n<BR><BR><BR>\n";
  const std::string base =
      linkBase(request.https, request.serverName, request.serverPort, request.scriptName);
  const std::string nextLink = navigationLink(base, linkKeyword, pageNumber + 1, query.spellCheck);
  const std::string previousLink =
      navigationLink(base, linkKeyword, pageNumber - 1, query.spellCheck);
  lines += navigationLines(pageNumber, endRow, totalResults, previousLink, nextLink);
  writeLines(page, lines + pageEnd());
}

namespace {

const char* const kUnavailable = "L'index de recherche est indisponible pour le moment.";
const char* const kSearchFailed =
    "La recherche a \xe9"
    "chou\xe9.";

// Where the HTML view is served: its navigation links and form lead there.
std::string readableBase(const CgiRequest& request) {
  return linkBase(request.https, request.serverName, request.serverPort, request.scriptName) +
         kReadableViewPath;
}

// The language of the readable view's own words: SE_LANGUAGE of the
// process ("fr" by default, "en"), read at each request.
PageLanguage readableLanguage() {
  return pageLanguageOf(std::getenv("SE_LANGUAGE"));
}

// The reply of a request that could not be answered, in its view.
std::string failureReply(ResultView view, const CgiRequest& request, bool unavailable) {
  const char* const message = unavailable ? kUnavailable : kSearchFailed;
  const char* const status = unavailable ? "503 Service Unavailable" : "500 Internal Server Error";
  switch (view) {
    case ResultView::readable:
      return readableErrorPage(status, readableBase(request), message, readableLanguage());
    case ResultView::json:
      return jsonErrorReply(unavailable ? 503 : 500, std::string(status).substr(4), message);
    case ResultView::plain:
      break;
  }
  // The plain page has its head written before the search.
  return unavailable ? unavailablePage() : searchFailedEnd();
}

}  // namespace

void serveRequest(IndexSession& session, const CgiRequest& request, std::ostream& page,
                  std::ostream& log, const CheckerCommand& checkerCommand) {
  const ResultView view = resultViewOf(request.pathInfo);
  IndexConnection* index = nullptr;
  try {
    index = &session.connection();
  } catch (const std::exception& error) {
    logFailure(log, "index unavailable", error);
    writeLines(page, failureReply(view, request, true));
    return;
  }

  try {
    switch (view) {
      case ResultView::plain:
        writeLines(page, pageHead());
        writeResultBody(*index, request, page, checkerCommand);
        break;
      case ResultView::readable:
        // Nothing is written before the search is done, so a failure can
        // still answer with its status.
        writeLines(page,
                   readablePage(searchResultList(*index, session.figures(), request.queryString,
                                                 checkerCommand, session.rankingWeights()),
                                readableBase(request), readableLanguage()));
        break;
      case ResultView::json:
        writeLines(page, jsonReply(searchResultList(*index, session.figures(), request.queryString,
                                                    checkerCommand, session.rankingWeights())));
        break;
    }
  } catch (const std::exception& error) {
    logFailure(log, "search failed", error);
    writeLines(page, failureReply(view, request, false));
    session.close();
  }
}

}  // namespace theme_search
