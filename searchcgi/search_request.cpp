#include "search_request.h"

#include <cstdint>
#include <exception>
#include <optional>

#include "query_string.h"
#include "result_page.h"
#include "strategies.h"

namespace {

void writeWordLines(const KeywordLists& words, bool spellCheck, std::ostream& page,
                    const std::string& checkerCommand) {
  for (const auto* list : {&words.searchWords, &words.excludedWords}) {
    for (const std::string& word : *list) {
      if (spellCheck) writeSpellingBlock(page, word, checkerCommand);
      writeLines(page, "<BR>\n");
    }
  }
}

void logFailure(std::ostream& log, const char* what, const std::exception& error) {
  log << "searchcgi: " << what << ": " << error.what() << '\n' << std::flush;
}

}  // namespace

void writeResultBody(IndexConnection& index, const CgiRequest& request, std::ostream& page,
                     const std::string& checkerCommand) {
  const DecodedQuery query = decodeQuery(request.queryString);
  const std::string& linkKeyword = query.keywordText;
  const KeywordLists words = splitKeywords(query.keywordText);
  writeWordLines(words, query.spellCheck, page, checkerCommand);

  runSearch(index, words.searchWords, words.excludedWords, 0, 0, page);
  index.executeStatement(dropScratchTable);
  // The row count's low 32 bits, as a signed number.
  const auto totalResults = static_cast<std::int32_t>(index.resultCount());
  const std::int64_t pageNumber = query.pageNumber;
  const std::int64_t firstRow = (pageNumber - 1) * resultsPerPage;
  const std::int64_t endRow = pageNumber * resultsPerPage;
  runSearch(index, words.searchWords, words.excludedWords, firstRow, endRow, page);

  std::string lines = countLine(totalResults) + "<CENTER>\n";
  for (int i = 0; i < resultsPerPage; ++i) lines += entryLine(index.nextUrl());
  lines += "</CENTER>\n<BR><BR><BR>\n";
  const std::string nextLink = navigationLink(request.serverName, request.scriptName, linkKeyword,
                                              pageNumber + 1, query.spellCheck);
  const std::string previousLink = navigationLink(request.serverName, request.scriptName,
                                                  linkKeyword, pageNumber - 1, query.spellCheck);
  lines += navigationLines(pageNumber, endRow, totalResults, previousLink, nextLink);
  writeLines(page, lines + pageEnd());
}

void serveRequest(const ConnectionSettings& settings, const CgiRequest& request, std::ostream& page,
                  std::ostream& log, const std::string& checkerCommand) {
  std::optional<IndexConnection> index;
  try {
    index.emplace(settings);
    index->executeStatement(dropScratchTable);
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
    index->executeStatement(dropScratchTable);
  } catch (const std::exception& error) {
    logFailure(log, "scratch table not dropped", error);
  }
}
