#include "searchcgi/search_request.h"

#include <cstdint>
#include <exception>
#include <optional>

#include "searchcgi/query_string.h"
#include "searchcgi/result_page.h"
#include "searchcgi/strategies.h"

namespace theme_search {

namespace {

void writeWordLines(const KeywordLists& words, bool spellCheck, std::ostream& page,
                    const CheckerCommand& checkerCommand) {
  for (const auto* list : {&words.searchWords, &words.excludedWords}) {
    for (const std::string& word : *list) {
      if (spellCheck) writeSpellingBlock(page, word, checkerCommand);
      writeLines(page, "<BR>\n");
    }
  }
}

// The URL of one row of a run; the empty URL for a row the run does not
// have. A run may hold more rows than a page shows.
std::string urlOfRow(const SearchRun& run, std::size_t row) {
  return run && row < run->size() ? (*run)[row] : std::string();
}

void logFailure(std::ostream& log, const char* what, const std::exception& error) {
  log << "searchcgi: " << what << ": " << error.what() << '\n' << std::flush;
}

}  // namespace

void writeResultBody(IndexConnection& index, const CgiRequest& request, std::ostream& page,
                     const CheckerCommand& checkerCommand) {
  const DecodedQuery query = decodeQuery(request.queryString);
  const std::string& linkKeyword = query.keywordText;
  const KeywordLists words = splitKeywords(query.keywordText);
  writeWordLines(words, query.spellCheck, page, checkerCommand);

  const SearchRun allRows = runSearch(index, words.searchWords, words.excludedWords, 0, 0);
  if (!allRows) writeLines(page, parameterErrorLine());
  index.execute(dropScratchTable);
  // The row count's low 32 bits, as a signed number.
  const auto totalResults = static_cast<std::int32_t>(allRows ? allRows->size() : 0);
  const std::int64_t pageNumber = query.pageNumber;
  const std::int64_t firstRow = (pageNumber - 1) * resultsPerPage;
  const std::int64_t endRow = pageNumber * resultsPerPage;
  const SearchRun pageRows =
      runSearch(index, words.searchWords, words.excludedWords, firstRow, endRow);
  if (!pageRows) writeLines(page, parameterErrorLine());

  std::string lines = countLine(totalResults) + "<CENTER>\n";
  for (std::size_t row = 0; row < std::size_t{resultsPerPage}; ++row)
    lines += entryLine(urlOfRow(pageRows, row));
  lines += "</CENTER>\n<BR><BR><BR>\n";
  const std::string nextLink = navigationLink(request.serverName, request.scriptName, linkKeyword,
                                              pageNumber + 1, query.spellCheck);
  const std::string previousLink = navigationLink(request.serverName, request.scriptName,
                                                  linkKeyword, pageNumber - 1, query.spellCheck);
  lines += navigationLines(pageNumber, endRow, totalResults, previousLink, nextLink);
  writeLines(page, lines + pageEnd());
}

void serveRequest(const ConnectionSettings& settings, const CgiRequest& request, std::ostream& page,
                  std::ostream& log, const CheckerCommand& checkerCommand) {
  std::optional<IndexConnection> index;
  try {
    index.emplace(settings);
    index->execute(dropScratchTable);
  } catch (const std::exception& error) {
    logFailure(log, "index unavailable", error);
    writeLines(page, unavailablePage());
    return;
  }

  writeLines(page, pageHead());
  try {
    writeResultBody(*index, request, page, checkerCommand);
  } catch (const std::exception& error) {
    logFailure(log, "search failed", error);
    writeLines(page, searchFailedEnd());
    return;
  }
  try {
    index->execute(dropScratchTable);
  } catch (const std::exception& error) {
    logFailure(log, "scratch table not dropped", error);
  }
}

}  // namespace theme_search
